// The analyzer's "升级" dialog against the simulated instrument and a real
// HTTP server on the loopback interface, opened from the main window.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <filesystem>
#include <memory>

#include "analyzer/ui/main_window.h"
#include "instrument/firmware_frames.h"
#include "net/local_http_server.h"
#include "qt/upgrade/program_update.h"
#include "simulator/simulated_device.h"
#include "support/quick_clock.h"
#include "support/signed_release.h"
#include "support/test_folder.h"

namespace {

using analyzer::ui::MainWindow;
using analyzer::ui::UpgradeDialog;

using testing_support::QuickClock;

net::Route route(QByteArray body) {
    net::Route r;
    r.body = std::move(body);
    return r;
}

QByteArray programReply(int code, const QString& url) {
    return "{\"id\":0,\"apkname\":\"ufcs_analyse_protocol_app\",\"apkvercode\":" +
           QByteArray::number(code) + ",\"upgradeFlag\":1,\"apkUrl\":\"" + url.toUtf8() + "\"}";
}

QByteArray firmwareReply(int flag, const QString& url, int checksum,
                         const QByteArray& vercode = "2.7", const std::string& extra = {}) {
    return "{\"upgrade\":" + QByteArray::number(flag) +
           ",\"upgradeInfo\":{\"mtypecode\":11,\"vercode\":" + vercode + ",\"fwUrl\":\"" +
           url.toUtf8() + "\",\"checksum\":" + QByteArray::number(checksum) +
           QByteArray::fromStdString(extra) + "}}";
}

// Answers the next modal message box once it shows, after `look` has seen it.
void answerNextMessageBox(std::function<void(QMessageBox&)> look) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, look = std::move(look)] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        poll->stop();
        poll->deleteLater();
        look(*box);
    });
    poll->start(10);
}

}  // namespace

class UpgradeDialogTest : public QObject {
    Q_OBJECT

  private:
    net::LocalHttpServer server_;
    std::shared_ptr<simulator::Instrument> instrument_;
    std::unique_ptr<simulator::SimulatedDevice> device_;
    std::unique_ptr<ufcs::CaptureStore> store_ = ufcs::CaptureStore::create();
    common::MemoryProfile profile_;
    QuickClock clock_;
    std::unique_ptr<testing_support::TestFolder> folder_;
    std::unique_ptr<MainWindow> window_;
    QStringList messages_;
    // 57 pages: the last one carries 32 file bytes.
    QByteArray firmware_ = "SIMFW\x02\x07" + QByteArray(56 * 56 + 25, 'f');
    // The servers the user was asked about an unsigned download from, and the answer.
    QStringList unsignedAsked_;
    bool unsignedAnswer_ = true;
    testing_support::Ed25519Signer signer_;

    std::span<const uint8_t> firmwareBytes() const {
        return {reinterpret_cast<const uint8_t*>(firmware_.data()), std::size_t(firmware_.size())};
    }
    std::string signedFirmware(const std::string& version) const {
        return testing_support::signedReleaseFields(
            signer_, std::string(upgrade::kFirmwareReleaseName), version, firmwareBytes());
    }

    int checksum() const {
        return int(instrument::firmwareByteSum({reinterpret_cast<const uint8_t*>(firmware_.data()),
                                                std::size_t(firmware_.size())}) %
                   256);
    }
    QString programDir() const { return QString::fromStdString(folder_->path().string()); }

