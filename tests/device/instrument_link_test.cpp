#include "device/instrument_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/virtual_clock.h"

namespace {

using namespace std::chrono_literals;

class NoDevice final : public device::HidDevice {
  public:
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    int write(const uint8_t*) override { return device::kWritten; }
    int read(uint8_t*) override { return device::kTimedOut; }
    std::string errorText() const override { return {}; }
};

// What the link thread did, in order, and a wait for it to have done enough.
struct Log {
    void add(std::string what) {
        std::lock_guard lock(mutex);
        entries.push_back(std::move(what));
        changed.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 5s, [&] { return entries.size() >= count; });
    }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex);
        return entries;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> entries;
};

TEST(InstrumentLink, JobsRunInOrderAndThoseLeftRunBeforeItGoes) {
    NoDevice device;
    testing_support::VirtualClock clock;
    Log log;
    {
        device::InstrumentLink link(device, clock, [](device::InstrumentLink::Job) {});
        for (int i = 0; i < 3; ++i)
            link.post([&log, &clock, i] {
                clock.sleepFor(100ms);  // a command sequence's pause
                log.add("job " + std::to_string(i));
            });
    }
    EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"job 0", "job 1", "job 2"}));
}

TEST(InstrumentLink, TicksKeepTheirScheduleAndJobsFitBetweenThem) {
    NoDevice device;
    testing_support::VirtualClock clock;
    Log log;
    std::vector<long long> tickTimes;
    device::InstrumentLink link(device, clock, [](device::InstrumentLink::Job) {});
    const auto start = clock.now();
    int ticks = 0;
    link.startTicking(100ms, [&] {
        tickTimes.push_back((clock.now() - start) / 1ms);
        if (++ticks == 1) clock.sleepFor(250ms);  // one slow exchange
        if (ticks == 5) link.stopTicking();
        log.add("tick");
    });
    ASSERT_TRUE(log.waitFor(5));
    // The slow tick makes the next one late; the ones after keep to 100 ms steps.
    EXPECT_EQ(tickTimes, (std::vector<long long>{100, 350, 350, 400, 500}));
    EXPECT_FALSE(link.ticking());

    link.post([&] { log.add("job after the ticks"); });
    ASSERT_TRUE(log.waitFor(6));
    EXPECT_EQ(log.snapshot().back(), "job after the ticks");
    EXPECT_EQ(tickTimes.size(), 5u);  // no tick after the stop
}

TEST(InstrumentLink, ResultsReachTheOwnerThroughItsLoop) {
    NoDevice device;
    testing_support::VirtualClock clock;
    std::mutex mutex;
    std::condition_variable posted;
    std::vector<device::InstrumentLink::Job> ownerTasks;
    device::InstrumentLink link(device, clock, [&](device::InstrumentLink::Job task) {
        std::lock_guard lock(mutex);
        ownerTasks.push_back(std::move(task));
        posted.notify_all();
    });
    int answer = 0;
    link.post([&] { link.postToOwner([&] { answer = 42; }); });
    std::unique_lock lock(mutex);
    ASSERT_TRUE(posted.wait_for(lock, 5s, [&] { return !ownerTasks.empty(); }));
    EXPECT_EQ(answer, 0);  // nothing runs on the owner's thread until its loop does
    ownerTasks.front()();
    EXPECT_EQ(answer, 42);
}

// Reads return what a test scripts: reports, then a failure, a removal or
// quiet (time-outs). It notes whether a write came while a read was waiting.
class ScriptedDevice final : public device::HidDevice {
  public:
    ScriptedDevice(int reports, int end) : reports_(reports), end_(end) {}
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    int write(const uint8_t*) override {
        if (reading_) writesDuringARead = true;
        return device::kWritten;
    }
    int read(uint8_t* buffer) override {
        if (reports_-- > 0) {
            buffer[1] = static_cast<uint8_t>(reports_);
            return device::kDataRead;
        }
        if (end_ == device::kRemoved) reportRemoval();
        if (end_ == device::kTimedOut) {
            reading_ = true;
            std::this_thread::sleep_for(2ms);  // the read's wait, short
            reading_ = false;
        }
        return end_;
    }
    std::string errorText() const override { return "read: gone wrong"; }
    std::atomic<bool> writesDuringARead{false};

  private:
    std::atomic<int> reports_;
    const int end_;
    std::atomic<bool> reading_{false};
};

// What the link posts to its owner, run when the test says.
struct Posted {
    void post(device::InstrumentLink::Job task) {
        std::lock_guard lock(mutex);
        tasks.push_back(std::move(task));
    }
    void runAll() {
        std::vector<device::InstrumentLink::Job> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(tasks);
        }
        for (auto& task : batch)
            task();
    }
    std::mutex mutex;
    std::vector<device::InstrumentLink::Job> tasks;
};

bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(InstrumentLinkReading, EndsOnAFailureOrARemovalAndTellsTheOwnerThere) {
    struct Case {
        int end;
        bool failureTold;
        int removals;
    };
    for (const Case c : {Case{device::kFailed, true, 0}, Case{device::kRemoved, false, 1}}) {
        ScriptedDevice device(3, c.end);
        testing_support::VirtualClock clock;
        Posted posted;
        device::InstrumentLink link(device, clock,
                                    [&](auto task) { posted.post(std::move(task)); });
        int removals = 0;
        link.setRemovalHandler([&] { ++removals; });
        std::atomic<int> reports{0};
        std::string failure;
        link.post([&] {
            link.startReading([&](const uint8_t*) { ++reports; },
                              [&](const std::string& text) { failure = text; });
        });
        ASSERT_TRUE(eventually([&] { return reports == 3 && !link.reading(); }));
        EXPECT_TRUE(failure.empty());  // told on the owner's thread, not the reader's
        EXPECT_EQ(removals, 0);
        posted.runAll();
        EXPECT_EQ(failure.empty(), !c.failureTold);
        EXPECT_EQ(removals, c.removals);
        link.setRemovalHandler(nullptr);
    }
}

TEST(InstrumentLinkReading, JobsWriteBesideTheReadsAndAStopWaitsOutTheRead) {
    ScriptedDevice device(2, device::kTimedOut);
    testing_support::VirtualClock clock;
    device::InstrumentLink link(device, clock, [](device::InstrumentLink::Job) {});
    Log log;
    link.post([&] { link.startReading([&](const uint8_t*) { log.add("report"); }, {}); });
    ASSERT_TRUE(log.waitFor(2));
    // A send while the reader waits on a quiet bus goes out at once.
    uint8_t frame[device::kLinkReportLength] = {};
    ASSERT_TRUE(eventually([&] {
        link.post([&] { device.write(frame); });
        while (link.busy())
            std::this_thread::yield();
        return device.writesDuringARead.load();
    }));
    // A job that stops the reading finds it ended when stopReading returns:
    // a close after it never overlaps a read.
    bool readingAfterStop = true;
    link.post([&] {
        link.stopReading();
        readingAfterStop = link.reading();
        log.add("stopped");
    });
    ASSERT_TRUE(log.waitFor(3));
    EXPECT_FALSE(readingAfterStop);
    EXPECT_EQ(log.snapshot(), (std::vector<std::string>{"report", "report", "stopped"}));
}

}  // namespace
