#include "instrument/meter_link.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/byte_order.h"

namespace {

using namespace std::chrono_literals;
using instrument::MeterCommand;

// Time moves only when someone sleeps or a read waits.
class ManualClock final : public common::Clock {
  public:
    TimePoint now() const override { return TimePoint(std::chrono::milliseconds(ms_)); }
    common::LocalTime localTime() const override { return {}; }
    void sleepFor(std::chrono::milliseconds d) override { ms_ += d.count(); }
    std::atomic<long> ms_{0};
};

// Replies a test queues; an empty queue is a read that waits 300 ms and times out.
class ScriptedMeter final : public device::HidDevice {
  public:
    explicit ScriptedMeter(ManualClock& clock) : clock_(clock) {}
    bool open() override { return open_ = true; }
    void close() override {
        closedAfterWrites = writes.size();
        open_ = false;
    }
    bool isOpen() const override { return open_; }
    int write(const uint8_t* buffer) override {
        writes.emplace_back(buffer, buffer + device::kLinkReportLength);
        return device::kWritten;
    }
    int read(uint8_t* buffer) override {
        if (replies.empty()) {
            clock_.sleepFor(300ms);
            return device::kTimedOut;
        }
        buffer[0] = 0;
        std::copy(replies.front().begin(), replies.front().end(), buffer + 1);
        replies.pop_front();
        return device::kDataRead;
    }
    std::string errorText() const override { return {}; }

    std::deque<device::Report> replies;
    std::vector<std::vector<uint8_t>> writes;
    std::size_t closedAfterWrites = 0;

  private:
    ManualClock& clock_;
    bool open_ = false;
};

device::Report connectReply(uint16_t calibration) {
    device::Report report{};
    report[0] = 0x55;
    common::writeBe16(report.data() + 20, calibration);
    return report;
}
device::Report startReply(uint8_t code) {
    device::Report report{};
    report[6] = code;
    return report;
}

// The owner's loop: what the link posts waits here until the test runs it.
struct Loop final : common::EventLoop {
    void post(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        }
        posted.notify_all();
    }
    common::TimerId startTimer(std::chrono::milliseconds, std::function<void()>) override {
        return 1;
    }
    void stopTimer(common::TimerId) override {}
    // Runs what was posted; with `wait`, first waits up to 5 s for something to be.
    bool runAll(bool wait = false) {
        std::vector<std::function<void()>> batch;
        {
            std::unique_lock lock(mutex);
            if (wait && !posted.wait_for(lock, 5s, [&] { return !tasks.empty(); })) return false;
            batch = std::move(tasks);
            tasks.clear();
        }
        for (auto& task : batch)
            task();
        return true;
    }
    std::mutex mutex;
    std::condition_variable posted;
    std::vector<std::function<void()>> tasks;
};

class MeterLinkTest : public ::testing::Test {
  protected:
    // The connect's answer, as the owner's loop is told it.
    std::optional<instrument::MeterLink::Connection> connectAndWait() {
        std::optional<instrument::MeterLink::Connection> answer;
        link.connect([&](const instrument::MeterLink::Connection& c) { answer = c; });
        EXPECT_TRUE(loop.runAll(true));
        return answer;
    }
    // Connects with the device info answered the second time and the start accepted.
    void connect(uint16_t calibration = 1000) {
        device.replies = {connectReply(calibration), connectReply(calibration), startReply(0x12)};
        const auto answer = connectAndWait();
        ASSERT_TRUE(answer && answer->ok);
        ASSERT_TRUE(link.connected());
        device.writes.clear();
    }
    // Until the link has run everything posted to it.
    bool settle() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (link.busy()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::yield();
        }
        return true;
    }
    void sample(uint16_t mv, uint16_t ma, uint8_t code = 0x03) {
        device.replies.push_back(instrument::sampleReply({mv, ma}, code));
    }
    // Samples as the link hands them on, without a link thread: ticks are called directly.
    void armSampling() {
        link.arm(
            [this](instrument::MeterSample s) {
                samples.push_back(s);
                return true;
            },
            [this](int code) { faults.push_back(code); });
    }

    ManualClock clock;
    ScriptedMeter device{clock};
    Loop loop;
    instrument::MeterLink link{device, clock, loop};
    std::vector<instrument::MeterSample> samples;
    std::vector<int> faults;
};

