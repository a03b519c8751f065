#pragma once
// What the simulated instrument is made of: a link that carries reports both
// ways, and one responder per protocol that answers the frames it owns and
// queues its reports. Responders run with the instrument's lock held.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "common/clock.h"
#include "device/frames.h"
#include "simulator/bus.h"

namespace simulator {

// Misbehaviour a test or a demonstration asks for. The timed ones count from
// the moment a test (listening or measuring) starts.
struct SimulatedFaults {
    std::optional<std::chrono::milliseconds> unplugAfter;
    std::optional<std::chrono::milliseconds> silenceAfter;  // commands taken, nothing answered
    bool misses = false;                                    // one sample request in five unanswered
    bool wrongCode = false;    // every third sample reply with a code other than 0x03
    bool refuseStart = false;  // the start of measuring refused
    // Taking a firmware image: a page refused, the link cut as a page arrives,
    // or no word after the last page.
    std::optional<uint32_t> refusePage;
    std::optional<uint32_t> unplugAtPage;
    bool silentBurn = false;
    SequenceFaults sequence;  // the listened pair's slips
};

struct InstrumentSettings {
    uint32_t seed = 1;
    uint16_t calibrationValue = 1000;  // 1.000; 0xFFFF: not calibrated
    uint16_t secondValue = 0x0064;
    uint16_t currentRangeMa = 6000;
    std::array<uint8_t, 3> hardwareVersion = {0x00, 0x01, 0x02};  // connect reply bytes 13-15
    uint16_t firmwareVersion = 0x0105;                            // bytes 16-17
    uint16_t ufcsVersion = 0x0100;                                // bytes 18-19
    // How long the instrument takes to store one firmware page before it
    // acknowledges it: about one USB frame each way on a full-speed link.
    std::chrono::microseconds firmwarePageTime{2000};
    double recordsPerSecond = 25;  // bus events captured per second while listening
    double faultRate = 0.02;
    SimulatedFaults faults;
};

// "unplug@S", "silence@S", "misses", "wrong-code", "refuse-start",
// "uncalibrated", "refuse-page@K", "unplug-page@K", "silent-burn",
// "drop-ack", "repeat-number", "slow-power-ready" or a charger's breach
// ("late-ready", "output-off", "readback-off", "refuse-in-range",
// "accept-out-of-range", "unanswered", "slow-ack", "skip-number") (S in
// seconds, K a firmware page) applied to `settings`; false for anything else.
bool applyFault(const std::string& text, InstrumentSettings& settings);

// The reports waiting for the host to read them, oldest first.
using Outbox = std::deque<device::Report>;

class Responder {
  public:
    using TimePoint = common::Clock::TimePoint;
    explicit Responder(common::Clock& clock) : clock_(clock) {}
    virtual ~Responder() = default;
    // A frame from the host (report id first); false when it is not this protocol's.
    virtual bool takeFrame(const uint8_t* frame) = 0;
    // Queues what has fallen due by now (traffic, samples).
    virtual void generateDue() {}
    // When generateDue() has something next, if ever.
    virtual std::optional<TimePoint> nextDue() const { return std::nullopt; }
    // The instrument was unplugged: everything running stops.
    virtual void unplugged() {}

  protected:
    TimePoint now() const { return clock_.now(); }

  private:
    common::Clock& clock_;
};

}  // namespace simulator
