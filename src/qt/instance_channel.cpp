#include "qt/instance_channel.h"

#include <QDir>

namespace qt_adapters {
namespace {

constexpr char kCloseRequest[] = "close\n";
constexpr char kAskingAnswer[] = "asking\n";
constexpr char kClosingAnswer[] = "ok\n";
constexpr char kKeptAnswer[] = "kept\n";
constexpr int kTakeOverMs = 200;
constexpr int kLastWordMs = 500;  // the final answer's write before a closing program ends

void tell(QLocalSocket* client, const char* line) {
    if (!client || client->state() != QLocalSocket::ConnectedState) return;
    client->write(line);
    client->flush();
}

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
      socket_(instanceSocketName(name, folder)),
      server_(new QLocalServer(this)) {
    QDir().mkpath(folder);
    connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::answer);
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
    return server_->listen(socket_);
}

InstanceChannel::~InstanceChannel() {
    server_->close();
}

void InstanceChannel::serve(QWidget* window, std::function<bool()> willAsk) {
    window_ = window;
    willAsk_ = std::move(willAsk);
}

void InstanceChannel::answer() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        QPointer<QLocalSocket> guarded(client);
        connect(client, &QLocalSocket::readyRead, this, [this, guarded] {
            while (guarded && guarded->canReadLine()) {
                if (guarded->readLine() == kCloseRequest) take(guarded);
            }
        });
    }
}

// Notes the request and returns at once: the window closes from the event
// loop, never inside this socket's slot.
void InstanceChannel::take(QLocalSocket* client) {
    waiting_.emplace_back(client);
    if (closing_) {
        if (asking_) tell(client, kAskingAnswer);
        return;
    }
    closing_ = true;
    asking_ = window_ && willAsk_ && willAsk_();
    if (asking_) tell(client, kAskingAnswer);
    QMetaObject::invokeMethod(this, &InstanceChannel::closeWindow, Qt::QueuedConnection);
}

void InstanceChannel::closeWindow() {
    emit closeRequested();
    // The question, if any, runs here; clients may come and go meanwhile.
    const bool closed = !window_ || window_->close();
    closing_ = asking_ = false;
    std::vector<QPointer<QLocalSocket>> waiting;
    waiting.swap(waiting_);
    for (const QPointer<QLocalSocket>& client : waiting) {
        tell(client, closed ? kClosingAnswer : kKeptAnswer);
        // The program may end right after this: the answer leaves first.
        if (closed && client && client->state() == QLocalSocket::ConnectedState)
            client->waitForBytesWritten(kLastWordMs);
    }
}

CloseReply requestClose(const QString& name, const QString& folder, int timeoutMs,
                        const std::function<void()>& userAsked) {
    QLocalSocket socket;
    socket.connectToServer(instanceSocketName(name, folder));
    if (!socket.waitForConnected(timeoutMs)) return CloseReply::NoInstance;
    socket.write(kCloseRequest);
    if (!socket.waitForBytesWritten(timeoutMs)) return CloseReply::NoInstance;
    bool asked = false;
    for (;;) {
        while (!socket.canReadLine()) {
            // Once the user is being asked, the answer may take as long as they do.
            if (socket.waitForReadyRead(asked ? -1 : timeoutMs)) continue;
            // An instance that went away while its user was asked has closed.
            return asked ? CloseReply::Closing : CloseReply::NoInstance;
        }
        const QByteArray line = socket.readLine();
        if (line == kClosingAnswer) return CloseReply::Closing;
        if (line == kKeptAnswer) return CloseReply::Kept;
        if (line == kAskingAnswer && !asked) {
            asked = true;
            if (userAsked) userAsked();
        }
    }
}

}  // namespace qt_adapters
