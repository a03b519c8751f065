#include "device/link_worker.h"

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

LinkWorker::LinkWorker(HidDevice& device, common::Clock& clock, PostToOwner post)
    : device_(device), clock_(clock), post_(std::move(post)) {}

void LinkWorker::setRemovalHandler(Task onRemoved) {
    device::postRemovalsTo(device_, post_, std::move(onRemoved));
}

bool LinkWorker::start(std::function<void()> body) {
    if (running()) return false;
    if (thread_.joinable()) thread_.join();  // a thread that ended by itself
    state_.store(State::Running, std::memory_order_release);
    thread_ = std::thread([this, body = std::move(body)] {
        common::raiseCurrentThreadPriority();
        const double cpuAtStart = threadCpuSeconds();
        body();
        State running = State::Running;
        const bool endedByItself =
            state_.compare_exchange_strong(running, State::Stopped, std::memory_order_acq_rel);
        if (!endedByItself && epilogue_) epilogue_();
        cpuSeconds_ = threadCpuSeconds() - cpuAtStart;
    });
    return true;
}

bool LinkWorker::startReading(ReportHandler handler, std::function<void(std::string)> onFailure,
                              Prologue prologue) {
    return start([this, handler = std::move(handler), onFailure = std::move(onFailure),
                  prologue = std::move(prologue)] {
        if (prologue && !prologue()) return;
        readLoop(handler, onFailure);
    });
}

bool LinkWorker::startTicking(std::chrono::milliseconds period, Task tick) {
    // The schedule counts from this call, not from whenever the thread gets going.
    const auto firstDue = clock_.now() + period;
    return start(
        [this, period, firstDue, tick = std::move(tick)] { tickLoop(period, firstDue, tick); });
}

void LinkWorker::stop(Task epilogue) {
    epilogue_ = std::move(epilogue);
    State running = State::Running;
    const bool told =
        state_.compare_exchange_strong(running, State::Stopping, std::memory_order_acq_rel);
    if (thread_.joinable()) thread_.join();
    if (!told && epilogue_) epilogue_();
    epilogue_ = nullptr;
    state_.store(State::Stopped, std::memory_order_release);
}

void LinkWorker::readLoop(const ReportHandler& handler,
                          const std::function<void(std::string)>& onFailure) {
    uint8_t buffer[kLinkReportLength];
    while (running()) {
        const int result = device_.read(buffer);
        if (result == kDataRead) {
            handler(buffer + 1);
        } else if (result == kRemoved) {
            return;
        } else if (result == kFailed) {
            if (onFailure) post_([onFailure, text = device_.errorText()] { onFailure(text); });
            return;
        }
    }
}

void LinkWorker::tickLoop(std::chrono::milliseconds period, common::Clock::TimePoint due,
                          const Task& tick) {
    while (running()) {
        const auto now = clock_.now();
        if (now < due) {
            // To the deadline itself, but never longer than a period, so a stop is seen.
            clock_.sleepUntil(std::min(due, now + period));
            continue;
        }
        tick();
        due += period;
    }
}

}  // namespace device
