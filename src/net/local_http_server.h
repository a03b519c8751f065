#pragma once
// A small HTTP/1.1 server on the loopback interface for the tests and the
// upgrade demonstration: it answers GET from a table of routes or from a
// folder, honours Range requests, and can misbehave on purpose (cut the
// connection or fall silent part way through a body).

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTcpServer>
#include <memory>
#include <optional>

class QSslConfiguration;

namespace net {

struct Route {
    int status = 200;
    QByteArray body;
    std::optional<qsizetype> cutAfter;    // close the connection after this many body bytes
    std::optional<qsizetype> stallAfter;  // send this many body bytes, then nothing
    std::optional<int> dripEveryMs;       // send the body one byte at a time, this far apart
    bool ranges = true;                   // answer Range requests with 206
};

class LocalHttpServer final : public QObject {
    Q_OBJECT
  public:
    explicit LocalHttpServer(QObject* parent = nullptr);

    // Serves HTTPS with this certificate and key; call before listen().
    void useTls(const QSslConfiguration& configuration);
    // Listens on 127.0.0.1 unless told another address (port 0: any free port).
    bool listen(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    QString baseUrl() const;  // "http://127.0.0.1:PORT" (or https://), with the address listened on

    // Routes match the path without its query; the folder serves the rest. A program
    // query (an `apkname` in the query) is answered from PATH-APKNAME when that file
    // exists, so one folder answers for both programs.
    void setRoute(const QString& path, Route route) { routes_.insert(path, std::move(route)); }
    void serveFolder(const QString& folder) { folder_ = folder; }

    // What was asked, for tests: "GET /path?query" and the last Range header.
    QStringList requests() const { return requests_; }
    QByteArray lastRange() const { return lastRange_; }

  private:
    void takeConnections();
    void answer(QTcpSocket* socket, const QByteArray& head);
    std::optional<Route> routeFor(const QString& path, const QString& program) const;

    std::unique_ptr<QTcpServer> server_ = std::make_unique<QTcpServer>();  // a QSslServer for TLS
    QHash<QString, Route> routes_;
    QString folder_;
    QStringList requests_;
    QByteArray lastRange_;
};

}  // namespace net
