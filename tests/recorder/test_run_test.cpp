// A test run against the simulated instrument, its questions answered by the test.
#include "recorder/test_run.h"

#include <gtest/gtest.h>

#include "recorder/osa_file.h"
#include "simulator/simulated_device.h"
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
    void lockTimedStop(bool locked) override { timedLocked = locked; }
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

    Answer answer = Answer::No;
    bool saved = true;
    std::optional<recorder::TimedStop> timed = recorder::TimedStop{};
    int saveQuestions = 0, newDocuments = 0, refreshes = 0;
    bool timedLocked = false, switchDisabled = false;
    std::vector<int> notices;
    std::vector<std::string> messages;
    std::string status, timedText;
};

struct Awake final : common::WakeKeeper {
    void keepAwake(bool on) override { awake = on; }
    bool awake = false;
};

class TestRunTest : public ::testing::Test {
  protected:
    bool waitFor(const std::function<bool()>& done) { return loop.runUntil(done, 5s); }
    bool recordSamples(uint32_t count) {
        return waitFor([&] { return document.channel(0).count() >= count; });
    }
    int lastCommand() const { return instrument->receivedFrames().back()[8]; }

    testing_support::IsolatedLocks locks;
    testing_support::TestFolder folder{"test_run_test"};
    std::shared_ptr<simulator::Instrument> instrument = std::make_shared<simulator::Instrument>();
    simulator::SimulatedDevice device{instrument, folder.file("instrument.lock")};
    common::SystemClock clock;
    common::TaskLoop loop{clock};
    common::MemoryProfile profile;
    recorder::RecorderSettings settings{profile};
    recorder::SampleDocument document;
    recorder::MeterLink link{device, clock, loop};
    Listener listener;
    Awake awake;
    std::filesystem::path journal = folder.path() / "t.osa.journal";
    recorder::TestRun run{{document, link, settings, loop, clock, listener, awake, journal}};
};

TEST_F(TestRunTest, ARunRecordsStopsInOrderAndItsJournalGoesWithTheSave) {
    instrument->setCalibrationValue(recorder::kUncalibrated);
    run.start();
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
    run.start();
    EXPECT_EQ(listener.saveQuestions, 1);
    EXPECT_TRUE(instrument->receivedFrames().empty());  // nothing opened
    listener.answer = Answer::Yes;
    listener.saved = false;  // a save that fails keeps the samples
    run.start();
    EXPECT_EQ(document.channel(0).count(), 1u);
    EXPECT_FALSE(run.active());

    instrument->unplug();
    listener.answer = Answer::No;
    run.start();
    EXPECT_FALSE(run.active());
    ASSERT_EQ(listener.messages.size(), 1u);
    EXPECT_EQ(listener.messages[0], recorder::kMeterConnectFailed);
    EXPECT_EQ(listener.newDocuments, 0);
}

TEST_F(TestRunTest, ATimedStopOfNoTimeStopsAtOnce) {
    listener.timed = recorder::TimedStop{true, 0, 0};
    run.start();
    EXPECT_EQ(listener.notices, (std::vector<int>{0}));
    ASSERT_TRUE(waitFor([&] { return !run.active(); }));
    EXPECT_EQ(listener.status, "定时停止|定时停止");
    EXPECT_EQ(profile.readInt("CComTime", "m_DingshiSel", 0), 1);
}

TEST_F(TestRunTest, UnpluggingStopsTheTestAndContinueAppends) {
    run.start();
    ASSERT_TRUE(recordSamples(6));
    instrument->unplug();
    ASSERT_TRUE(waitFor([&] { return !run.active(); }));
    ASSERT_EQ(listener.messages.size(), 1u);
    EXPECT_EQ(listener.messages[0], recorder::kFaultRemovedText);
    EXPECT_TRUE(listener.switchDisabled);

    const uint32_t before = document.channel(0).count();
    instrument->plugIn();
    ASSERT_TRUE(run.canContinue());
    run.continueTest();
    ASSERT_TRUE(run.active());
    // Removals reported late for the first test do not stop this one.
    ASSERT_TRUE(recordSamples(before + 3));
    EXPECT_TRUE(run.active());
    EXPECT_GT(listener.refreshes, 0);
    run.stop();
    EXPECT_EQ(listener.newDocuments, 1);  // continuing made no new document
}

TEST_F(TestRunTest, NoJournalNoTest) {
    recorder::TestRun elsewhere{{document, link, settings, loop, clock, listener, awake,
                                 folder.path() / "missing" / "t.osa.journal"}};
    elsewhere.start();
    EXPECT_FALSE(elsewhere.active());
    ASSERT_EQ(listener.messages.size(), 1u);
    EXPECT_NE(listener.messages[0].find("无法建立恢复日志"), std::string::npos);
    EXPECT_FALSE(device.isOpen());
}

TEST(TimedStopText, ShowsHoursOrDays) {
    EXPECT_EQ(recorder::timedStopText(3725), "定时：1:02:05");
    EXPECT_EQ(recorder::timedStopText(0), "定时：0:00:00");
    EXPECT_EQ(recorder::timedStopText(90061), "定时： 1:1:01:01");
}

}  // namespace
