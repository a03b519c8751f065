#pragma once
// The updater's side of a program's instance channel, for window tests: sends
// "close", hears the answers, and can go away at any moment.

#include <QLocalSocket>
#include <QMessageBox>
#include <QTest>

#include "qt/program/instance_channel.h"

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

// The rows of a window's close-request test: each answer to 是否存盘?, with the
// updater leaving while the question is open, or staying for the outcome.
inline void addCloseRequestRows() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("clientStays");
    QTest::newRow("取消, client leaves") << int(QMessageBox::Cancel) << false;
    QTest::newRow("是, client leaves") << int(QMessageBox::Yes) << false;
    QTest::newRow("否, client leaves") << int(QMessageBox::No) << false;
    QTest::newRow("取消, client waits") << int(QMessageBox::Cancel) << true;
    QTest::newRow("是, client waits") << int(QMessageBox::Yes) << true;
}

// The updater while the window's question is open (its event loop runs here):
// it hears "asking" and stays, or leaves and its socket goes. True when so.
inline bool updaterDuringQuestion(CloseRequestClient& client,
                                  const qt_adapters::InstanceChannel& channel, bool stays) {
    if (stays) return client.heard("asking");
    client.leave();
    return QTest::qWaitFor([&] { return channelHasNoClients(channel); });
}

}  // namespace testing_support
