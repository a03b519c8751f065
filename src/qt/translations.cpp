#include "qt/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <clocale>

namespace qt_adapters {

bool installChineseTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    for (const QString& folder :
         {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
          QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
        if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
            return true;
        }
    }
    delete translator;
    return false;
}

void keepNumbersInTheCLocale() {
    // Qt took the user's locale at start: numbers in texts, files and queries stay as "10.5".
    std::setlocale(LC_NUMERIC, "C");
}

}  // namespace qt_adapters