TEST(MeterFrames, RequestsAreByteForByte) {
    const auto head = [](const device::CommandFrame& f) {
        return std::vector<uint8_t>(f.begin(), f.begin() + 11);
    };
    using V = std::vector<uint8_t>;
    EXPECT_EQ(head(instrument::meterRequest(instrument::MeterCommand::StartMeasuring)),
              (V{0, 1, 0x11, 0x11, 4, 1, 1, 0x64, 1, 1, 0}));
    EXPECT_EQ(head(instrument::meterRequest(instrument::MeterCommand::StopMeasuring)),
              (V{0, 1, 0x11, 0x11, 4, 1, 1, 0x64, 2, 0, 0}));
    EXPECT_EQ(head(instrument::meterRequest(instrument::MeterCommand::ReadSample)),
              (V{0, 1, 0x11, 0x11, 4, 4, 1, 0x64, 3, 0, 0}));
    EXPECT_EQ(head(instrument::meterRequest(instrument::MeterCommand::ReadDeviceInfo)),
              (V{0, 1, 0x11, 0x11, 4, 1, 1, 0x64, 4, 0, 0}));
    EXPECT_EQ(head(instrument::outputSwitchRequest(1)), (V{1, 1, 0x11, 4, 3, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(head(instrument::moduleStatusQuery()), (V{1, 0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (const auto& frame : {instrument::meterRequest(instrument::MeterCommand::ReadSample),
                              instrument::outputSwitchRequest(0)}) {
        EXPECT_TRUE(std::all_of(frame.begin() + 11, frame.end(), [](uint8_t b) { return b == 0; }));
    }
    // 0xFFFF mV is 65.535 V, never negative.
    const auto parsed =
        instrument::parseSampleReply(instrument::sampleReply({0xFFFF, 0x1234}).data());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->millivolts, 0xFFFF);
    EXPECT_FALSE(instrument::parseSampleReply(instrument::sampleReply({1, 1}, 0x04).data()));
}

TEST_F(MeterLinkTest, ConnectFailuresSayWhyAndCloseTheDevice) {
    struct Case {
        std::deque<device::Report> replies;
        std::string_view message;
    } cases[] = {
        {{connectReply(1000)}, instrument::kNoDeviceInfo},  // no second answer
        {{connectReply(1000), connectReply(1000), startReply(0x0A)}, instrument::kDeviceRefused},
        {{connectReply(1000), connectReply(1000)}, instrument::kDeviceRefused},  // start unanswered
    };
    for (const Case& c : cases) {
        device.replies = c.replies;
        const auto answer = connectAndWait();
        ASSERT_TRUE(answer);
        EXPECT_FALSE(answer->ok);
        EXPECT_EQ(answer->message, c.message);
        EXPECT_FALSE(device.isOpen());
        EXPECT_FALSE(link.connected());
        // The stop procedure sent StopMeasuring before closing.
        EXPECT_EQ(device.writes.back()[8], 2);
    }
}

TEST_F(MeterLinkTest, SamplesCountMissesAndZeroUncalibratedCurrents) {
    connect(instrument::kUncalibrated);
    armSampling();
    sample(5000, 1500, 0x04);  // not a sample: the read goes on
    sample(5001, 1500);
    link.tick();
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0].millivolts, 5001);
    EXPECT_EQ(samples[0].milliamps, 0);
    EXPECT_EQ(link.missedSampleCount(), 0u);

    // 80 ticks without a sample are borne; the 81st raises fault 405 once.
    for (int i = 0; i < 80; ++i)
        link.tick();
    loop.runAll();
    EXPECT_TRUE(faults.empty());
    EXPECT_EQ(link.missedSampleCount(), 80u);
    link.tick();
    link.tick();
    loop.runAll();
    EXPECT_EQ(faults, (std::vector<int>{instrument::kFaultNoSamples}));
    EXPECT_EQ(link.ticksWithoutSample(), 81u);
}

TEST_F(MeterLinkTest, QueuedRequestsFollowTheirRules) {
    EXPECT_EQ(link.queue(instrument::outputSwitchRequest(1)),
              instrument::MeterLink::QueueResult::NotConnected);
    connect();
    // Connected without a test: sent at once, unless it only goes with a tick.
    EXPECT_EQ(link.queue(instrument::outputSwitchRequest(1)),
              instrument::MeterLink::QueueResult::SentNow);
    ASSERT_TRUE(settle());
    EXPECT_EQ(device.writes.back()[5], 1);
    EXPECT_EQ(link.queue(instrument::moduleStatusQuery(), false),
              instrument::MeterLink::QueueResult::AtNextTick);
    // A test start drops it; one queued during the test goes after the tick's sample.
    armSampling();
    link.queue(instrument::meterRequest(instrument::MeterCommand::ReadDeviceInfo), false);
    device.writes.clear();
    sample(9000, 2000);
    sample(9001, 2000);  // read once after the queued request, and kept
    const long before = clock.ms_;
    link.tick();
    ASSERT_EQ(device.writes.size(), 2u);
    EXPECT_EQ(device.writes[0][8], 3);
    EXPECT_EQ(device.writes[1][8], 4);
    EXPECT_EQ(samples.size(), 2u);
    EXPECT_EQ(clock.ms_ - before, 140);  // 40 ms before the request, 100 ms after
}

TEST_F(MeterLinkTest, StopSendsStopMeasuringAfterThePauseThenCloses) {
    connect();
    const long before = clock.ms_;
    link.stop();
    EXPECT_FALSE(link.connected());  // at once, for the owner
    ASSERT_TRUE(settle());
    ASSERT_EQ(device.writes.size(), 1u);
    EXPECT_EQ(device.writes[0][8], 2);
    EXPECT_EQ(device.closedAfterWrites, 1u);
    EXPECT_EQ(clock.ms_ - before, 210);
}

TEST_F(MeterLinkTest, AStopBeforeTheAnswerCancelsTheConnectAndClosesTheDevice) {
    device.replies = {connectReply(1000), connectReply(1000), startReply(0x12)};
    bool told = false;
    link.connect([&](const instrument::MeterLink::Connection&) { told = true; });
    EXPECT_TRUE(link.connecting());
    link.stop();
    EXPECT_FALSE(link.connecting());
    ASSERT_TRUE(settle());
    loop.runAll();
    EXPECT_FALSE(told);  // the answer came after the stop: nobody hears it
    EXPECT_FALSE(link.connected());
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(device.writes.back()[8], 2);  // StopMeasuring went out before the close
}

}  // namespace
