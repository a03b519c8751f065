// A qualification run on the simulated charger, stopped part-way the ways a
// user or the instrument stops it.
#include "qualify/qualification_run.h"

#include <gtest/gtest.h>

#include "common/profile.h"
#include "qualify/qualification_report.h"
#include "simulator/simulated_device.h"
#include "support/quick_clock.h"
#include "support/test_folder.h"

namespace {

using namespace std::chrono_literals;
using qualify::QualificationRun;
using qualify::Verdict;

class QualificationRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        simulator::InstrumentSettings settings;
        settings.recordsPerSecond = 0;
        settings.faultRate = 0;
        instrument_ = std::make_shared<simulator::Instrument>(settings);
        device_ = std::make_unique<simulator::SimulatedDevice>(instrument_,
                                                               folder_.file("instrument.lock"));
        ASSERT_TRUE(store_);
        session_ = std::make_unique<analyzer::Session>(*device_, *store_, profile_, loop_, clock_,
                                                       listener_);
        session_->setMode(device::kModeChargingDevice);
        ASSERT_TRUE(session_->startListening());
    }
    void TearDown() override { session_->closeAnalyzer(); }

    std::unique_ptr<QualificationRun> makeRun() {
        return std::make_unique<QualificationRun>(
            *session_, *store_, loop_, clock_, qualify::Plan{},
            QualificationRun::Observer{
                [this](const qualify::RunStep& step) { steps_.push_back(step); },
                [this] { ++finishedCalls_; }});
    }

    testing_support::IsolatedLocks locks_;
    testing_support::TestFolder folder_{"qualification_run_test"};
    std::unique_ptr<ufcs::CaptureStore> store_ = ufcs::CaptureStore::create();
    testing_support::QuickClock clock_;
    common::TaskLoop loop_{clock_};
    common::MemoryProfile profile_;
    analyzer::SessionListener listener_;
    std::shared_ptr<simulator::Instrument> instrument_;
    std::unique_ptr<simulator::SimulatedDevice> device_;
    std::unique_ptr<analyzer::Session> session_;
    std::vector<qualify::RunStep> steps_;
    int finishedCalls_ = 0;
};

// Stopped after a few sends: those are judged, the others are NOT MEASURABLE
// as not reached, and no report of it reads as a pass.
TEST_F(QualificationRunTest, StoppedPartWayJudgesWhatItReachedAndListsTheRest) {
    auto run = makeRun();
    run->start();
    ASSERT_TRUE(loop_.runUntil([&] { return run->step().done >= 7; }, 30s));
    run->stop("测试被中断");
    EXPECT_TRUE(run->stopping());
    ASSERT_TRUE(loop_.runUntil([&] { return run->finished(); }, 10s));
    EXPECT_EQ(finishedCalls_, 1);
    ASSERT_TRUE(run->problem().empty());

    const qualify::QualificationReport& report = run->report();
    EXPECT_FALSE(report.complete());
    EXPECT_FALSE(report.passed());
    EXPECT_EQ(report.overallVerdict(), "INCOMPLETE");
    EXPECT_EQ(report.count(Verdict::Fail), 0u);
    std::size_t notReached = 0;
    for (const qualify::TestResult& test : report.tests) {
        if (test.reason.find("没有做到") == std::string::npos) continue;
        ++notReached;
        EXPECT_EQ(test.verdict, Verdict::NotMeasurable) << test.id;
        EXPECT_TRUE(test.rows.empty()) << test.id;
        EXPECT_TRUE(test.measured.empty()) << test.id;
    }
    EXPECT_GT(notReached, 10u);
    for (const char* reached : {"handshake", "capabilities.time", "source-info"}) {
        const auto it = std::find_if(report.tests.begin(), report.tests.end(),
                                     [&](const qualify::TestResult& t) { return t.id == reached; });
        ASSERT_NE(it, report.tests.end()) << reached;
        EXPECT_EQ(it->verdict, Verdict::Pass) << reached << ": " << it->reason;
    }
    // The steps came in order, each once.
    ASSERT_GE(steps_.size(), 7u);
    for (std::size_t i = 1; i < steps_.size(); ++i)
        EXPECT_EQ(steps_[i].done, i - 1);

    const std::string json = qualify::reportJson(report, {});
    EXPECT_NE(json.find("\"verdict\":\"INCOMPLETE\",\"complete\":false,\"stopped\":\"测试被中断\""),
              std::string::npos)
        << json.substr(0, 600);
    const std::vector<common::JUnitCase> cases = qualify::junitCases(report);
    ASSERT_FALSE(cases.empty());
    EXPECT_EQ(cases.front().outcome, common::JUnitCase::Outcome::Failed);
    EXPECT_NE(qualify::reportText(report).find("测试没有做完：测试被中断"), std::string::npos);
}

// The instrument gone: the run ends at once, without waiting for a quiet bus;
// a second stop changes nothing.
TEST_F(QualificationRunTest, TheInstrumentGoneEndsTheRunAtOnce) {
    auto run = makeRun();
    run->start();
    ASSERT_TRUE(loop_.runUntil([&] { return run->step().done >= 2; }, 30s));
    run->stop("仪器停止了", true);
    EXPECT_TRUE(run->finished());
    run->stop("again", true);
    EXPECT_EQ(finishedCalls_, 1);
    EXPECT_EQ(run->report().stoppedBecause, "仪器停止了");
}

// Stopped before the charger's modes came: nothing to judge, and it says so.
TEST_F(QualificationRunTest, StoppedBeforeTheModesJudgesNothing) {
    auto run = makeRun();
    run->start();
    run->stop("测试被停止");
    EXPECT_TRUE(run->finished());
    EXPECT_EQ(run->problem(), "测试被停止，没有做任何测试");
    EXPECT_TRUE(run->report().tests.empty());
}

// A whole run destroyed mid-send leaves nothing behind that calls into it.
TEST_F(QualificationRunTest, ARunDestroyedMidSendIsForgotten) {
    auto run = makeRun();
    run->start();
    ASSERT_TRUE(loop_.runUntil([&] { return run->step().done >= 3; }, 30s));
    run.reset();
    // The send's completion comes through the loop once the link has written it.
    ASSERT_TRUE(loop_.runUntil([&] { return !session_->linkBusy(); }, 10s));
    loop_.runPending();
    EXPECT_EQ(finishedCalls_, 0);
}

}  // namespace
