#pragma once
// The simulated instrument's answers to the analyzer. Listening, it captures
// a charger and a phone negotiating on their own; emulating a charging
// device, it is the phone itself, reports the charger's output modes and live
// values, and sends the UFCS messages the analyzer asks for.

#include <chrono>
#include <cstdint>
#include <vector>

#include "simulator/bus.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "simulator/responder.h"

namespace simulator {

class AnalyzerResponder final : public Responder {
  public:
    AnalyzerResponder(const InstrumentSettings& settings, Outbox& outbox, common::Clock& clock);

    bool takeFrame(const uint8_t* frame) override;
    void generateDue() override;
    std::optional<TimePoint> nextDue() const override;
    void unplugged() override { listening_ = chargingDevice_ = false; }

    // Controls for tests and stress runs (the rate itself lives in the settings).
    void restartTrafficClock();
    void injectTraffic(std::size_t events);
    void injectFaults(unsigned count) { traffic_.injectFaults(count); }
    uint64_t eventsCaptured() const { return eventsCaptured_; }
    bool listening() const { return listening_; }
    bool emulatingChargingDevice() const { return chargingDevice_; }

  private:
    void handleCommand(uint8_t code, uint8_t param);
    void handleSend(const uint8_t* frame);
    void takeSegment(const uint8_t* frame);
    void startListening();
    void startChargingDevice();
    void queueEvent(const BusEvent& event);
    void drainBus(Bus& bus);
    device::Report connectReply() const;
    // The instrument's time stamps: 0.2 ms ticks since it was made.
    uint64_t instrumentTicks(TimePoint at) const;
    TimePoint timeOfTicks(uint64_t ticks) const;
    Charger& activeCharger();

    const InstrumentSettings& settings_;
    Outbox& outbox_;
    bool listening_ = false;
    bool chargingDevice_ = false;
    BusTraffic traffic_;
    Bus phoneBus_;  // the bus while the instrument itself is the phone
    TimePoint timeBase_;
    TimePoint nextTrafficAt_;  // when the next listened event is due
    TimePoint trafficStart_;
    uint64_t trafficDue_ = 0;  // pings the rate has asked for since trafficStart_ (as the phone)
    uint64_t eventsCaptured_ = 0;
    std::vector<uint8_t> segmented_;  // a vendor or custom message arriving in several frames
};

}  // namespace simulator
