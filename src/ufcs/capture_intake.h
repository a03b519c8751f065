#pragma once
// Takes a completed record (slot `count` of the store) into the capture:
// drops refused ACK and Ping messages, zeroes the current of an uncalibrated
// instrument, stamps the index and publishes the new count. Runs on the
// worker thread; the settings are set from the window thread.

#include <atomic>
#include <cstdint>

#include "ufcs/capture_store.h"

namespace ufcs {

class IntakeListener {
  public:
    virtual ~IntakeListener() = default;
    // A record was kept; `count` is the store's new count.
    virtual void onRecordTaken(uint32_t count) = 0;
};

class CaptureIntake {
  public:
    CaptureIntake(CaptureStore& store, IntakeListener& listener)
        : store_(store), listener_(listener) {}

    void setRefuseAck(bool on) { refuseAck_.store(on, std::memory_order_relaxed); }
    void setRefusePing(bool on) { refusePing_.store(on, std::memory_order_relaxed); }
    void setCurrentCalibrated(bool on) { currentCalibrated_.store(on, std::memory_order_relaxed); }
    bool refuseAck() const { return refuseAck_.load(std::memory_order_relaxed); }
    bool refusePing() const { return refusePing_.load(std::memory_order_relaxed); }
    bool currentCalibrated() const { return currentCalibrated_.load(std::memory_order_relaxed); }

    // Returns true when the record was kept (and the listener told).
    bool AddCapturedRecord();

  private:
    bool refused(ConstCaptureRecord record) const;

    CaptureStore& store_;
    IntakeListener& listener_;
    std::atomic<bool> refuseAck_{false};
    std::atomic<bool> refusePing_{false};
    std::atomic<bool> currentCalibrated_{true};
};

}  // namespace ufcs
