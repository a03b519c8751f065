#include <QCloseEvent>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <functional>
#include <thread>

#include "qt/program/instance_channel.h"
#include "support/other_user.h"
#include "support/test_folder.h"
#include "updater/close_request.h"

#ifdef Q_OS_LINUX
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#endif

using CloseReply = updater::CloseAnswer;
using qt_adapters::InstanceChannel;
namespace fs = std::filesystem;

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
        QString other;
        Asker(const QString& name, const QString& folder, const QString& program = {}) {
            thread = std::thread([this, name, folder, program] {
                const updater::CloseResult answer = updater::requestClose(
                    {name.toStdString(), std::filesystem::path(folder.toStdU16String()),
                     std::filesystem::path(program.toStdU16String()),
                     std::chrono::milliseconds(2000)},
                    [this] { userAsked = true; });
                other = QString::fromStdString(answer.other);
                result = int(answer.answer);
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

    // Only the program whose executable the updater will swap is closed.
    void aRequestNamesTheProgramItCloses() {
        testing_support::TestFolder programs("instance_programs");
        const QString here = QString::fromStdString(programs.file("color"));
        const QString elsewhere = QString::fromStdString(programs.file("other-color"));
        for (const QString& path : {here, elsewhere}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        InstanceChannel channel(QStringLiteral("color"), folder());
        channel.setProgramPath(elsewhere);
        AskingWindow window;
        channel.serve(&window, [] { return false; });
        window.show();
        Asker wrong(QStringLiteral("color"), folder(), here);
        QCOMPARE(wrong.reply(), CloseReply::Other);
        QCOMPARE(wrong.other, elsewhere);
        QVERIFY(window.isVisible());
        // Named by a link or a path of its own, it is the same program.
        const QString link = QString::fromStdString(programs.file("link"));
        QVERIFY(QFile::link(elsewhere, link));
        QCOMPARE(Asker(QStringLiteral("color"), folder(), link).reply(), CloseReply::Closing);
        QVERIFY(!window.isVisible());
    }

#ifdef Q_OS_LINUX
    // Another user of the computer can neither close our programs nor answer for them.
    void anotherUserIsNeitherServedNorBelieved() {
        if (geteuid() != 0) QSKIP(testing_support::kNotRoot);
        const QString socketPath = qt_adapters::instanceSocketName("color", folder());
        const QByteArray socketBytes = socketPath.toUtf8();
        const auto address = [&socketBytes] {
            sockaddr_un to{};
            to.sun_family = AF_UNIX;
            std::strncpy(to.sun_path, socketBytes.constData(), sizeof to.sun_path - 1);
            return to;
        };
        {
            InstanceChannel channel(QStringLiteral("color"), folder());
            AskingWindow window;
            channel.serve(&window, [] { return false; });
            window.show();
            // Even let through the folder and the socket's own rights, it is refused.
            QFile::setPermissions(socketPath, QFileDevice::Permissions(0x7777));
            fs::permissions(folder_->path(), fs::perms::all);
            const pid_t child = testing_support::startAsOtherUser([&] {
                const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un to = address();
                if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return 121;
                if (write(fd, "close\n", 6) != 6) return 122;
                char answer[16];
                return read(fd, answer, sizeof answer) > 0 ? 1 : 0;  // an answer: served
            });
            int status = -1;
            QVERIFY(QTest::qWaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }));
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
            QVERIFY(window.isVisible());
        }
        // Another user's socket where ours should be: not believed.
        QFile::remove(socketPath);
        const pid_t child = testing_support::startAsOtherUser([&] {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un at = address();
            if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 1) != 0)
                return 121;
            const int client = accept(fd, nullptr, nullptr);
            if (write(client, "ok\n", 3) != 3) return 122;
            char rest[64];
            while (read(client, rest, sizeof rest) > 0) {
            }
            return 0;
        });
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(socketPath); }));
        Asker asker(QStringLiteral("color"), folder());
        QCOMPARE(asker.reply(), CloseReply::Other);
        QCOMPARE(asker.other, QStringLiteral("另一个用户的程序"));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
#endif

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
