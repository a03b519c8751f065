#pragma once
// The one device thread of a program. It either reads reports and hands each
// to a handler (the analyzer), or ticks on an absolute schedule (the
// recorder's sampler); what it finds for the owner it posts to the owner's
// thread. Owner thread: start, stop, state. Link thread: the handler and the
// tick, which may write to the device.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "common/clock.h"
#include "device/hid_device.h"

namespace device {

class LinkWorker {
  public:
    enum class State : uint8_t {
        Stopped,  // no thread, or its thread has ended by itself (read failure, removal)
        Running,
        Stopping,  // told to end; stop() is joining it
    };
    using Task = std::function<void()>;
    // Runs a task on the owner's thread (the owner's event loop).
    using PostToOwner = std::function<void(Task)>;
    // One report (kReportSize bytes, the report id skipped), on the link thread.
    using ReportHandler = std::function<void(const uint8_t* report)>;

    LinkWorker(HidDevice& device, common::Clock& clock, PostToOwner post);
    ~LinkWorker() { stop(); }
    LinkWorker(const LinkWorker&) = delete;
    LinkWorker& operator=(const LinkWorker&) = delete;

    // Read-and-dispatch until stopped, after `prologue` (a timed command
    // sequence, so its pauses fall on the link thread; when it returns false the
    // thread ends instead). A failed read posts `onFailure` with the system's
    // words and ends the thread; a removal ends it quietly (the removal handler
    // has told the owner). False when a thread is already there.
    using Prologue = std::function<bool()>;
    bool startReading(ReportHandler handler, std::function<void(std::string)> onFailure,
                      Prologue prologue = {});
    // True while the thread has not been told to stop; for a prologue that waits.
    bool running() const { return state() == State::Running; }
    // `tick` at start + period, start + 2 period, ...: a late tick never moves
    // the ones after it. False when a thread is already there.
    bool startTicking(std::chrono::milliseconds period, Task tick);
    // Tells the thread to end and joins it; a read returns within the 300 ms
    // wait, a tick's pause within one period. `epilogue` (a closing command
    // sequence) runs last on the link thread, or here when the thread had
    // already ended by itself. Owner thread only.
    void stop(Task epilogue = {});

    State state() const { return state_.load(std::memory_order_acquire); }
    // Called (on the owner's thread) when the open device vanishes. Set before
    // start; the device's own handler is set and cleared with the worker.
    void setRemovalHandler(Task onRemoved);
    // CPU time the last thread spent, in seconds.
    double cpuSeconds() const { return cpuSeconds_.load(); }

  private:
    bool start(std::function<void()> body);
    void readLoop(const ReportHandler& handler, const std::function<void(std::string)>& onFailure);
    void tickLoop(std::chrono::milliseconds period, common::Clock::TimePoint due, const Task& tick);

    HidDevice& device_;
    common::Clock& clock_;
    PostToOwner post_;
    std::thread thread_;
    std::atomic<State> state_{State::Stopped};
    Task epilogue_;  // set by stop() before it tells the thread
    std::atomic<double> cpuSeconds_{0};
};

}  // namespace device
