#include "common/event_loop.h"

#include <algorithm>

namespace common {

void TaskLoop::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

TimerId TaskLoop::startTimer(std::chrono::milliseconds period, std::function<void()> tick) {
    const TimerId id = nextTimer_++;
    timers_[id] = Timer{period, clock_.now() + period, std::move(tick)};
    return id;
}

void TaskLoop::stopTimer(TimerId id) {
    timers_.erase(id);
}

std::size_t TaskLoop::runPending() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(tasks_);
    }
    for (auto& task : batch)
        task();
    return batch.size();
}

void TaskLoop::fireDueTimers() {
    const Clock::TimePoint now = clock_.now();
    // Ticks may start or stop timers, so look each one up afresh.
    std::vector<TimerId> due;
    for (const auto& [id, timer] : timers_) {
        if (timer.due <= now) due.push_back(id);
    }
    for (TimerId id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end()) continue;
        it->second.due = now + it->second.period;
        auto tick = it->second.tick;
        tick();
    }
}

bool TaskLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const Clock::TimePoint deadline = clock_.now() + timeout;
    while (true) {
        runPending();
        fireDueTimers();
        if (done()) return true;
        // `done` may hang on another thread's state: it is looked at again at least this often.
        Clock::TimePoint wakeAt = std::min(deadline, clock_.now() + std::chrono::milliseconds(20));
        for (const auto& [id, timer] : timers_)
            wakeAt = std::min(wakeAt, timer.due);
        if (clock_.now() >= deadline) return false;
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, wakeAt, [this] { return !tasks_.empty(); });
    }
}

void TaskLoop::advanceTimers(std::chrono::milliseconds elapsed) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        const TimerId id = it->first;
        const long ticks = elapsed.count() / std::max<long>(1, it->second.period.count());
        auto tick = it->second.tick;
        for (long i = 0; i < ticks && timers_.count(id); ++i)
            tick();
        it = timers_.upper_bound(id);
    }
}

}  // namespace common
