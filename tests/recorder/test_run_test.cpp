// A test run against the simulated instrument, its questions answered by the test.
#include "recorder/test_run.h"

#include <gtest/gtest.h>

#include <atomic>

#include "recorder/osa_file.h"
#include "simulator/simulated_device.h"
#include "support/owner_thread_guard.h"
#include "support/test_folder.h"

namespace {

using namespace std::chrono_literals;
using Answer = recorder::TestRunListener::Answer;

struct Listener final : recorder::TestRunListener {
    Answer askToSave() override {
        ++saveQuestions;
        return answer;
    }
    bool saveDocument() override { return saved; }
    bool confirmContinue() override { return true; }
    std::optional<recorder::TimedStop> readTimedStop() override { return timed; }
    void setTimedStopLive(bool live) override { timedLocked = live; }
    void showTimedStopNotice(int hours, int minutes) override {
        notices.push_back(hours * 60 + minutes);
    }
    void showMessage(const std::string& text) override { messages.push_back(text); }
    void onNewDocument() override { ++newDocuments; }
    void onTestActive(bool, bool) override {}
    void setStatusTexts(const std::string& a, const std::string& b) override {
        status = a + "|" + b;
    }
    void resetOutputSwitch(bool disable) override { switchDisabled = disable; }
    void onRefresh(uint32_t, bool changed, const std::string& text) override {
        refreshes += changed;
        timedText = text;
    }
    void setJournalNote(const std::string& note) override { journalNotes.push_back(note); }

    Answer answer = Answer::No;
    bool saved = true;
    std::optional<recorder::TimedStop> timed = recorder::TimedStop{};
    int saveQuestions = 0, newDocuments = 0, refreshes = 0;
    bool timedLocked = false, switchDisabled = false;
    std::vector<int> notices;
    std::vector<std::string> messages, journalNotes;
    std::string status, timedText;
};

struct Awake final : common::WakeKeeper {
    void keepAwake(bool on) override { awake = on; }
    bool awake = false;
};

class TestRunTest : public ::testing::Test {
  protected:
    bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 5s); }
    // A start goes on once the instrument has answered on its link.
    void start(recorder::TestRun& r) {
        r.start();
        EXPECT_TRUE(waitFor([&] { return !r.starting(); }));
    }
    void continueTest(recorder::TestRun& r) {
        r.continueTest();
        EXPECT_TRUE(waitFor([&] { return !r.starting(); }));
    }
    // The link has sent what a stop leaves it to send, and closed the device.
    bool linkSettled() {
        return waitFor([&] { return !link.busy(); });
    }
    bool recordSamples(uint32_t count) {
        return waitFor([&] { return document.channel(0).count() >= count; });
    }
    int lastCommand() const { return instrument->receivedFrames().back()[8]; }

    // Every test also checks that nothing paused, waited or talked to the
    // instrument on the owner's (the window's) thread: all of that belongs to the link.
    void TearDown() override {
        EXPECT_EQ(guard.violations(), 0) << "on the owner's thread: " << guard.last();
    }

    testing_support::IsolatedLocks locks;
    testing_support::TestFolder folder{"test_run_test"};
    std::shared_ptr<simulator::Instrument> instrument = std::make_shared<simulator::Instrument>();
    simulator::SimulatedDevice simulated{instrument, folder.file("instrument.lock")};
    testing_support::OwnerThreadGuard guard;
    testing_support::GuardedDevice device{simulated, guard};
    testing_support::GuardedClock clock{guard};
    common::SystemClock loopClock;  // the loop's own idling is what a window does
    common::TaskLoop loop{loopClock};
    common::MemoryProfile profile;
    recorder::RecorderSettings settings{profile};
    recorder::SampleDocument document;
    instrument::MeterLink link{device, clock, loop};
    Listener listener;
    Awake awake;
    std::filesystem::path journal = folder.path() / "t.osa.journal";
    recorder::TestRun run{
        {document, link, settings, loop, clock, listener, awake, {journal, {}, {}}}};
};

TEST_F(TestRunTest, ARunRecordsStopsInOrderAndItsJournalGoesWithTheSave) {
    instrument->setCalibrationValue(instrument::kUncalibrated);
    start(run);
    ASSERT_TRUE(run.active()) << (listener.messages.empty() ? "" : listener.messages[0]);
    EXPECT_TRUE(awake.awake);
    EXPECT_TRUE(listener.timedLocked);
    EXPECT_TRUE(std::filesystem::exists(journal));
    ASSERT_TRUE(recordSamples(6));
    EXPECT_TRUE(document.modified);
    EXPECT_EQ(document.currentCalibrated, 0);
    EXPECT_EQ(document.channel(2).extremes().maximum, 1);  // currents recorded as 0
    EXPECT_GT(run.totals().samples.load(), 5u);

    run.stop();
    EXPECT_FALSE(run.active());
    ASSERT_TRUE(linkSettled());
    EXPECT_EQ(lastCommand(), 2);  // StopMeasuring last
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(listener.status, "|测试停止");
    EXPECT_FALSE(awake.awake);
    EXPECT_FALSE(listener.timedLocked);
    EXPECT_TRUE(std::filesystem::exists(journal));  // unsaved samples keep it

    ASSERT_TRUE(recorder::saveOsa(document, folder.path() / "t.osa").ok);
    run.documentSaved();
    EXPECT_FALSE(std::filesystem::exists(journal));
}

