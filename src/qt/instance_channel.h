#pragma once
// One running instance of a program, reachable by another: the instance holds
// a lock file and listens on a local socket named after the program; a line
// "close" on that socket asks it to close (the updater does so before it
// swaps the program's executable). A second instance of the same program
// starts as usual and listens once the first one has gone.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

namespace qt_adapters {

class InstanceChannel final : public QObject {
    Q_OBJECT
  public:
    // `name` is the program's own, e.g. "color"; lock and socket live in `folder`.
    InstanceChannel(const QString& name, const QString& folder, QObject* parent = nullptr);
    ~InstanceChannel() override;

    bool listening() const { return server_.isListening(); }

  signals:
    void closeRequested();

  private:
    void answer();
    bool tryToListen();

    QLockFile lock_;
    QString socket_;
    QLocalServer server_;
    QTimer takeOver_;
};

// The socket name of program `name` whose lock files live in `folder`.
QString instanceSocketName(const QString& name, const QString& folder);

// Asks the running instance of `name` to close. True when one took the request
// within `timeoutMs`. Blocking: call it off the thread that runs that instance.
bool requestClose(const QString& name, const QString& folder, int timeoutMs);

}  // namespace qt_adapters
