#pragma once
// Time as the programs use it: a steady clock for waits and time-outs, and
// the local wall-clock time that messages show. Injectable, so that tests
// neither sleep nor depend on the hour.

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>

namespace common {

struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    virtual LocalTime localTime() const = 0;
    // The pauses the instrument's command sequences need between writes.
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
    // A pause until `deadline`, for schedules that must not drift; by default
    // in whole milliseconds through sleepFor().
    virtual void sleepUntil(TimePoint deadline) {
        const TimePoint at = now();
        if (at < deadline) sleepFor(std::chrono::ceil<std::chrono::milliseconds>(deadline - at));
    }
    // Waits on `condition` (its mutex held through `lock`) until it is
    // notified or `deadline` comes; the caller checks what it waits for again.
    virtual void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                           TimePoint deadline) {
        condition.wait_until(lock, deadline);
    }
};

// `when` in the local calendar (thread-safe).
std::tm localCalendarTime(std::time_t when);

class SystemClock final : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    LocalTime localTime() const override;
    void sleepFor(std::chrono::milliseconds duration) override;
    void sleepUntil(TimePoint deadline) override;
};

// The one system clock, for whatever has no clock of its own given to it.
Clock& systemClock();

}  // namespace common
