#include <QFile>
#include <QTest>

#include "cli_run.h"
#include "instrument/firmware_frames.h"
#include "net/http_download.h"
#include "net/local_http_server.h"
#include "support/ed25519_signer.h"
#include "support/signed_release.h"
#include "support/test_folder.h"

namespace {

// The command line as `ufcs` runs it: downloads through Qt Network.
testing_support::CliRun runUfcs(const std::vector<std::string>& args) {
    return testing_support::runUfcs(args, net::fetchAndWait);
}

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

QByteArray firmwareReply(const QByteArray& vercode, const QString& url, int checksum,
                         const QByteArray& extra = {}) {
    return "{\"upgrade\":1,\"upgradeInfo\":{\"mtypecode\":11,\"vercode\":" + vercode +
           ",\"fwUrl\":\"" + url.toUtf8() + "\",\"checksum\":" + QByteArray::number(checksum) +
           extra + "}}";
}

std::span<const uint8_t> bytesOf(const QByteArray& data) {
    return {reinterpret_cast<const uint8_t*>(data.data()), std::size_t(data.size())};
}

QByteArray releaseFields(const testing_support::Ed25519Signer& signer, const std::string& name,
                         const std::string& version, const QByteArray& file) {
    return QByteArray::fromStdString(
        testing_support::signedReleaseFields(signer, name, version, bytesOf(file)));
}

const std::string kProgramName = "ufcs_analyse_protocol_app";

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
        return int(instrument::firmwareByteSum({reinterpret_cast<const uint8_t*>(firmware_.data()),
                                                std::size_t(firmware_.size())}) %
                   256);
    }

  private slots:
    void initTestCase() {
        QVERIFY(server_.listen());
        server_.setRoute("/k512.exe", route(program_));
        server_.setRoute("/fw.bin", route(firmware_));
    }

    // Run with no way to download (as a program that installs none), nothing is asked.
    void withoutAFetcherTheCommandsRefuse() {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"check-update", "--server", server()},
              {"firmware", "--simulate", "--server", server(), "--allow-unsigned"}}) {
            const auto run = testing_support::runUfcs(args);
            QCOMPARE(run.status, 2);
            QVERIFY2(run.err.find("this build cannot download") != std::string::npos,
                     run.err.c_str());
        }
        QVERIFY(server_.requests().isEmpty());
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

    // Rows: the reply's extra fields ("SIGNED": signed by the key given), the
    // version offered, whether a key is given or unsigned is allowed, the status.
    void keepsADownloadOnlyWhenItsChecksPass_data() {
        QTest::addColumn<QByteArray>("extra");
        QTest::addColumn<int>("offered");
        QTest::addColumn<QString>("trust");  // "key", "allow-unsigned" or ""
        QTest::addColumn<int>("status");
        const testing_support::Ed25519Signer other;
        QTest::newRow("plain, allowed") << QByteArray() << 105 << "allow-unsigned" << 0;
        QTest::newRow("plain, not allowed") << QByteArray() << 105 << "" << 2;
        QTest::newRow("wrong sha256") << QByteArray(",\"sha256\":\"" + QByteArray(64, 'a') + "\"")
                                      << 105 << "allow-unsigned" << 1;
        QTest::newRow("signed") << QByteArray("SIGNED") << 105 << "key" << 0;
        QTest::newRow("signature missing") << QByteArray() << 105 << "key" << 1;
        QTest::newRow("someone else's signature")
            << releaseFields(other, kProgramName, "105", program_) << 105 << "key" << 1;
        QTest::newRow("an old signed release announced as 999")
            << QByteArray("SIGNED") << 999 << "key" << 1;
    }
    void keepsADownloadOnlyWhenItsChecksPass() {
        QFETCH(QByteArray, extra);
        QFETCH(int, offered);
        QFETCH(QString, trust);
        QFETCH(int, status);
        const testing_support::Ed25519Signer signer;
        // The signed release is always 105; the reply may claim otherwise.
        if (extra == "SIGNED") extra = releaseFields(signer, kProgramName, "105", program_);
        server_.setRoute(kProgramPath,
                         route(programReply(offered, server_.baseUrl() + "/k512.exe", extra)));
        const qsizetype requestsBefore = server_.requests().size();
        testing_support::TestFolder folder;
        const std::string target = folder.file("k512.exe");
        std::vector<std::string> args = {"check-update", "--server", server(), "--download",
                                         target};
        if (trust == "key") args.insert(args.end(), {"--public-key", signer.publicKey()});
        if (trust == "allow-unsigned") args.push_back("--allow-unsigned");
        const auto run = runUfcs(args);
        QCOMPARE(run.status, status);
        QCOMPARE(QFile::exists(QString::fromStdString(target)), status == 0);
        QVERIFY(!QFile::exists(QString::fromStdString(target + ".part")));
        if (status == 2) {
            // Refused before anything is fetched, and the user is told why.
            QCOMPARE(server_.requests().size(), requestsBefore + 1);
            QVERIFY(run.err.find("没有设置升级公钥") != std::string::npos);
            QVERIFY(run.err.find(server()) != std::string::npos);
        }
        if (status == 0) {
            QFile file(QString::fromStdString(target));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), program_);
        }
    }

    // The simulated instrument runs firmware 1.5. Rows: the version offered, the
    // checksum's offset, a fault, how the download is trusted ("SIGNED 2.7":
    // a key and a statement signed for 2.7), the last line.
    void transfersFirmwareToTheSimulatedInstrument_data() {
        QTest::addColumn<QByteArray>("vercode");
        QTest::addColumn<int>("checksumOffset");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("trust");
        QTest::addColumn<QString>("last");
        const QString allowed = "allow-unsigned";
        QTest::newRow("burned") << QByteArray("2.7") << 0 << "" << allowed << "升级成功!";
        QTest::newRow("signed, burned") << QByteArray("2.7") << 0 << ""
                                        << "SIGNED 2.7"
                                        << "升级成功!";
        QTest::newRow("an old image announced as 9.9")
            << QByteArray("9.9") << 0 << ""
            << "SIGNED 2.7"
            << "签名声明的版本是 2.7，服务器却说是 9.9，已拒绝";
        QTest::newRow("older than the instrument's, signed")
            << QByteArray("1.4") << 0 << ""
            << "SIGNED 1.4"
            << "提供的固件版本 1.4 不比仪器上的 1.5 新，已拒绝";
        QTest::newRow("the instrument's own") << QByteArray("1.5") << 0 << "" << allowed
                                              << "提供的固件版本 1.5 不比仪器上的 1.5 新，已拒绝";
        QTest::newRow("unsigned, not allowed") << QByteArray("2.7") << 0 << ""
                                               << ""
                                               << "最新软件版本：2.7";
        QTest::newRow("quoted vercode: no URL")
            << QByteArray("\"2.7\"") << 0 << "" << allowed << "下载文档出错！";
        QTest::newRow("bad checksum")
            << QByteArray("2.7") << 1 << "" << allowed << "升级文件校验码不对！";
        QTest::newRow("refused page")
            << QByteArray("2.7") << 0 << "refuse-page@2" << allowed << "升级失败！";
        QTest::newRow("unplugged")
            << QByteArray("2.7") << 0 << "unplug-page@3" << allowed << "升级失败！";
    }
    void transfersFirmwareToTheSimulatedInstrument() {
        QFETCH(QByteArray, vercode);
        QFETCH(int, checksumOffset);
        QFETCH(QString, fault);
        QFETCH(QString, trust);
        QFETCH(QString, last);
        const testing_support::Ed25519Signer signer;
        QByteArray extra;
        std::vector<std::string> args = {"firmware", "--simulate", "--server", server()};
        if (trust.startsWith("SIGNED ")) {
            extra = releaseFields(signer, std::string(upgrade::kFirmwareReleaseName),
                                  trust.mid(7).toStdString(), firmware_);
            args.insert(args.end(), {"--public-key", signer.publicKey()});
        } else if (!trust.isEmpty()) {
            args.push_back("--" + trust.toStdString());
        }
        server_.setRoute(kFirmwarePath, route(firmwareReply(vercode, server_.baseUrl() + "/fw.bin",
                                                            checksum() + checksumOffset, extra)));
        if (!fault.isEmpty()) args.insert(args.end(), {"--fault", fault.toStdString()});
        const auto run = runUfcs(args);
        const QStringList lines = QString::fromStdString(run.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("当前软件版本：1.5"));
        QCOMPARE(lines.value(3), QStringLiteral("最新软件版本：") + vercode);
        QCOMPARE(lines.last(), last);
        QCOMPARE(run.status, last == "升级成功!" ? 0 : trust.isEmpty() ? 2 : 1);
        QVERIFY(server_.requests().contains(
            "GET "
            "/kvd/module_upgrade2?devid=480213657790&mtype=11&modetype=0583&pver=1.0&fver=1.5"));
    }
};

QTEST_GUILESS_MAIN(UpgradeCommandsTest)
#include "upgrade_commands_test.moc"
