#pragma once
// The simulated instrument: what a program reaches through the USB link. The
// link carries frames in and reports out; each protocol's responder answers
// its own frames (the analyzer's now). It can be made to misbehave for tests.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "simulator/analyzer_responder.h"
#include "simulator/firmware_responder.h"
#include "simulator/meter_responder.h"
#include "simulator/responder.h"

namespace simulator {

using LinkReport = std::array<uint8_t, 65>;  // report id byte, then the 64 report bytes

class Instrument {
  public:
    // Its time (traffic, samples, acknowledgements, the read wait) is `clock`'s:
    // a test's virtual clock makes a time-out cost nothing.
    explicit Instrument(InstrumentSettings settings = {},
                        common::Clock& clock = common::systemClock());

    // The link: a write from the host, and a read that waits up to `wait` for a report.
    // Results as the device backends return them (kWritten, kDataRead, kTimedOut, kRemoved).
    int receive(const uint8_t* frame);
    int deliver(uint8_t* report, std::chrono::milliseconds wait);
    bool plugged() const;

    // Control for tests and stress runs.
    void unplug();
    void plugIn();
    void setAnswering(bool answering);  // false: commands are taken but nothing comes back
    void setCalibrationValue(uint16_t value);
    void setRecordsPerSecond(double rate);
    void injectTraffic(std::size_t events);  // captured at once, whatever the rate
    void injectLostPage();                   // a continuation page without its first page
    void injectFaults(unsigned count);       // the next bus events are faulty frames
    void sendCalibrationResult(uint16_t value, uint8_t index);

    std::vector<LinkReport> receivedFrames() const;
    void clearReceivedFrames();
    uint64_t eventsCaptured() const;
    bool listening() const;
    bool emulatingChargingDevice() const;
    uint8_t outputSwitch() const;
    uint16_t firmwareVersion() const;

  private:
    // The timed faults, once their moment has come (the lock held).
    void applyTimedFaults();
    void unplugLocked();

    common::Clock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    InstrumentSettings settings_;
    Outbox outbox_;
    std::vector<LinkReport> received_;
    bool plugged_ = true;
    bool answering_ = true;
    std::optional<common::Clock::TimePoint> testStartedAt_;
    MeterResponder meter_{settings_, outbox_, clock_};
    AnalyzerResponder analyzer_{settings_, outbox_, clock_};
    // Taking an image, the instrument leaves its capture.
    FirmwareResponder firmware_{settings_, outbox_, clock_, [this] { analyzer_.unplugged(); }};
    // One responder per protocol; each frame goes to the first that owns it.
    std::vector<Responder*> responders_{&firmware_, &meter_, &analyzer_};
};

}  // namespace simulator
