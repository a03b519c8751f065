#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTest>

#include "net/http_download.h"
#include "net/local_http_server.h"
#include "support/test_folder.h"

using upgrade::FetchRequest;
using upgrade::FetchResult;

class HttpDownloadTest final : public QObject {
    Q_OBJECT
  private:
    static net::Route route(QByteArray bytes, std::optional<qsizetype> cut = std::nullopt,
                            std::optional<qsizetype> stall = std::nullopt) {
        net::Route r;
        r.body = std::move(bytes);
        r.cutAfter = cut;
        r.stallAfter = stall;
        return r;
    }
    static QByteArray body(qsizetype size) {
        QByteArray bytes(size, '\0');
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char(i * 13 + 1);
        return bytes;
    }
    std::string url(const char* path) const { return (server_.baseUrl() + path).toStdString(); }
    static FetchResult fetch(const FetchRequest& request,
                             std::chrono::milliseconds stall = net::kStallTimeout) {
        net::HttpDownload download(request);
        download.setStallTimeout(stall);
        FetchResult result;
        bool done = false;
        connect(&download, &net::HttpDownload::finished, [&](const FetchResult& r) {
            result = r;
            done = true;
        });
        download.start();
        if (!QTest::qWaitFor([&] { return done; }, 20000)) qFatal("download never finished");
        return result;
    }

    net::LocalHttpServer server_;

  private slots:
    void initTestCase() { QVERIFY(server_.listen()); }

