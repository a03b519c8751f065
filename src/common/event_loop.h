#pragma once
// The owner thread's loop: work posted from other threads runs there, and
// periodic timers tick there. A window backs it with its own event loop; the
// command line and tests use TaskLoop.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "common/clock.h"

namespace common {

using TimerId = uint32_t;

class EventLoop {
  public:
    virtual ~EventLoop() = default;
    // Runs `task` on the loop's thread, in the order posted. Callable from any thread.
    virtual void post(std::function<void()> task) = 0;
    // Calls `tick` every `period` on the loop's thread until stopped. Loop thread only.
    virtual TimerId startTimer(std::chrono::milliseconds period, std::function<void()> tick) = 0;
    virtual void stopTimer(TimerId id) = 0;
};

class TaskLoop final : public EventLoop {
  public:
    explicit TaskLoop(const Clock& clock) : clock_(clock) {}

    void post(std::function<void()> task) override;
    TimerId startTimer(std::chrono::milliseconds period, std::function<void()> tick) override;
    void stopTimer(TimerId id) override;
    bool timerRunning(TimerId id) const { return timers_.count(id) != 0; }

    // Runs posted tasks and due timers until `done` holds or `timeout` passes.
    // Returns whether `done` held.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Runs what is posted now, without waiting; returns the number of tasks run.
    std::size_t runPending();
    // Fires every timer as often as it would have ticked in `elapsed` (tests drive time this way).
    void advanceTimers(std::chrono::milliseconds elapsed);

  private:
    struct Timer {
        std::chrono::milliseconds period;
        Clock::TimePoint due;
        std::function<void()> tick;
    };
    void fireDueTimers();

    const Clock& clock_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextTimer_ = 1;
};

}  // namespace common
