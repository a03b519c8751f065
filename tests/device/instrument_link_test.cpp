#include "device/instrument_link.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
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

}  // namespace
