#pragma once
// One running instance of a program, reachable by another: the instance holds
// a lock file and listens on a local socket named after the program; a line
// "close" on that socket asks it to close (the updater does so before it
// swaps the program's executable). A second instance of the same program
// starts as usual and listens once the first one has gone.
//
// The answer comes in lines (common/instance_protocol.h): "asking" at once
// when the program first asks its user what to do with unsaved work, then "ok"
// when it closes or "kept" when the user chose to keep it open. A client may go away at any moment:
// the request is taken, the socket slot returns, and only then is the window closed (its question
// runs an event loop of its own).
//
// The channel is the user's alone: its lock and socket live in a folder only
// the user can enter, the socket admits only the user, a connection from
// another user is refused, and the updater checks whom it talks to. A request
// "close PATH" closes only the program whose executable is PATH; another one
// answers "other ITS-PATH".

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

namespace qt_adapters {

class InstanceChannel final : public QObject {
    Q_OBJECT
  public:
    // `name` is the program's own, e.g. "color"; lock and socket live in
    // `folder`, which must be the user's alone (common::privateRuntimeFolder).
    InstanceChannel(const QString& name, const QString& folder, QObject* parent = nullptr);
    ~InstanceChannel() override;

    bool listening() const { return server_->isListening(); }

    // The window a close request closes; `willAsk` tells whether closing it
    // will first ask its user (unsaved work).
    void serve(QWidget* window, std::function<bool()> willAsk);
    // The executable the channel answers for (this program's by default).
    void setProgramPath(const QString& path) { programPath_ = path; }

  signals:
    // A request was taken; the window is closed right after.
    void closeRequested();

  private:
    void answer();
    void take(QLocalSocket* client, const QByteArray& request);
    void closeWindow();
    bool tryToListen();

    QLockFile lock_;
    QString socket_;
    QLocalServer* server_;  // a child: its clients are the channel's descendants
    QTimer takeOver_;
    QPointer<QWidget> window_;
    std::function<bool()> willAsk_;
    QString programPath_;
    bool closing_ = false;  // a close is under way (its question may be open)
    bool asking_ = false;
    std::vector<QPointer<QLocalSocket>> waiting_;  // clients that wait for the outcome
};

// The socket name of program `name` whose lock files live in `folder`.
QString instanceSocketName(const QString& name, const QString& folder);

// The same executable, however named (links, relative paths).
bool sameProgram(const QString& a, const QString& b);

}  // namespace qt_adapters
