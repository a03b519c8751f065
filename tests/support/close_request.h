#pragma once
// The updater's side of a program's instance channel, for window tests: sends
// "close", hears the answers, and can go away at any moment.

#include <QLocalSocket>
#include <QTest>

#include "qt/instance_channel.h"

namespace testing_support {

class CloseRequestClient {
  public:
    bool connectTo(const QString& name, const QString& folder) {
        socket_.connectToServer(qt_adapters::instanceSocketName(name, folder));
        return socket_.waitForConnected(2000);
    }
    void requestClose() {
        socket_.write("close\n");
        socket_.flush();
    }
    void leave() { socket_.abort(); }
    // Waits (running the event loop) until `line` has been answered.
    bool heard(const QByteArray& line, int timeoutMs = 5000) {
        return QTest::qWaitFor(
            [&] {
                while (socket_.canReadLine())
                    lines_ << socket_.readLine();
                return lines_.contains(line + '\n');
            },
            timeoutMs);
    }
    QByteArrayList lines() const { return lines_; }

  private:
    QLocalSocket socket_;
    QByteArrayList lines_;
};

// True once the channel holds no client's socket: one that left has been deleted.
inline bool channelHasNoClients(const qt_adapters::InstanceChannel& channel) {
    return channel.findChildren<QLocalSocket*>().isEmpty();
}

}  // namespace testing_support
