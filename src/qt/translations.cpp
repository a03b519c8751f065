#include "qt/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

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

}  // namespace qt_adapters
