#include <QCloseEvent>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <functional>
#include <thread>

#include "qt/instance_channel.h"
#include "support/test_folder.h"

using qt_adapters::CloseReply;
using qt_adapters::InstanceChannel;

namespace {

// A window with unsaved work: its close runs `question` (an event loop of its
// own, as a message box has) and closes when that returns true.
class AskingWindow final : public QWidget {
  public:
    std::function<bool()> question = [] { return true; };
    int asked = 0;

  protected:
    void closeEvent(QCloseEvent* event) override {
        ++asked;
        if (question())
            event->accept();
        else
            event->ignore();
    }
};

}  // namespace

class InstanceChannelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestFolder> folder_;

    QString folder() const { return QString::fromStdString(folder_->path().string()); }
    // requestClose blocks, so it runs on a thread of its own while this one answers.
    struct Asker {
        std::atomic<int> result{-1};
        std::atomic<bool> userAsked{false};
        std::thread thread;
        Asker(const QString& name, const QString& folder) {
            thread = std::thread([this, name, folder] {
                result = int(
                    qt_adapters::requestClose(name, folder, 2000, [this] { userAsked = true; }));
            });
        }
        ~Asker() { thread.join(); }
        std::optional<CloseReply> reply() {
            if (!QTest::qWaitFor([&] { return result != -1; }, 5000)) return std::nullopt;
            return CloseReply(result.load());
        }
    };
    static bool noClients(const InstanceChannel& channel) {
        return channel.findChildren<QLocalSocket*>().isEmpty();
    }

  private slots:
    void init() { folder_ = std::make_unique<testing_support::TestFolder>("instance_test"); }
    void cleanup() { folder_.reset(); }

    void aRunningInstanceIsAskedToClose() {
        InstanceChannel channel(QStringLiteral("color"), folder());
        QVERIFY(channel.listening());
        AskingWindow window;
        channel.serve(&window, [] { return false; });
        window.show();
        QSignalSpy closing(&channel, &InstanceChannel::closeRequested);
        QCOMPARE(Asker(QStringLiteral("color"), folder()).reply(), CloseReply::Closing);
        QCOMPARE(closing.count(), 1);
        QVERIFY(!window.isVisible());
        // Another program's name reaches nobody.
        QCOMPARE(Asker(QStringLiteral("oscillograph"), folder()).reply(), CloseReply::NoInstance);
        QCOMPARE(closing.count(), 1);
    }

    void theFirstInstanceAnswersForTheName() {
        auto first = std::make_unique<InstanceChannel>(QStringLiteral("color"), folder());
        InstanceChannel second(QStringLiteral("color"), folder());
        QVERIFY(first->listening());
        QVERIFY(!second.listening());
        first.reset();
        InstanceChannel third(QStringLiteral("color"), folder());
        QVERIFY(third.listening());
    }

    // The updater hears that the user is being asked, then what they chose.
    void aWaitingClientHearsTheQuestionAndTheOutcome() {
        for (const bool userCloses : {true, false}) {
            InstanceChannel channel(QStringLiteral("color"), folder());
            AskingWindow window;
            channel.serve(&window, [] { return true; });
            window.show();
            Asker asker(QStringLiteral("color"), folder());
            window.question = [&] {
                // The question is open until the updater has heard of it.
                return QTest::qWaitFor([&] { return asker.userAsked.load(); }, 5000) && userCloses;
            };
            QCOMPARE(asker.reply(), userCloses ? CloseReply::Closing : CloseReply::Kept);
            QVERIFY(asker.userAsked);
            QCOMPARE(window.asked, 1);
            QCOMPARE(window.isVisible(), !userCloses);
        }
    }

    // The client disconnects while the question is open; the answer then goes
    // nowhere, the window does what its user said, and a later request is served.
    void aClientThatLeavesMidQuestionHarmsNothing() {
        for (const bool userCloses : {false, true}) {
            InstanceChannel channel(QStringLiteral("color"), folder());
            AskingWindow window;
            channel.serve(&window, [] { return true; });
            window.show();
            QLocalSocket client;
            client.connectToServer(qt_adapters::instanceSocketName("color", folder()));
            QVERIFY(client.waitForConnected(2000));
            window.question = [&] {
                client.disconnectFromServer();
                // Its socket on the channel's side is gone before the user answers.
                return QTest::qWaitFor([&] { return noClients(channel); }, 5000) && userCloses;
            };
            // Requests while one is pending join it instead of asking again.
            client.write("close\nclose\n");
            client.flush();
            QTRY_COMPARE(window.asked, 1);
            QTRY_VERIFY(noClients(channel));
            QCOMPARE(window.isVisible(), !userCloses);
            if (userCloses) continue;
            window.question = [] { return true; };
            QCOMPARE(Asker(QStringLiteral("color"), folder()).reply(), CloseReply::Closing);
            QVERIFY(!window.isVisible());
        }
    }
};

QTEST_MAIN(InstanceChannelTest)
#include "instance_channel_test.moc"
