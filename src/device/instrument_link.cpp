#include "device/instrument_link.h"

#include <ctime>

#include "common/thread_priority.h"

namespace device {
namespace {

double threadCpuSeconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#else
    return 0;
#endif
}

}  // namespace

InstrumentLink::InstrumentLink(HidDevice& device, common::Clock& clock, PostToOwner post)
    : device_(device), clock_(clock), post_(std::move(post)) {
    thread_ = std::thread([this] {
        common::raiseCurrentThreadPriority();
        run();
    });
}

InstrumentLink::~InstrumentLink() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        tick_ = nullptr;
    }
    wake_.notify_all();
    thread_.join();
    stopReading();
    device_.setRemovalHandler(nullptr);
}

void InstrumentLink::startReading(ReportHandler handler,
                                  std::function<void(std::string)> onFailure) {
    stopReading();
    readingWanted_.store(true, std::memory_order_release);
    reading_.store(true, std::memory_order_release);
    reader_ = std::thread([this, handler = std::move(handler), onFailure = std::move(onFailure)] {
        common::raiseCurrentThreadPriority();
        const double cpuAtStart = threadCpuSeconds();
        uint8_t buffer[kLinkReportLength];
        while (readingWanted_.load(std::memory_order_acquire)) {
            const int result = device_.read(buffer);
            if (result == kDataRead) {
                handler(buffer + 1);
            } else if (result == kRemoved) {
                break;
            } else if (result == kFailed) {
                if (onFailure) post_([onFailure, text = device_.errorText()] { onFailure(text); });
                break;
            }
        }
        readerCpuSeconds_ = threadCpuSeconds() - cpuAtStart;
        reading_.store(false, std::memory_order_release);
    });
}

void InstrumentLink::stopReading() {
    readingWanted_.store(false, std::memory_order_release);
    if (reader_.joinable()) reader_.join();
}

void InstrumentLink::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_all();
}

void InstrumentLink::startTicking(std::chrono::milliseconds period, Job tick) {
    {
        std::lock_guard lock(mutex_);
        // The schedule counts from this call, not from whenever the thread gets to it.
        period_ = period;
        due_ = clock_.now() + period;
        tick_ = std::move(tick);
        ++schedule_;
    }
    wake_.notify_all();
}

void InstrumentLink::stopTicking() {
    std::lock_guard lock(mutex_);
    tick_ = nullptr;
    ++schedule_;
}

bool InstrumentLink::ticking() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(tick_);
}

bool InstrumentLink::busy() const {
    std::lock_guard lock(mutex_);
    return runningJob_ || !jobs_.empty();
}

void InstrumentLink::setRemovalHandler(Job onRemoved) {
    device::postRemovalsTo(device_, post_, std::move(onRemoved));
}

void InstrumentLink::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        if (!jobs_.empty()) {
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            runningJob_ = true;
            lock.unlock();
            job();
            lock.lock();
            runningJob_ = false;
            continue;
        }
        if (quit_) return;
        if (tick_) {
            if (tickDue(lock)) continue;
            // To the deadline itself, but never longer than a period, so a job or a stop is seen.
            clock_.waitUntil(wake_, lock, std::min(due_, clock_.now() + period_));
            continue;
        }
        wake_.wait(lock);
    }
}

bool InstrumentLink::tickDue(std::unique_lock<std::mutex>& lock) {
    if (clock_.now() < due_) return false;
    const Job tick = tick_;
    const uint64_t schedule = schedule_;
    lock.unlock();
    tick();
    lock.lock();
    if (schedule == schedule_) due_ += period_;
    return true;
}

}  // namespace device