TEST_F(TestRunTest, UnsavedSamplesAskFirstAndAbsenceSaysWhy) {
    document.channel(0).append(1);
    document.modified = true;
    listener.answer = Answer::Cancel;
    start(run);
    EXPECT_EQ(listener.saveQuestions, 1);
    EXPECT_TRUE(instrument->receivedFrames().empty());  // nothing opened
    listener.answer = Answer::Yes;
    listener.saved = false;  // a save that fails keeps the samples
    start(run);
    EXPECT_EQ(document.channel(0).count(), 1u);
    EXPECT_FALSE(run.active());

    instrument->unplug();
    listener.answer = Answer::No;
    start(run);
    EXPECT_FALSE(run.active());
    ASSERT_EQ(listener.messages.size(), 1u);
    // The Part's text, then the device's own reason.
    EXPECT_EQ(listener.messages[0],
              std::string(instrument::kMeterConnectFailed) + "\n（模拟仪器没有连接）");
    EXPECT_EQ(listener.newDocuments, 0);
}

// Nothing is let go before the start is known to succeed: a start that fails
// after "No" keeps the samples, their journal and the unsaved state.
TEST_F(TestRunTest, AStartThatFailsLetsNothingGo) {
    start(run);
    ASSERT_TRUE(recordSamples(6));
    run.stop();
    const uint32_t samples = document.channel(0).count();
    listener.answer = Answer::No;
    struct Case {
        const char* what;
        std::function<void()> breakIt;
    };
    for (const Case& c :
         {Case{"no instrument", [&] { instrument->unplug(); }}, Case{"bad timed stop", [&] {
                                                                         instrument->plugIn();
                                                                         listener.timed.reset();
                                                                     }}}) {
        c.breakIt();
        start(run);
        EXPECT_FALSE(run.active()) << c.what;
        EXPECT_EQ(document.channel(0).count(), samples) << c.what;
        EXPECT_TRUE(document.modified) << c.what;
        EXPECT_TRUE(std::filesystem::exists(journal)) << c.what;
        EXPECT_EQ(listener.newDocuments, 1) << c.what;
    }
}

// 继续测试 records into the channels the document holds, whatever the
// settings say, so a loaded file's channels stay the same length.
TEST_F(TestRunTest, AContinuedTestKeepsItsChannelsTheSameLength) {
    const struct {
        const char* what;
        recorder::ChannelFlags held;  // the channels the document holds samples in
    } cases[] = {
        {"voltage and current, settings now without current", {true, false, true}},
        {"voltage only, settings with current", {true, false, false}},
    };
    for (const auto& c : cases) {
        run.documentSaved();  // the last one's journal goes before its samples do
        document.reset();
        for (uint16_t i = 0; i < 8; ++i)
            document.appendSample(5000, 100, c.held);
        profile.writeInt("Setting", "Chennel3", c.held[2] ? 0 : 1);
        profile.writeInt("Setting", "Chennel4", 1);
        continueTest(run);
        ASSERT_TRUE(run.active()) << c.what;
        ASSERT_TRUE(recordSamples(14)) << c.what;
        run.stop();
        for (int channel : {1, 2, 3}) {
            const uint32_t expected = c.held[channel] ? document.channel(0).count() : 0;
            EXPECT_EQ(document.channel(channel).count(), expected) << c.what << " " << channel;
        }
    }
}

TEST_F(TestRunTest, ATimedStopOfNoTimeStopsAtOnce) {
    listener.timed = recorder::TimedStop{true, 0, 0};
    start(run);
    EXPECT_EQ(listener.notices, (std::vector<int>{0}));
    ASSERT_TRUE(waitFor([&] { return !run.active(); }));
    EXPECT_EQ(listener.status, "定时停止|定时停止");
    EXPECT_EQ(profile.readInt("CComTime", "m_DingshiSel", 0), 1);
}

// The timed stop set or changed during a test counts from the test's start:
// a time ahead shows its time left, one already past stops now, off cancels.
TEST_F(TestRunTest, ATimedStopChangedDuringATestAppliesAtOnce) {
    start(run);
    ASSERT_TRUE(run.active());
    run.changeTimedStop({true, 2, 30});
    EXPECT_TRUE(listener.timedText.starts_with("定时：2:29:5")) << listener.timedText;
    EXPECT_EQ(profile.readInt("CComTime", "m_DingshiSel", 0), 1);  // kept for the next test
    run.changeTimedStop({false, 2, 30});
    EXPECT_TRUE(listener.timedText.empty());
    ASSERT_TRUE(recordSamples(3));
    EXPECT_TRUE(run.active());
    run.changeTimedStop({true, 0, 0});  // already past
    ASSERT_TRUE(waitFor([&] { return !run.active(); }));
    EXPECT_EQ(listener.status, "定时停止|定时停止");
    run.changeTimedStop({true, 0, 5});  // no test: only kept
    EXPECT_FALSE(run.active());
}

