#include <QFile>
#include <QTest>

#include "analyzer/firmware_frames.h"
#include "cli_run.h"
#include "net/http_download.h"
#include "net/local_http_server.h"
#include "support/ed25519_signer.h"
#include "support/test_folder.h"

using testing_support::runUfcs;

namespace {

const QString kProgramPath = QStringLiteral("/vezu_android_apks/kvdapk");
const QString kFirmwarePath = QStringLiteral("/kvd/module_upgrade2");

net::Route route(QByteArray body) {
    net::Route r;
    r.body = std::move(body);
    return r;
}

QByteArray programReply(int code, const QString& url, const QByteArray& extra = {}) {
    return "{\"id\":0,\"apkname\":\"ufcs_analyse_protocol_app\",\"apkvercode\":" +
           QByteArray::number(code) + ",\"upgradeFlag\":1,\"apkUrl\":\"" + url.toUtf8() + "\"" +
           extra + "}";
}

QByteArray firmwareReply(const QByteArray& vercode, const QString& url, int checksum) {
    return "{\"upgrade\":1,\"upgradeInfo\":{\"mtypecode\":11,\"vercode\":" + vercode +
           ",\"fwUrl\":\"" + url.toUtf8() + "\",\"checksum\":" + QByteArray::number(checksum) +
           "}}";
}

}  // namespace

class UpgradeCommandsTest final : public QObject {
    Q_OBJECT
  private:
    net::LocalHttpServer server_;
    testing_support::IsolatedLocks locks_;
    QByteArray program_ = QByteArray("#!/bin/sh\necho new\n").repeated(200);
    QByteArray firmware_ = "SIMFW\x02\x07" + QByteArray(200, 'f');

    std::string server() const { return server_.baseUrl().toStdString(); }
    int checksum() const {
        return int(analyzer::firmwareByteSum({reinterpret_cast<const uint8_t*>(firmware_.data()),
                                              std::size_t(firmware_.size())}) %
                   256);
    }

  private slots:
    void initTestCase() {
        cli::setFetcher(net::fetchAndWait);
        QVERIFY(server_.listen());
        server_.setRoute("/k512.exe", route(program_));
        server_.setRoute("/fw.bin", route(firmware_));
    }

    void showsTheLatestVersion_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("105") << 105 << "最新版本：1.05";
        QTest::newRow("110, in hexadecimal") << 110 << "最新版本：1.0a";
        QTest::newRow("100, the running one") << 100 << "已是最新版本";
    }
    void showsTheLatestVersion() {
        QFETCH(int, code);
        QFETCH(QString, text);
        server_.setRoute(kProgramPath, route(programReply(code, "http://x/k512.exe")));
        const auto run = runUfcs({"check-update", "--server", server(), "--json"});
        QCOMPARE(run.status, 0);
        QCOMPARE(QString::fromStdString(run.out),
                 QStringLiteral("{\"latest\":%1,\"url\":\"http://x/k512.exe\",\"text\":\"%2\"}")
                         .arg(code)
                         .arg(text) +
                     "\n");
        QVERIFY(server_.requests().last().endsWith(
            "?apkname=ufcs_analyse_protocol_app&vercode=100&devid=731845502966214"));
    }

    void unreachableServersFailWithTheLabelText() {
        server_.setRoute(kProgramPath, [] {
            net::Route missing;
            missing.status = 404;
            return missing;
        }());
        for (const std::string& url :
             {server(), std::string("http://127.0.0.1:1"), std::string()}) {
            const auto run = runUfcs({"check-update", "--server", url});
            QCOMPARE(run.status, 1);
            QCOMPARE(run.out, std::string("最新版本：无法获取联网信息\n"));
        }
    }

    void keepsADownloadOnlyWhenItsChecksPass_data() {
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<bool>("withKey");
        QTest::addColumn<bool>("kept");
        testing_support::Ed25519Signer other;
        QTest::newRow("plain") << QByteArray() << false << true;
        QTest::newRow("wrong sha256")
            << QByteArray(",\"sha256\":\"" + QByteArray(64, 'a') + "\"") << false << false;
        QTest::newRow("signed") << QByteArray("SIGNED") << true << true;
        QTest::newRow("signature missing") << QByteArray() << true << false;
        QTest::newRow("someone else's signature")
            << QByteArray(",\"signature\":\"" +
                          QByteArray::fromStdString(
                              other.sign(program_.data(), std::size_t(program_.size()))) +
                          "\"")
            << true << false;
    }
    void keepsADownloadOnlyWhenItsChecksPass() {
        QFETCH(QByteArray, extra);
        QFETCH(bool, withKey);
        QFETCH(bool, kept);
        testing_support::Ed25519Signer signer;
        if (extra == "SIGNED")
            extra = ",\"signature\":\"" +
                    QByteArray::fromStdString(
                        signer.sign(program_.data(), std::size_t(program_.size()))) +
                    "\"";
        server_.setRoute(kProgramPath,
                         route(programReply(105, server_.baseUrl() + "/k512.exe", extra)));
        testing_support::TestFolder folder;
        const std::string target = folder.file("k512.exe");
        std::vector<std::string> args = {"check-update", "--server", server(), "--download",
                                         target};
        if (withKey) args.insert(args.end(), {"--public-key", signer.publicKey()});
        const auto run = runUfcs(args);
        QCOMPARE(run.status, kept ? 0 : 1);
        QCOMPARE(QFile::exists(QString::fromStdString(target)), kept);
        QVERIFY(!QFile::exists(QString::fromStdString(target + ".part")));
        if (kept) {
            QFile file(QString::fromStdString(target));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), program_);
        }
    }

    void transfersFirmwareToTheSimulatedInstrument_data() {
        QTest::addColumn<QByteArray>("vercode");
        QTest::addColumn<int>("checksumOffset");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("last");
        QTest::newRow("burned") << QByteArray("2.7") << 0 << ""
                                << "升级成功!";
        QTest::newRow("quoted vercode: no URL") << QByteArray("\"2.7\"") << 0 << ""
                                                << "下载文档出错！";
        QTest::newRow("bad checksum") << QByteArray("2.7") << 1 << ""
                                      << "升级文件校验码不对！";
        QTest::newRow("refused page") << QByteArray("2.7") << 0 << "refuse-page@2"
                                      << "升级失败！";
        QTest::newRow("unplugged") << QByteArray("2.7") << 0 << "unplug-page@3"
                                   << "升级失败！";
    }
    void transfersFirmwareToTheSimulatedInstrument() {
        QFETCH(QByteArray, vercode);
        QFETCH(int, checksumOffset);
        QFETCH(QString, fault);
        QFETCH(QString, last);
        server_.setRoute(kFirmwarePath, route(firmwareReply(vercode, server_.baseUrl() + "/fw.bin",
                                                            checksum() + checksumOffset)));
        std::vector<std::string> args = {"firmware", "--simulate", "--server", server()};
        if (!fault.isEmpty()) args.insert(args.end(), {"--fault", fault.toStdString()});
        const auto run = runUfcs(args);
        const QStringList lines = QString::fromStdString(run.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("当前软件版本：1.5"));
        QCOMPARE(lines.value(3), QStringLiteral("最新软件版本：") + vercode);
        QCOMPARE(lines.last(), last);
        QCOMPARE(run.status, last == "升级成功!" ? 0 : 1);
        QVERIFY(server_.requests().contains(
            "GET "
            "/kvd/module_upgrade2?devid=480213657790&mtype=11&modetype=0583&pver=1.0&fver=1.5"));
    }
};

QTEST_GUILESS_MAIN(UpgradeCommandsTest)
#include "upgrade_commands_test.moc"
