#include "qt/program/instance_channel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "common/instance_protocol.h"
#include "qt/text.h"

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace qt_adapters {
namespace {

QByteArray bytes(std::string_view word) {
    return QByteArray(word.data(), qsizetype(word.size()));
}
constexpr int kTakeOverMs = 200;
constexpr int kLastWordMs = 500;  // the final answer's write before a closing program ends

void tell(QLocalSocket* client, const QByteArray& line) {
    if (!client || client->state() != QLocalSocket::ConnectedState) return;
    client->write(line);
    client->flush();
}

// The user at the other end of a local socket is this process's user.
// Elsewhere than Linux the socket's access rights (the user only) are the check.
bool sameUserAtTheOtherEnd([[maybe_unused]] const QLocalSocket& socket) {
#ifdef Q_OS_LINUX
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                   &size) != 0)
        return false;
    return peer.uid == geteuid();
#else
    return true;
#endif
}

}  // namespace

QString instanceSocketName(const QString& name, const QString& folder) {
    return QString::fromStdString(common::instanceSocketName(name.toStdString(), pathOf(folder)));
}

bool sameProgram(const QString& a, const QString& b) {
    const QString first = QFileInfo(a).canonicalFilePath();
    return !first.isEmpty() && first == QFileInfo(b).canonicalFilePath();
}

InstanceChannel::InstanceChannel(const QString& name, const QString& folder, QObject* parent)
    : QObject(parent),
      lock_(QDir(folder).filePath(name + QStringLiteral(".instance.lock"))),
      socket_(instanceSocketName(name, folder)),
      server_(new QLocalServer(this)),
      programPath_(QCoreApplication::applicationFilePath()) {
    QDir().mkpath(folder);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
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
        if (!sameUserAtTheOtherEnd(*client)) {  // another user may not close our programs
            client->abort();
            client->deleteLater();
            continue;
        }
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        QPointer<QLocalSocket> guarded(client);
        connect(client, &QLocalSocket::readyRead, this, [this, guarded] {
            while (guarded && guarded->canReadLine()) {
                const QByteArray line = guarded->readLine().chopped(1);
                const QByteArray close = bytes(common::kCloseRequest);
                if (line == close || line.startsWith(close + ' ')) take(guarded, line);
            }
        });
    }
}

// Notes the request and returns at once: the window closes from the event
// loop, never inside this socket's slot. "close PATH" is for the program
// whose executable is PATH only.
void InstanceChannel::take(QLocalSocket* client, const QByteArray& request) {
    const QString wanted =
        QString::fromUtf8(request.mid(qsizetype(common::kCloseRequest.size()) + 1));
    if (!wanted.isEmpty() && !sameProgram(wanted, programPath_)) {
        tell(client, bytes(common::kOtherAnswer) + programPath_.toUtf8() + '\n');
        return;
    }
    waiting_.emplace_back(client);
    if (closing_) {
        if (asking_) tell(client, bytes(common::kAskingAnswer) + '\n');
        return;
    }
    closing_ = true;
    asking_ = window_ && willAsk_ && willAsk_();
    if (asking_) tell(client, bytes(common::kAskingAnswer) + '\n');
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
        tell(client, bytes(closed ? common::kClosingAnswer : common::kKeptAnswer) + '\n');
        // The program may end right after this: the answer leaves first.
        if (closed && client && client->state() == QLocalSocket::ConnectedState)
            client->waitForBytesWritten(kLastWordMs);
    }
}

}  // namespace qt_adapters
