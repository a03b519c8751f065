#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "qt/instance_channel.h"
#include "support/test_folder.h"

using qt_adapters::InstanceChannel;

class InstanceChannelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestFolder> folder_;

    QString folder() const { return QString::fromStdString(folder_->path().string()); }
    // requestClose blocks, so it runs on a thread of its own while this one answers.
    bool askToClose(const QString& name) {
        std::atomic<int> result{-1};
        std::thread asker([&] { result = qt_adapters::requestClose(name, folder(), 2000); });
        const bool answered = QTest::qWaitFor([&] { return result != -1; }, 5000);
        asker.join();
        return answered && result == 1;
    }

  private slots:
    void init() { folder_ = std::make_unique<testing_support::TestFolder>("instance_test"); }
    void cleanup() { folder_.reset(); }

    void aRunningInstanceIsAskedToClose() {
        InstanceChannel channel(QStringLiteral("color"), folder());
        QVERIFY(channel.listening());
        QSignalSpy closing(&channel, &InstanceChannel::closeRequested);
        QVERIFY(askToClose(QStringLiteral("color")));
        QCOMPARE(closing.count(), 1);
        // Another program's name reaches nobody.
        QVERIFY(!askToClose(QStringLiteral("oscillograph")));
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
};

QTEST_MAIN(InstanceChannelTest)
#include "instance_channel_test.moc"
