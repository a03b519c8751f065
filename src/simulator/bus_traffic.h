#pragma once
// A charger (source) and a phone (sink) negotiating on the UFCS bus, as the
// instrument would see them: handshakes, capability exchange, requests with
// the bus voltage following, pings, information messages, vendor messages,
// hardware resets and, now and then, a faulty frame. Deterministic for a seed.

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "simulator/capture_pages.h"

namespace simulator {

struct OutputMode {
    uint8_t number = 1;
    uint16_t minMillivolts = 3400;
    uint16_t maxMillivolts = 5500;
    uint16_t minMilliamps = 100;
    uint16_t maxMilliamps = 3000;
};

// The charger's output modes, as its Output_Capabilities message lists them.
std::vector<OutputMode> defaultOutputModes();
// The 8-byte mode records of an Output_Capabilities message.
std::vector<uint8_t> outputCapabilityRecords(const std::vector<OutputMode>& modes);

class BusTraffic {
public:
    struct Options {
        uint32_t seed = 1;
        double faultRate = 0.02;  // share of exchanges that carry a faulty frame
    };

    explicit BusTraffic(Options options);

    // The next event on the bus.
    BusEvent next();

private:
    void scriptNextExchange();
    void scriptSessionStart();
    void scriptRequest();
    void scriptPing();
    void scriptSourceInfo();
    void scriptSinkInfo();
    void scriptWatchdog();
    void scriptVendor();
    void scriptTestRequest();
    void scriptVerify();
    void scriptErrorInfo();
    void scriptPowerChange();
    void scriptHardwareReset();
    void scriptFault();

    void fromSource(std::vector<uint8_t> wire);
    void fromSink(std::vector<uint8_t> wire);
    void ackFromSource();
    void ackFromSink();
    void lineEvent(uint8_t kind);
    void push(uint8_t kind, std::vector<uint8_t> wire);
    std::vector<uint8_t> randomBytes(std::size_t count);
    uint32_t uniform(uint32_t low, uint32_t high);

    Options options_;
    std::mt19937 rng_;
    std::deque<BusEvent> queue_;
    std::vector<OutputMode> modes_;
    uint64_t ticks_ = 0;
    uint16_t busMillivolts_ = 5000;
    uint16_t busMilliamps_ = 500;
    uint8_t baudCode_;
    uint8_t sourceNumber_ = 0;
    uint8_t sinkNumber_ = 0;
    bool sessionStarted_ = false;
};

}  // namespace simulator
