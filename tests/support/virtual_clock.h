#pragma once
// Time that passes only when something waits: a pause or a wait moves it on
// at once to its end, so a time-out costs no real time. For one thread that
// drives the simulated instrument (a command sequence, a firmware transfer);
// threads that wait for each other need real time. The local time is a fixed
// 10:20:30.
#include <atomic>

#include "common/clock.h"

namespace testing_support {

class VirtualClock final : public common::Clock {
  public:
    TimePoint now() const override { return TimePoint(Duration(elapsed_.load())); }
    common::LocalTime localTime() const override { return {10, 20, 30}; }
    void sleepFor(std::chrono::milliseconds duration) override {
        elapsed_.fetch_add(std::chrono::duration_cast<Duration>(duration).count());
    }
    void sleepUntil(TimePoint deadline) override { moveTo(deadline); }
    void waitUntil(std::condition_variable&, std::unique_lock<std::mutex>&,
                   TimePoint deadline) override {
        moveTo(deadline);
    }
    // Virtual time passed so far.
    std::chrono::milliseconds elapsed() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Duration(elapsed_.load()));
    }

  private:
    using Duration = TimePoint::duration;
    void moveTo(TimePoint deadline) {
        const auto target = deadline.time_since_epoch().count();
        auto at = elapsed_.load();
        while (at < target && !elapsed_.compare_exchange_weak(at, target)) {
        }
    }
    // Starts an hour in, so nothing computed before "now" falls before the epoch.
    std::atomic<Duration::rep> elapsed_{
        std::chrono::duration_cast<Duration>(std::chrono::hours(1)).count()};
};

}  // namespace testing_support
