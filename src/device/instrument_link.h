#pragma once
// One instrument's link: its device and the thread that talks to it.
// Owners post jobs to it (a connect, a command sequence with its pauses, a
// send, a firmware transfer, a closing sequence) that run one after another in
// the order posted, and between them a resident activity: ticks on an
// absolute schedule (the meter's sampling). A capture's reading runs beside
// the jobs on a reader thread of the link's own, since the device lets one
// read overlap one write. Nothing here waits on an owner's thread: a job
// tells its result through the owner's loop (PostToOwner).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "common/clock.h"
#include "device/hid_device.h"

namespace device {

class InstrumentLink {
  public:
    using Job = std::function<void()>;
    // Runs a task on the owner's thread (the owner's event loop).
    using PostToOwner = std::function<void(Job)>;

    InstrumentLink(HidDevice& device, common::Clock& clock, PostToOwner post);
    // Runs the jobs already posted, then ends the thread.
    ~InstrumentLink();
    InstrumentLink(const InstrumentLink&) = delete;
    InstrumentLink& operator=(const InstrumentLink&) = delete;

    HidDevice& device() { return device_; }
    // Any thread: runs `job` on the link thread after the jobs posted before it.
    void post(Job job);
    // Runs `task` on the owner's thread.
    void postToOwner(Job task) { post_(std::move(task)); }

    // `tick` at now + period, now + 2 period, ... between jobs: a late tick
    // never moves the ones after it. Replaces any ticking there was.
    void startTicking(std::chrono::milliseconds period, Job tick);
    // No tick starts after this returns (one already running finishes).
    void stopTicking();
    bool ticking() const;

    // One report (kReportSize bytes, the report id skipped), on the reader thread.
    using ReportHandler = std::function<void(const uint8_t* report)>;
    // From a job: reads and hands each report to `handler` until
    // stopReading(), a removal (the removal handler tells the owner) or a
    // failed read (`onFailure` is posted to the owner with the system's words).
    void startReading(ReportHandler handler, std::function<void(std::string)> onFailure);
    // From a job: ends the reading and waits out its read (at most the 300 ms
    // wait), so that a close after it never overlaps a read.
    void stopReading();
    // Any thread: a reader is reading.
    bool reading() const { return reading_.load(std::memory_order_acquire); }
    // CPU time the last reader spent, in seconds.
    double readerCpuSeconds() const { return readerCpuSeconds_.load(); }

    // Called (on the owner's thread) when the open device vanishes.
    void setRemovalHandler(Job onRemoved);
    // True while a job runs or waits; for tests and for an exit that must
    // know the instrument was left in order.
    bool busy() const;

  private:
    void run();
    // Runs the tick when it is due (the lock held on entry and on return); false when not yet.
    bool tickDue(std::unique_lock<std::mutex>& lock);

    HidDevice& device_;
    common::Clock& clock_;
    PostToOwner post_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool runningJob_ = false;
    Job tick_;
    std::chrono::milliseconds period_{0};
    common::Clock::TimePoint due_{};
    uint64_t schedule_ = 0;  // counts the schedules, so a stopped one's tick never counts on
    bool quit_ = false;
    std::thread thread_;
    // The reader, started and stopped by jobs on the link thread.
    std::thread reader_;
    std::atomic<bool> readingWanted_{false};
    std::atomic<bool> reading_{false};
    std::atomic<double> readerCpuSeconds_{0};
};

}  // namespace device