    // Opens 升级 from the main window and hands the dialog, its checks done, to `drive`.
    // Without a key, unsigned downloads are answered with unsignedAnswer_
    // unless `realQuestion`, when the dialog's own message box asks.
    void openDialog(const std::function<void(UpgradeDialog&)>& drive, bool realQuestion = false) {
        bool ran = false;
        window_->askers().runUpgradeDialog = [&](UpgradeDialog& dialog) {
            ran = true;
            if (!realQuestion)
                dialog.setUnsignedConsent([this](const std::string& server) {
                    unsignedAsked_ << QString::fromStdString(server);
                    return unsignedAnswer_;
                });
            dialog.show();
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.checking(), 10000);
            drive(dialog);
        };
        window_->button("版本升级")->click();
        QVERIFY(ran);
    }

  private slots:
    void initTestCase() {
        // Run again by ctest as a German user: the locale must have taken.
        if (qEnvironmentVariableIsSet("UFCS_COMMA_LOCALE") &&
            std::localeconv()->decimal_point[0] != ',')
            QSKIP("no locale with a decimal comma here (scripts/deps makes de_DE.UTF-8)");
        QVERIFY(server_.listen());
        server_.setRoute("/fw.bin", route(firmware_));
    }

    void init() {
        simulator::InstrumentSettings settings;
        settings.recordsPerSecond = 0;
        settings.faultRate = 0;
        instrument_ = std::make_shared<simulator::Instrument>(settings);
        folder_ = std::make_unique<testing_support::TestFolder>("upgrade_dialog_test");
        device_ = std::make_unique<simulator::SimulatedDevice>(instrument_,
                                                               folder_->file("instrument.lock"));
        profile_ = common::MemoryProfile();
        profile_.writeString("Upgrade", "Server", server_.baseUrl().toStdString());
        messages_.clear();
        unsignedAsked_.clear();
        unsignedAnswer_ = true;
        window_ = std::make_unique<MainWindow>(*device_, *store_, profile_, clock_, programDir(),
                                               analyzer::ui::Layout::Normal);
        window_->askers().message = [this](const QString& text) { messages_ << text; };
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanup() {
        window_.reset();
        device_.reset();
        folder_.reset();
    }

    // Signed, with the key set: nobody is asked about trusting it.
    void showsBothVersionsAndFlashesTheFirmware() {
        profile_.writeString("Upgrade", "PublicKey", signer_.publicKey());
        server_.setRoute("/vezu_android_apks/kvdapk", route(programReply(100, "")));
        server_.setRoute("/kvd/module_upgrade2",
                         route(firmwareReply(1, server_.baseUrl() + "/fw.bin", checksum(), "2.7",
                                             signedFirmware("2.7"))));
        openDialog([&](UpgradeDialog& dialog) {
            QCOMPARE(dialog.programLatest()->text(), QStringLiteral("已是最新版本"));
            QVERIFY(!dialog.programButton()->isVisible());
            QCOMPARE(dialog.firmwareCurrent()->text(), QStringLiteral("当前软件版本：1.5"));
            const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
            QVERIFY(std::any_of(labels.begin(), labels.end(), [](const QLabel* label) {
                return label->text() == QStringLiteral("当前版本：1.00 ");
            }));
            QVERIFY(dialog.hardwareLabel()->isVisible());
            QCOMPARE(dialog.firmwareLatest()->text(), QStringLiteral("最新软件版本：2.7"));
            QVERIFY(dialog.firmwareButton()->isVisible());
            dialog.firmwareButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(dialog.transferring(), 5000);
            QVERIFY(!dialog.firmwareButton()->isEnabled());
            // Once the header is sent (before it, closing cancels), closing
            // during the transfer waits for its end, then closes.
            QTRY_VERIFY_WITH_TIMEOUT(dialog.firmwareProgress()->value() > 0, 10000);
            dialog.close();
            QVERIFY(dialog.isVisible());
            QTRY_COMPARE_WITH_TIMEOUT(dialog.firmwareStatus()->text(), QStringLiteral("升级成功!"),
                                      20000);
            QCOMPARE(dialog.firmwareProgress()->maximum(), 57);
            QCOMPARE(dialog.firmwareProgress()->value(), 57);
            QVERIFY(!dialog.firmwareCurrent()->isVisible());
            QTRY_VERIFY(!dialog.isVisible());
        });
        QCOMPARE(instrument_->firmwareVersion(), 0x0207);
        QVERIFY(unsignedAsked_.isEmpty());
        // The instrument is released, so 开始监听 connects afresh.
        QVERIFY(!device_->isOpen());
    }

    // The instrument runs 1.5. Rows: the version offered, the checksum's offset,
    // the version the statement signs ("": unsigned, no key), the status shown.
    void refusesFirmwareItCannotTrust_data() {
        QTest::addColumn<QByteArray>("vercode");
        QTest::addColumn<int>("checksumOffset");
        QTest::addColumn<QString>("signedAs");
        QTest::addColumn<QString>("status");
        QTest::newRow("wrong checksum") << QByteArray("2.7") << 1 << ""
                                        << "升级文件校验码不对！";
        QTest::newRow("the instrument's own version")
            << QByteArray("1.5") << 0 << ""
            << "提供的固件版本 1.5 不比仪器上的 1.5 新，已拒绝";
        QTest::newRow("an old signed image announced as 9.9")
            << QByteArray("9.9") << 0 << "2.7"
            << "签名声明的版本是 2.7，服务器却说是 9.9，已拒绝";
    }
    void refusesFirmwareItCannotTrust() {
        QFETCH(QByteArray, vercode);
        QFETCH(int, checksumOffset);
        QFETCH(QString, signedAs);
        QFETCH(QString, status);
        std::string extra;
        if (!signedAs.isEmpty()) {
            profile_.writeString("Upgrade", "PublicKey", signer_.publicKey());
            extra = signedFirmware(signedAs.toStdString());
        }
        server_.setRoute("/vezu_android_apks/kvdapk", route(programReply(100, "")));
        server_.setRoute("/kvd/module_upgrade2",
                         route(firmwareReply(1, server_.baseUrl() + "/fw.bin",
                                             checksum() + checksumOffset, vercode, extra)));
        openDialog([&](UpgradeDialog& dialog) {
            dialog.firmwareButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(dialog.firmwareStatus()->text(), status, 5000);
            QVERIFY(!dialog.transferring());
            dialog.close();
        });
        QCOMPARE(instrument_->firmwareVersion(), 0x0105);
    }

    // Without a key the user is asked first; No (the default) downloads nothing.
    void unsignedFirmwareWaitsForTheUsersYes() {
        server_.setRoute("/vezu_android_apks/kvdapk", route(programReply(100, "")));
        server_.setRoute("/kvd/module_upgrade2",
                         route(firmwareReply(1, server_.baseUrl() + "/unsigned.bin", checksum())));
        server_.setRoute("/unsigned.bin", route(firmware_));
        unsignedAnswer_ = false;
        openDialog([&](UpgradeDialog& dialog) {
            dialog.firmwareButton()->click();
            QCOMPARE(unsignedAsked_, QStringList{server_.baseUrl()});
            QVERIFY(dialog.firmwareButton()->isEnabled());
            unsignedAnswer_ = true;
            dialog.firmwareButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(dialog.firmwareStatus()->text(), QStringLiteral("升级成功!"),
                                      20000);
            QTRY_VERIFY(!dialog.transferring());
            dialog.close();
        });
        QCOMPARE(server_.requests().filter("GET /unsigned.bin").size(), 1);
        QCOMPARE(instrument_->firmwareVersion(), 0x0207);
    }

    // A download that fails sends nothing to the instrument: 升级 may be pressed again.
    void aFailedFirmwareDownloadCanBeTriedAgain() {
        server_.setRoute("/vezu_android_apks/kvdapk", route(programReply(100, "")));
        server_.setRoute("/kvd/module_upgrade2",
                         route(firmwareReply(1, server_.baseUrl() + "/missing.bin", checksum())));
        openDialog([&](UpgradeDialog& dialog) {
            dialog.firmwareButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(
                dialog.firmwareStatus()->text().startsWith(QStringLiteral("下载文档出错！")), 5000);
            QVERIFY(dialog.firmwareButton()->isEnabled());
            QVERIFY(!dialog.transferring());
            server_.setRoute("/missing.bin", route(firmware_));
            dialog.firmwareButton()->click();
            QTRY_COMPARE_WITH_TIMEOUT(dialog.firmwareStatus()->text(), QStringLiteral("升级成功!"),
                                      20000);
            QTRY_VERIFY(!dialog.transferring());
            dialog.close();
        });
        QCOMPARE(instrument_->firmwareVersion(), 0x0207);
    }

    void withoutAServerBothChecksFail() {
        profile_.writeString("Upgrade", "Server", "");
        openDialog([&](UpgradeDialog& dialog) {
            QCOMPARE(dialog.programLatest()->text(), QStringLiteral("最新版本：无法获取联网信息"));
            QCOMPARE(dialog.firmwareLatest()->text(),
                     QStringLiteral("最新软件版本：无法获取联网信息"));
            QVERIFY(!dialog.firmwareButton()->isVisible());
            dialog.close();
        });
    }

    void downloadsTheProgramAndHandsOverToTheUpdater() {
        const QByteArray program = QByteArray("#!/bin/sh\nexit 0\n").repeated(300);
        server_.setRoute("/color", route(program));
        server_.setRoute("/vezu_android_apks/kvdapk",
                         route(programReply(105, server_.baseUrl() + "/color")));
        server_.setRoute("/kvd/module_upgrade2", route(firmwareReply(0, "", 0)));
        // A stand-in updater: found beside the program, started by the hook below.
        QFile updater(programDir() + "/updater");
        QVERIFY(updater.open(QIODevice::WriteOnly));
        updater.write("#!/bin/sh\n");
        updater.close();
        updater.setPermissions(updater.permissions() | QFile::ExeOwner);
        QStringList started;
        openDialog([&](UpgradeDialog& dialog) {
            QCOMPARE(dialog.programLatest()->text(), QStringLiteral("最新版本：1.05"));
            QCOMPARE(dialog.firmwareLatest()->text(), QStringLiteral("已是最新版!"));
            dialog.programUpdate().setUpdaterStarter(
                [&](const QString& path, const QStringList& arguments, const QString& folder) {
                    started << QFileInfo(path).fileName() << arguments << folder;
                    return true;
                });
            dialog.programButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 10000);
        });
        QCOMPARE(started, (QStringList{"updater", "k512 protocol", programDir()}));
        QCOMPARE(unsignedAsked_, QStringList{server_.baseUrl()});
        QFile downloaded(programDir() + "/k512.exe");
        QVERIFY(downloaded.open(QIODevice::ReadOnly));
        QCOMPARE(downloaded.readAll(), program);
        QTRY_VERIFY(!window_->isVisible());
        QVERIFY(messages_.isEmpty());
    }

    // A program in a folder it cannot write (an installed package) is told so when 升级 is
    // clicked, before any question or download.
    void aProgramThatCannotBeReplacedSaysSoFirst() {
        server_.setRoute("/color-packaged", route("#!/bin/sh\n"));
        server_.setRoute("/vezu_android_apks/kvdapk",
                         route(programReply(105, server_.baseUrl() + "/color-packaged")));
        QLabel latest;
        QPushButton upgrade;
        const QString installed = programDir() + "/not-a-folder";
        QFile(installed).open(QIODevice::WriteOnly);  // a file where the folder should be
        upgrade::UpgradeSettings settings;
        settings.server = server_.baseUrl().toStdString();
        qt_adapters::ProgramUpdate update(upgrade::UpgradedProgram::Analyzer, settings, installed,
                                          {&latest, &upgrade, nullptr, nullptr});
        QStringList told;
        connect(&update, &qt_adapters::ProgramUpdate::message, this,
                [&](const QString& text) { told << text; });
        bool asked = false;
        update.setUnsignedConsent([&](const std::string&) { return asked = true; });
        update.check();
        QTRY_VERIFY(update.offer().newer);
        upgrade.click();
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].contains(QStringLiteral("软件包")));
        QVERIFY(!asked);
        QVERIFY(!update.busy());
        QVERIFY(server_.requests().filter("GET /color-packaged").isEmpty());
    }

    // The real question: it names the server, says why, and its default is No.
    void theUnsignedQuestionDefaultsToNo() {
        server_.setRoute("/color-unsigned", route("#!/bin/sh\n"));
        server_.setRoute("/vezu_android_apks/kvdapk",
                         route(programReply(105, server_.baseUrl() + "/color-unsigned")));
        server_.setRoute("/kvd/module_upgrade2", route(firmwareReply(0, "", 0)));
        QString asked;
        openDialog(
            [&](UpgradeDialog& dialog) {
                answerNextMessageBox([&](QMessageBox& box) {
                    asked = box.text();
                    QCOMPARE(box.defaultButton(), box.button(QMessageBox::No));
                    QTest::keyClick(&box, Qt::Key_Return);
                });
                dialog.programButton()->click();
                QVERIFY(asked.contains(server_.baseUrl()));
                QVERIFY(asked.contains(QStringLiteral("没有设置升级公钥")));
                QVERIFY(dialog.programButton()->isEnabled());
                dialog.close();
            },
            true);
        QVERIFY(server_.requests().filter("GET /color-unsigned").isEmpty());
        QVERIFY(!QFile::exists(programDir() + "/k512.exe"));
        QVERIFY(window_->isVisible());
    }

    void screenshot() {
        const QByteArray folder = qgetenv("UFCS_SCREENSHOT_DIR");
        if (folder.isEmpty()) QSKIP("set UFCS_SCREENSHOT_DIR to save screenshots");
        // What scripts/demo-upgrade offers: the analyzer 1.01 and firmware 1.6.
        const QByteArray image = "SIMFW\x01\x06" + QByteArray(56 * 56 + 25, 'f');
        int sum = 0;
        for (const char byte : image)
            sum += static_cast<uint8_t>(byte);
        server_.setRoute("/firmware-1.6.bin", route(image));
        server_.setRoute("/vezu_android_apks/kvdapk", route(programReply(101, "http://x/y")));
        server_.setRoute(
            "/kvd/module_upgrade2",
            route(firmwareReply(1, server_.baseUrl() + "/firmware-1.6.bin", sum % 256, "1.6")));
        openDialog([&](UpgradeDialog& dialog) {
            dialog.firmwareButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(dialog.firmwareProgress()->value() > 20, 10000);
            QVERIFY(dialog.grab().save(QString::fromUtf8(folder) + "/upgrade_dialog.png"));
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.transferring(), 20000);
            QVERIFY(dialog.grab().save(QString::fromUtf8(folder) + "/upgrade_dialog_done.png"));
            dialog.close();
        });
    }
};

QTEST_MAIN(UpgradeDialogTest)
#include "upgrade_dialog_test.moc"