TEST_F(TestRunTest, UnpluggingStopsTheTestAndContinueAppends) {
    start(run);
    ASSERT_TRUE(recordSamples(6));
    instrument->unplug();
    ASSERT_TRUE(waitFor([&] { return !run.active(); }));
    ASSERT_EQ(listener.messages.size(), 1u);
    EXPECT_EQ(listener.messages[0], recorder::kFaultRemovedText);
    EXPECT_TRUE(listener.switchDisabled);

    const uint32_t before = document.channel(0).count();
    instrument->plugIn();
    ASSERT_TRUE(run.canContinue());
    continueTest(run);
    ASSERT_TRUE(run.active());
    // Removals reported late for the first test do not stop this one.
    ASSERT_TRUE(recordSamples(before + 3));
    EXPECT_TRUE(run.active());
    EXPECT_TRUE(waitFor([&] { return listener.refreshes > 0; }));
    run.stop();
    EXPECT_EQ(listener.newDocuments, 1);  // continuing made no new document
}

// Without a journal the test still runs, and the user is told it is not
// protected; a journal that stops writing is told once, and retried.
TEST_F(TestRunTest, AJournalThatCannotWriteNeverStopsTheTest) {
    const auto runWith = [&](recorder::JournalPlace place) {
        return std::make_unique<recorder::TestRun>(recorder::TestRun::Parts{
            document, link, settings, loop, clock, listener, awake, std::move(place)});
    };
    auto elsewhere = runWith({folder.path() / "missing" / "t.osa.journal", {}, {}});
    start(*elsewhere);
    EXPECT_TRUE(elsewhere->active());
    ASSERT_FALSE(listener.journalNotes.empty());
    EXPECT_NE(listener.journalNotes.back().find("本次测试没有恢复日志"), std::string::npos);
    EXPECT_NE(listener.journalNotes.back().find("无法建立恢复日志"), std::string::npos);
    EXPECT_TRUE(listener.messages.empty());
    elsewhere->stop();

    std::atomic<bool> full{false};
    recorder::JournalFileOps ops;
    const recorder::JournalFileOps system = recorder::systemJournalOps();
    ops.write = [&](int fd, const uint8_t* bytes, std::size_t size) {
        return full ? ENOSPC : system.write(fd, bytes, size);
    };
    auto run2 = runWith({folder.path() / "full.osa.journal", {}, ops});
    listener.answer = Answer::No;
    start(*run2);
    ASSERT_TRUE(run2->active());
    EXPECT_EQ(listener.journalNotes.back(), "");
    full = true;
    ASSERT_TRUE(waitFor([&] { return !listener.journalNotes.back().empty(); }));
    EXPECT_NE(listener.journalNotes.back().find("恢复日志写入失败"), std::string::npos);
    ASSERT_EQ(listener.messages.size(), 1u);  // told once, not every second
    EXPECT_NE(listener.messages[0].find("full.osa.journal 写入失败"), std::string::npos);
    const uint32_t shown = document.channel(0).count();
    ASSERT_TRUE(recordSamples(shown + 25));
    EXPECT_EQ(listener.messages.size(), 1u);
    full = false;
    ASSERT_TRUE(waitFor([&] { return listener.journalNotes.back().empty(); }));
    EXPECT_TRUE(run2->active());
    run2->stop();
}

// Start, sampling, stop and continue leave the owner's (the window's) thread
// free: every pause, wait and exchange with the instrument runs on its link.
TEST_F(TestRunTest, NothingWaitsOrTalksToTheInstrumentOnTheOwnersThread) {
    start(run);
    ASSERT_TRUE(run.active());
    ASSERT_TRUE(recordSamples(5));
    run.stop();
    ASSERT_TRUE(linkSettled());
    EXPECT_FALSE(simulated.isOpen());
    continueTest(run);
    ASSERT_TRUE(run.active());
    run.stop();
    ASSERT_TRUE(linkSettled());
    EXPECT_EQ(guard.violations(), 0) << "on the owner's thread: " << guard.last();
    EXPECT_EQ(lastCommand(), 2);  // StopMeasuring, on the link
}

TEST(TimedStopText, ShowsHoursOrDays) {
    EXPECT_EQ(recorder::timedStopText(3725), "定时：1:02:05");
    EXPECT_EQ(recorder::timedStopText(0), "定时：0:00:00");
    EXPECT_EQ(recorder::timedStopText(90061), "定时： 1:1:01:01");
}

}  // namespace
