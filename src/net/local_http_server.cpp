#include "net/local_http_server.h"

#include <QTimer>

#include <QDir>
#include <QFile>
#include <QSslServer>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>

namespace net {
namespace {

constexpr qsizetype kMostHeadBytes = 16 * 1024;

QByteArray reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 404:
            return "Not Found";
        default:
            return "Status";
    }
}

// The first byte a "bytes=N-" range asks for.
std::optional<qsizetype> rangeStart(const QByteArray& range) {
    if (!range.startsWith("bytes=") || !range.endsWith('-')) return std::nullopt;
    bool ok = false;
    const qsizetype start = range.mid(6, range.size() - 7).toLongLong(&ok);
    return ok ? std::optional(start) : std::nullopt;
}

}  // namespace

LocalHttpServer::LocalHttpServer(QObject* parent) : QObject(parent) {
    takeConnections();
}

void LocalHttpServer::useTls(const QSslConfiguration& configuration) {
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(configuration);
    server_ = std::move(server);
    takeConnections();
}

void LocalHttpServer::takeConnections() {
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            socket->setParent(this);
            auto head = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head] {
                head->append(socket->readAll());
                if (head->contains("\r\n\r\n"))
                    answer(socket, *head);
                else if (head->size() > kMostHeadBytes)
                    socket->abort();
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool LocalHttpServer::listen(quint16 port, const QHostAddress& address) {
    return server_->listen(address, port);
}

QString LocalHttpServer::baseUrl() const {
    const QHostAddress address = server_->serverAddress();
    const bool any = address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
                     address == QHostAddress::AnyIPv6 || address.isNull();
    QString host = any ? QStringLiteral("127.0.0.1") : address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol && !any)
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QStringLiteral("%1://%2:%3")
        .arg(qobject_cast<QSslServer*>(server_.get()) ? QStringLiteral("https")
                                                      : QStringLiteral("http"),
             host)
        .arg(server_->serverPort());
}

std::optional<Route> LocalHttpServer::routeFor(const QString& path, const QString& program) const {
    if (const auto found = routes_.find(path); found != routes_.end()) return *found;
    if (folder_.isEmpty() || path.contains(QLatin1String("..")) ||
        program.contains(QLatin1Char('/')) || program.contains(QLatin1String("..")))
        return std::nullopt;
    const QString name = QDir(folder_).filePath(path.mid(1));
    QFile file(program.isEmpty() ? name : name + QLatin1Char('-') + program);
    if (!file.open(QIODevice::ReadOnly)) {
        file.setFileName(name);
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    }
    Route route;
    route.body = file.readAll();
    return route;
}

void LocalHttpServer::answer(QTcpSocket* socket, const QByteArray& head) {
    disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
    const QList<QByteArray> lines = head.left(head.indexOf("\r\n\r\n")).split('\n');
    const QList<QByteArray> request = lines.value(0).trimmed().split(' ');
    const QString target = QString::fromUtf8(request.value(1));
    requests_ << QStringLiteral("GET ") + target;
    QByteArray range;
    for (const QByteArray& line : lines) {
        if (line.toLower().startsWith("range:")) range = line.mid(6).trimmed();
    }
    lastRange_ = range;

    const QUrl url(target);
    const QString path = url.path();
    Route missing;
    missing.status = 404;
    missing.body = "not found";
    const QString program = QUrlQuery(url).queryItemValue(QStringLiteral("apkname"));
    Route route = routeFor(path, program).value_or(missing);
    QByteArray body = route.body;
    int status = route.status;
    QByteArray extra;
    if (const auto start = rangeStart(range);
        start && route.ranges && status == 200 && *start <= body.size()) {
        status = 206;
        extra = "Content-Range: bytes " + QByteArray::number(*start) + "-" +
                QByteArray::number(body.size() - 1) + "/" + QByteArray::number(body.size()) +
                "\r\n";
        body = body.mid(*start);
    }
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " " + reason(status) +
                  "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + extra +
                  "Connection: close\r\n\r\n");
    if (route.stallAfter) {
        socket->write(body.left(*route.stallAfter));
        return;  // the connection stays open, silent
    }
    if (route.dripEveryMs) {
        auto* drip = new QTimer(socket);
        connect(drip, &QTimer::timeout, socket, [socket, body, sent = qsizetype(0)]() mutable {
            if (sent < body.size()) socket->write(body.mid(sent++, 1));
        });
        drip->start(*route.dripEveryMs);
        return;
    }
    if (route.cutAfter) {
        socket->write(body.left(*route.cutAfter));
        socket->flush();
        socket->abort();
        return;
    }
    socket->write(body);
    socket->disconnectFromHost();
}

}  // namespace net
