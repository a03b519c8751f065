#pragma once
// The UFCS bus between the simulated charger and a phone, as the instrument
// sees it: every message and line signal becomes a time-stamped event with
// the bus voltage and current of that moment. The phone talks on D-, the
// charger on D+.

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "simulator/capture_pages.h"
#include "simulator/charger.h"

namespace simulator {

class Bus {
  public:
    explicit Bus(uint32_t seed);

    Charger& charger() { return charger_; }
    void setBaudCode(uint8_t code) { baudCode_ = code; }
    uint8_t baudCode() const { return baudCode_; }

    // The phone sends a message (its number is set here, and the CRC made
    // anew when it was valid); the charger answers, and the phone ACKs each answer.
    void phoneSends(Message message);
    // The charger starts an exchange; the phone ACKs.
    void chargerSends(const Message& message);
    // A message exactly as given, without answer (faulty frames).
    void rawFromPhone(Message message);
    void rawFromCharger(Message message);
    void lineSignal(uint8_t kind);
    // A hardware reset signal: the charger drops back to 5 V.
    void hardwareReset(uint8_t kind);

    uint8_t nextPhoneNumber() { return phoneNumber_++; }
    bool hasEvents() const { return !events_.empty(); }
    BusEvent takeEvent();
    uint64_t ticks() const { return ticks_; }

    uint32_t uniform(uint32_t low, uint32_t high);
    std::vector<uint8_t> randomBytes(std::size_t count);

  private:
    void push(uint8_t kind, Message wire);

    std::mt19937 rng_;
    Charger charger_;
    std::deque<BusEvent> events_;
    uint64_t ticks_ = 0;
    uint8_t baudCode_ = ufcs::kBaud115200;
    uint8_t phoneNumber_ = 0;
};

}  // namespace simulator
