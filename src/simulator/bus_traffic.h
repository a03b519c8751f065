#pragma once
// A phone negotiating with the simulated charger on its own: handshakes,
// capability exchange, requests with the bus voltage following, pings,
// information messages, vendor messages, hardware resets and, now and then,
// a faulty frame. Deterministic for a seed.

#include <cstdint>

#include "simulator/bus.h"

namespace simulator {

class BusTraffic {
  public:
    struct Options {
        Options(uint32_t seed = 1, double faultRate = 0.02) : seed(seed), faultRate(faultRate) {}
        uint32_t seed;
        double faultRate;  // share of exchanges that carry a faulty frame
        double eventsPerSecond = 25;
        SequenceFaults sequenceFaults;
    };

    explicit BusTraffic(Options options);

    // The next event on the bus.
    BusEvent next();
    // The time stamp of the event next() returns.
    uint64_t nextTicks();
    // A charger newly attached at instrument time `ticks`: the next events
    // are the handshakes and the first negotiation.
    void attach(uint64_t ticks);
    void catchUpTo(uint64_t ticks) { bus_.catchUpTo(ticks); }
    void setEventsPerSecond(double rate) { bus_.setEventsPerSecond(rate); }
    // The next events are faulty frames.
    void injectFaults(unsigned count) { pendingFaults_ += count; }
    Charger& charger() { return bus_.charger(); }

  private:
    void scriptNextExchange();
    void scriptSessionStart();
    void scriptRequest();
    void scriptSinkInfo();
    void scriptVendor();
    void scriptTestRequest();
    void scriptPowerChange();
    void scriptHardwareReset();
    void scriptFault();
    Message phoneControl(uint8_t command);
    Message phoneData(uint8_t command, const std::vector<uint8_t>& body);

    Options options_;
    Bus bus_;
    unsigned pendingFaults_ = 0;
    bool sessionStarted_ = false;
};

}  // namespace simulator
