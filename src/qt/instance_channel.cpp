#include "qt/instance_channel.h"

#include <QDir>
#include <QLocalSocket>

namespace qt_adapters {
namespace {

constexpr char kCloseRequest[] = "close\n";
constexpr char kCloseAnswer[] = "ok\n";
constexpr int kTakeOverMs = 200;

}  // namespace

QString instanceSocketName(const QString& name, const QString& folder) {
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return QStringLiteral("ufcs-instance-") + name;  // a named pipe
#else
    return QDir(folder).filePath(name + QStringLiteral(".socket"));
#endif
}

InstanceChannel::InstanceChannel(const QString& name, const QString& folder, QObject* parent)
    : QObject(parent),
      lock_(QDir(folder).filePath(name + QStringLiteral(".instance.lock"))),
      socket_(instanceSocketName(name, folder)) {
    QDir().mkpath(folder);
    connect(&server_, &QLocalServer::newConnection, this, &InstanceChannel::answer);
    // A second instance takes the name over once the first has gone, so the
    // updater reaches every instance in turn.
    connect(&takeOver_, &QTimer::timeout, this, &InstanceChannel::tryToListen);
    if (!tryToListen()) takeOver_.start(kTakeOverMs);
}

bool InstanceChannel::tryToListen() {
    // A lock left by a program that died is taken over; a live holder keeps it.
    if (!lock_.tryLock(0)) return false;
    takeOver_.stop();
    QLocalServer::removeServer(socket_);  // a socket file a crashed instance left behind
    return server_.listen(socket_);
}

InstanceChannel::~InstanceChannel() {
    server_.close();
}

void InstanceChannel::answer() {
    while (QLocalSocket* client = server_.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            while (client->canReadLine()) {
                if (client->readLine() != kCloseRequest) continue;
                client->write(kCloseAnswer);
                client->flush();
                emit closeRequested();
            }
        });
    }
}

bool requestClose(const QString& name, const QString& folder, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(instanceSocketName(name, folder));
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kCloseRequest);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs)) return false;
    }
    return socket.readLine() == kCloseAnswer;
}

}  // namespace qt_adapters
