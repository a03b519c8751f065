#include "device/link_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Time moves only when the link thread pauses (or a tick says it took long).
class ManualClock final : public common::Clock {
  public:
    TimePoint now() const override { return TimePoint(elapsed()); }
    common::LocalTime localTime() const override { return {}; }
    void sleepFor(std::chrono::milliseconds duration) override { advance(duration); }
    void advance(std::chrono::milliseconds by) { milliseconds_ += by.count(); }
    std::chrono::milliseconds elapsed() const { return std::chrono::milliseconds(milliseconds_); }

  private:
    std::atomic<long> milliseconds_{0};
};

// Reads return what a test scripts: reports, then a failure or a removal.
class ScriptedDevice final : public device::HidDevice {
  public:
    explicit ScriptedDevice(int reports, int end) : reports_(reports), end_(end) {}
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    int write(const uint8_t*) override { return device::kWritten; }
    int read(uint8_t* buffer) override {
        if (reports_-- > 0) {
            buffer[1] = static_cast<uint8_t>(reports_);
            return device::kDataRead;
        }
        if (end_ == device::kRemoved) reportRemoval();
        return end_;
    }
    std::string errorText() const override { return "read: gone wrong"; }

  private:
    std::atomic<int> reports_;
    int end_;
};

struct Posted {
    void post(device::LinkWorker::Task task) {
        std::lock_guard lock(mutex);
        tasks.push_back(std::move(task));
    }
    void runAll() {
        std::vector<device::LinkWorker::Task> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(tasks);
        }
        for (auto& task : batch)
            task();
    }
    std::mutex mutex;
    std::vector<device::LinkWorker::Task> tasks;
};

template <typename Condition>
bool waitFor(Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(LinkWorker, TicksKeepTheirScheduleWhenOneRunsLate) {
    ScriptedDevice device(0, device::kTimedOut);
    ManualClock clock;
    Posted posted;
    device::LinkWorker link(device, clock, [&](auto task) { posted.post(std::move(task)); });
    std::mutex mutex;
    std::vector<long> at;
    ASSERT_TRUE(link.startTicking(100ms, [&] {
        std::lock_guard lock(mutex);
        at.push_back(clock.elapsed().count());
        if (at.size() == 2) clock.advance(150ms);  // this tick takes long
    }));
    EXPECT_FALSE(link.startTicking(100ms, [] {}));
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(mutex);
        return at.size() >= 5;
    }));
    link.stop();
    EXPECT_EQ(link.state(), device::LinkWorker::State::Stopped);
    const std::vector<long> firstFive(at.begin(), at.begin() + 5);
    EXPECT_EQ(firstFive, (std::vector<long>{100, 200, 350, 400, 500}));
}

TEST(LinkWorker, ReadsUntilAFailureThenPostsItAndEnds) {
    ScriptedDevice device(3, device::kFailed);
    ManualClock clock;
    Posted posted;
    device::LinkWorker link(device, clock, [&](auto task) { posted.post(std::move(task)); });
    std::atomic<int> reports{0};
    std::string failure;
    ASSERT_TRUE(link.startReading([&](const uint8_t*) { ++reports; },
                                  [&](const std::string& text) { failure = text; }));
    ASSERT_TRUE(waitFor([&] { return link.state() == device::LinkWorker::State::Stopped; }));
    EXPECT_EQ(reports, 3);
    EXPECT_TRUE(failure.empty());  // told on the owner's thread, not the link's
    posted.runAll();
    EXPECT_EQ(failure, "read: gone wrong");
    link.stop();
}

TEST(LinkWorker, RemovalReachesTheOwnerAndEndsTheThreadQuietly) {
    ScriptedDevice device(1, device::kRemoved);
    ManualClock clock;
    Posted posted;
    device::LinkWorker link(device, clock, [&](auto task) { posted.post(std::move(task)); });
    int removals = 0;
    link.setRemovalHandler([&] { ++removals; });
    bool failed = false;
    ASSERT_TRUE(
        link.startReading([](const uint8_t*) {}, [&](const std::string&) { failed = true; }));
    ASSERT_TRUE(waitFor([&] { return link.state() == device::LinkWorker::State::Stopped; }));
    posted.runAll();
    EXPECT_EQ(removals, 1);
    EXPECT_FALSE(failed);
    // The thread ended by itself; the link starts again.
    ASSERT_TRUE(link.startTicking(10ms, [] {}));
    link.stop();
    link.setRemovalHandler(nullptr);
}

TEST(LinkWorker, CommandSequencesRunOnTheLinkThreadAroundTheReads) {
    ScriptedDevice device(2, device::kTimedOut);
    ManualClock clock;
    Posted posted;
    device::LinkWorker link(device, clock, [&](auto task) { posted.post(std::move(task)); });
    const std::thread::id owner = std::this_thread::get_id();
    std::mutex mutex;
    std::vector<std::string> order;
    auto note = [&](const char* what) {
        std::lock_guard lock(mutex);
        order.push_back(std::string(what) + (std::this_thread::get_id() == owner ? "@owner" : ""));
    };
    ASSERT_TRUE(link.startReading([&](const uint8_t*) { note("report"); }, {},
                                  [&] {
                                      note("prologue");
                                      return true;
                                  }));
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard lock(mutex);
        return order.size() == 3;
    }));
    link.stop([&] { note("epilogue"); });
    EXPECT_EQ(order, (std::vector<std::string>{"prologue", "report", "report", "epilogue"}));

    // With no thread left to take it, the closing sequence runs on the caller.
    link.stop([&] { note("epilogue"); });
    EXPECT_EQ(order.back(), "epilogue@owner");
}

}  // namespace