    void fetchesIntoMemoryWithProgress() {
        server_.setRoute("/reply", route(body(5000)));
        quint64 lastReceived = 0;
        const FetchResult result = net::fetchAndWait({url("/reply?apkname=x"), 1 << 20, {}},
                                                     [&](uint64_t received, int64_t total) {
                                                         lastReceived = received;
                                                         QCOMPARE(total, 5000);
                                                     });
        QVERIFY2(result.ok, result.error.c_str());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(result.bytes.data()),
                            qsizetype(result.bytes.size())),
                 body(5000));
        QCOMPARE(lastReceived, 5000u);
        QCOMPARE(server_.requests().last(), QStringLiteral("GET /reply?apkname=x"));
    }

    // A served folder answers each program's query from its own file when there is one
    // (PATH-APKNAME), else from PATH; nothing outside the folder is reachable.
    void aFolderAnswersEachProgramFromItsOwnFile() {
        testing_support::TestFolder folder("served_folder_test");
        const auto put = [&](const char* name, const QByteArray& text) {
            QFile file(QString::fromStdString(folder.file(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        };
        put("kvdapk", "either");
        put("kvdapk-UFCS_ANALYSE_vol_cur_test", "recorder");
        put("firmware", "image");
        net::LocalHttpServer server;
        server.serveFolder(QString::fromStdString(folder.path().string()));
        QVERIFY(server.listen());
        const struct {
            const char* path;
            const char* answer;  // nullptr: refused
        } cases[] = {
            {"/kvdapk?apkname=UFCS_ANALYSE_vol_cur_test&vercode=100", "recorder"},
            {"/kvdapk?apkname=ufcs_analyse_protocol_app&vercode=100", "either"},
            {"/kvdapk", "either"},
            {"/firmware?devid=1", "image"},
            {"/kvdapk?apkname=../kvdapk", nullptr},
            {"/../served_folder_test/firmware", nullptr},
            {"/missing", nullptr},
        };
        for (const auto& c : cases) {
            const FetchResult result =
                net::fetchAndWait({(server.baseUrl() + c.path).toStdString(), 1 << 20, {}}, {});
            QCOMPARE(result.ok, c.answer != nullptr);
            if (c.answer)
                QCOMPARE(std::string(result.bytes.begin(), result.bytes.end()),
                         std::string(c.answer));
        }
    }

    void refusesWhatCannotBeUsed_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("cap");
        QTest::addColumn<QString>("error");
        QTest::newRow("not found") << "/missing" << 1000 << "HTTP 404";
        QTest::newRow("cut mid-way") << "/cut" << 100000 << "下载失败";
        QTest::newRow("over the cap") << "/big" << 1000 << "过大";
        QTest::newRow("stalled") << "/stall" << 100000 << "超时";
        QTest::newRow("unreachable") << "http://127.0.0.1:1/x" << 1000 << "无法连接服务器";
        QTest::newRow("other scheme") << "file:///etc/passwd" << 1000 << "http://";
    }
    void refusesWhatCannotBeUsed() {
        QFETCH(QString, path);
        QFETCH(int, cap);
        QFETCH(QString, error);
        server_.setRoute("/cut", route(body(50000), 20000));
        server_.setRoute("/big", route(body(5000)));
        server_.setRoute("/stall", route(body(50000), std::nullopt, 1000));
        const std::string target =
            path.startsWith('/') ? url(path.toUtf8().constData()) : path.toStdString();
        const FetchResult result =
            fetch({target, std::size_t(cap), {}}, std::chrono::milliseconds(500));
        QVERIFY(!result.ok);
        QVERIFY(result.bytes.empty());
        QVERIFY2(QString::fromStdString(result.error).contains(error), result.error.c_str());
    }

    void resumesAnInterruptedFileDownload() {
        testing_support::TestFolder folder;
        const std::string target = folder.file("k512.exe");
        const QByteArray whole = body(30000);
        server_.setRoute("/k512.exe", route(whole, 12000));
        const FetchResult first = fetch({url("/k512.exe"), 1 << 20, target});
        QVERIFY(!first.ok);
        QFile partial(QString::fromStdString(upgrade::partialFileOf(target)));
        QVERIFY(partial.exists());
        const qint64 kept = partial.size();
        QVERIFY(kept > 0 && kept < whole.size());

        server_.setRoute("/k512.exe", route(whole));
        const FetchResult second = fetch({url("/k512.exe"), 1 << 20, target});
        QVERIFY2(second.ok, second.error.c_str());
        QCOMPARE(server_.lastRange(), "bytes=" + QByteArray::number(kept) + "-");
        QFile done(QString::fromStdString(second.file));
        QVERIFY(done.open(QIODevice::ReadOnly));
        QCOMPARE(done.readAll(), whole);

        // Another URL never continues this file.
        server_.setRoute("/other.exe", route(body(100)));
        const FetchResult other = fetch({url("/other.exe"), 1 << 20, target});
        QVERIFY(other.ok);
        QCOMPARE(QFile(QString::fromStdString(other.file)).size(), 100);
    }

    // A server that sends a byte now and then keeps the stall timer quiet for
    // ever: a reply still ends by its deadline, a file by its least rate.
    // A query's reply has a deadline; a program file or a firmware image (in
    // memory) has a least rate instead.
    void aTricklingServerIsGivenUpOn_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("a reply") << "reply"
                                 << "下载超时：0.4 秒内没有下载完";
        QTest::newRow("a file") << "file"
                                << "下载太慢：0.4 秒只收到";
        QTest::newRow("an image") << "image"
                                  << "下载太慢：0.4 秒只收到";
    }
    void aTricklingServerIsGivenUpOn() {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        net::Route trickle = route(body(100000));
        trickle.dripEveryMs = 20;
        server_.setRoute("/trickle", trickle);
        testing_support::TestFolder folder;
        FetchRequest request{url("/trickle"), 1 << 20, ""};
        if (kind == "reply") {
            request.replyDeadline = std::chrono::milliseconds(400);
            request.leastRate = 0;
        } else {
            request = upgrade::fileRequest(url("/trickle"), 1 << 20,
                                           kind == "file" ? folder.file("k512.exe") : "");
            request.rateWindow = std::chrono::milliseconds(400);
        }
        const FetchResult result = fetch(request, std::chrono::milliseconds(10000));
        QVERIFY(!result.ok);
        QVERIFY2(QString::fromStdString(result.error).startsWith(error), result.error.c_str());
    }

#ifndef Q_OS_WIN
    // Nothing the disk cannot hold is left behind, and the message says why.
    void aFullDiskLeavesNoPartialFile() {
        testing_support::TestFolder folder;
        const std::string target = folder.file("k512.exe");
        // A download to continue, on a disk that has no room left.
        QVERIFY(QFile::link(QStringLiteral("/dev/full"),
                            QString::fromStdString(upgrade::partialFileOf(target))));
        QFile source(QString::fromStdString(upgrade::partialSourceOf(target)));
        QVERIFY(source.open(QIODevice::WriteOnly));
        source.write(QByteArray::fromStdString(url("/k512.exe")));
        source.close();
        server_.setRoute("/k512.exe", route(body(200000)));
        const FetchResult result = fetch({url("/k512.exe"), 1 << 20, target});
        QVERIFY(!result.ok);
        QVERIFY2(QString::fromStdString(result.error).startsWith(QStringLiteral("磁盘已满")),
                 result.error.c_str());
        QVERIFY(!QFileInfo::exists(QString::fromStdString(upgrade::partialFileOf(target))));
    }
#endif

    void httpsIsFetchedOnlyFromATrustedServer() {
        // A certificate for 127.0.0.1 kept beside this test (made once with
        // openssl, valid for a century), trusted only once the client is told to.
        QFile keyFile(QStringLiteral(UFCS_TEST_CERTIFICATES "/loopback-key.pem"));
        QFile certificateFile(QStringLiteral(UFCS_TEST_CERTIFICATES "/loopback-cert.pem"));
        QVERIFY(keyFile.open(QIODevice::ReadOnly) && certificateFile.open(QIODevice::ReadOnly));
        const QSslCertificate issued(&certificateFile, QSsl::Pem);
        QSslConfiguration served = QSslConfiguration::defaultConfiguration();
        served.setLocalCertificate(issued);
        served.setPrivateKey(QSslKey(&keyFile, QSsl::Ec, QSsl::Pem));
        net::LocalHttpServer secure;
        secure.useTls(served);
        QVERIFY(secure.listen());
        secure.setRoute("/firmware.bin", route(body(3000)));
        const std::string address = (secure.baseUrl() + "/firmware.bin").toStdString();
        QVERIFY(address.starts_with("https://"));

        const FetchResult untrusted = fetch({address, 1 << 20, {}});
        QVERIFY(!untrusted.ok);
        QVERIFY2(untrusted.error.find("安全连接") != std::string::npos, untrusted.error.c_str());
        QVERIFY(untrusted.bytes.empty());

        QSslConfiguration client = QSslConfiguration::defaultConfiguration();
        client.addCaCertificate(issued);
        QSslConfiguration::setDefaultConfiguration(client);
        const FetchResult trusted = fetch({address, 1 << 20, {}});
        QVERIFY2(trusted.ok, trusted.error.c_str());
        QCOMPARE(qsizetype(trusted.bytes.size()), 3000);
    }
};

QTEST_GUILESS_MAIN(HttpDownloadTest)
#include "http_download_test.moc"
