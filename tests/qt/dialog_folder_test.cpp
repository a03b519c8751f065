// The file dialogs start in the last folder chosen, or the documents folder.
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

#include "qt/dialog_folder.h"
#include "support/test_folder.h"

class DialogFolderTest : public QObject {
    Q_OBJECT
  private slots:
    void lastChosenFolderElseDocuments() {
        common::MemoryProfile profile;
        qt_adapters::DialogFolder folder(profile);
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(folder.start(), documents);
        QCOMPARE(folder.suggest(QStringLiteral("my")), QDir(documents).filePath("my"));

        testing_support::TestFolder chosen("dialog_folder_test");
        const QString where =
            QString::fromStdString(chosen.path().string()) + QStringLiteral("/用户");
        QVERIFY(QDir().mkpath(where));
        folder.remember(where + QStringLiteral("/用户.ufcs_stream"));
        QCOMPARE(profile.readString("Files", "LastFolder", ""), where.toStdString());
        QCOMPARE(qt_adapters::DialogFolder(profile).start(), where);
        folder.remember(QString());  // a cancelled dialog changes nothing
        QCOMPARE(folder.start(), where);

        profile.writeString("Files", "LastFolder", (where + "/gone").toStdString());
        QCOMPARE(folder.start(), documents);  // a folder since removed
    }

    // An account without a documents folder gets one, rather than a dialog in the
    // program's own folder.
    void aMissingDocumentsFolderIsMade() {
        testing_support::TestFolder home("dialog_folder_home");
        const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QByteArray::fromStdString(home.path().string()));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home.path() / "config").string()));
        common::MemoryProfile profile;
        const QString start = qt_adapters::DialogFolder(profile).start();
        qputenv("HOME", oldHome);
        qputenv("XDG_CONFIG_HOME", oldConfig);
        QVERIFY2(start.startsWith(QString::fromStdString(home.path().string())), qPrintable(start));
        QVERIFY(QFileInfo(start).isDir());
        QVERIFY(start != QString::fromStdString(home.path().string()));
    }
};

QTEST_MAIN(DialogFolderTest)
#include "dialog_folder_test.moc"
