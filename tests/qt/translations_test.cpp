// Qt's own dialog texts come out in Chinese once the translations are installed.
#include <QCoreApplication>
#include <QTest>

#include "qt/translations.h"

class TranslationsTest : public QObject {
    Q_OBJECT
  private slots:
    void standardButtonsAndFileDialogAreChinese() {
        QVERIFY(qt_adapters::installChineseTranslations(*QCoreApplication::instance()));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
        QVERIFY(QCoreApplication::translate("QFileDialog", "File &name:") !=
                QStringLiteral("File &name:"));
    }
};

QTEST_MAIN(TranslationsTest)
#include "translations_test.moc"
