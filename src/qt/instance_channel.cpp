#include "qt/instance_channel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace qt_adapters {
namespace {

constexpr char kCloseRequest[] = "close";
constexpr char kAskingAnswer[] = "asking\n";
constexpr char kClosingAnswer[] = "ok\n";
constexpr char kKeptAnswer[] = "kept\n";
constexpr char kOtherAnswer[] = "other ";
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
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    // A named pipe of the user's own.
    return QStringLiteral("ufcs-instance-") + qEnvironmentVariable("USERNAME") + '-' + name;
#else
    return QDir(folder).filePath(name + QStringLiteral(".socket"));
#endif
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
                if (line == kCloseRequest || line.startsWith(QByteArray(kCloseRequest) + ' '))
                    take(guarded, line);
            }
        });
    }
}

// Notes the request and returns at once: the window closes from the event
// loop, never inside this socket's slot. "close PATH" is for the program
// whose executable is PATH only.
void InstanceChannel::take(QLocalSocket* client, const QByteArray& request) {
    const QString wanted = QString::fromUtf8(request.mid(sizeof kCloseRequest));
    if (!wanted.isEmpty() && !sameProgram(wanted, programPath_)) {
        tell(client, kOtherAnswer + programPath_.toUtf8() + '\n');
        return;
    }
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

CloseAnswer requestClose(const CloseRequest& request, const std::function<void()>& userAsked) {
    QLocalSocket socket;
    socket.connectToServer(instanceSocketName(request.name, request.folder));
    if (!socket.waitForConnected(request.timeoutMs)) return {};
    // Whoever listens must be this user: another one's program is not asked to close.
    if (!sameUserAtTheOtherEnd(socket))
        return {CloseReply::Other, QStringLiteral("另一个用户的程序")};
    QByteArray line = kCloseRequest;
    if (!request.program.isEmpty()) line += ' ' + request.program.toUtf8();
    socket.write(line + '\n');
    if (!socket.waitForBytesWritten(request.timeoutMs)) return {};
    bool asked = false;
    for (;;) {
        while (!socket.canReadLine()) {
            // Once the user is being asked, the answer may take as long as they do.
            if (socket.waitForReadyRead(asked ? -1 : request.timeoutMs)) continue;
            // An instance that went away while its user was asked has closed.
            return {asked ? CloseReply::Closing : CloseReply::NoInstance, {}};
        }
        const QByteArray answer = socket.readLine();
        if (answer == kClosingAnswer) return {CloseReply::Closing, {}};
        if (answer == kKeptAnswer) return {CloseReply::Kept, {}};
        if (answer.startsWith(kOtherAnswer))
            return {CloseReply::Other,
                    QString::fromUtf8(answer.mid(sizeof kOtherAnswer - 1).chopped(1))};
        if (answer == kAskingAnswer && !asked) {
            asked = true;
            if (userAsked) userAsked();
        }
    }
}

}  // namespace qt_adapters
