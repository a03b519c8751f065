#pragma once
// The UFCS bus between the simulated charger and a phone, as the instrument
// sees it: every message and line signal becomes a time-stamped event with
// the bus voltage and current of that moment. The phone talks on D-, the
// charger on D+. An ACK carries the number of the message it answers; time
// between events follows the protocol's steps (an ACK within a millisecond or
// two of the message's end, answers within milliseconds, Power_Ready once the
// output has settled) and the pauses between exchanges keep the asked number
// of events a second. Nothing starts on a line before what went before on it
// has ended, with the idle the standard asks (2 ms between packets), so a
// capture can be written out as the two lines' levels.

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "simulator/capture_pages.h"
#include "simulator/charger.h"

namespace simulator {

// Misbehaviour of the pair, now and then: the phone leaves a message
// unacknowledged, repeats a message number, or the charger is slow to
// report Power_Ready. Each hits its first chance and every eighth after.
struct SequenceFaults {
    bool dropAck = false;
    bool repeatNumber = false;
    bool slowPowerReady = false;
    ChargerFaults charger;  // the charger's own breaches of the standard
};

class Bus {
  public:
    explicit Bus(uint32_t seed, double eventsPerSecond = 25, SequenceFaults faults = {});

    Charger& charger() { return charger_; }
    void setBaudCode(uint8_t code) { baudCode_ = code; }
    uint8_t baudCode() const { return baudCode_; }

    // The phone sends a message (its number is set here, and the CRC made
    // anew when it was valid); the charger answers, and the phone ACKs each answer.
    void phoneSends(Message message);
    // The charger starts an exchange; the phone ACKs.
    void chargerSends(const Message& message);
    // How long after the event before it a message goes out.
    enum class Gap { Ack, Answer, PowerReady, SlowPowerReady, Signal, SlowAck, LateReady };
    // A message exactly as given, with no answer from the other side (faulty frames too).
    void rawFromPhone(Message message, Gap gap = Gap::Answer);
    void rawFromCharger(Message message, Gap gap = Gap::Answer);
    void lineSignal(uint8_t kind);
    // A hardware reset signal: the charger drops back to 5 V.
    void hardwareReset(uint8_t kind);
    // A charger newly attached: 5 V, numbering from 0, nothing on the bus yet.
    void attach();
    // The pause before the next exchange.
    void pause();

    uint8_t nextPhoneNumber() { return phoneNumber_++; }
    uint8_t lastPhoneNumber() const { return static_cast<uint8_t>(phoneNumber_ - 1); }
    bool hasEvents() const { return !events_.empty(); }
    const BusEvent& peekEvent() const { return events_.front(); }
    BusEvent takeEvent();
    uint64_t ticks() const { return ticks_; }
    // Events from now on are no earlier than `ticks` (the instrument's clock).
    void catchUpTo(uint64_t ticks);
    void setEventsPerSecond(double rate);

    uint32_t uniform(uint32_t low, uint32_t high);
    std::vector<uint8_t> randomBytes(std::size_t count);

  private:
    void push(uint8_t kind, Message wire, Gap gap);
    void phoneAcks(const Message& message);
    bool faultDue(bool enabled, unsigned& chances);

    std::mt19937 rng_;
    Charger charger_;
    SequenceFaults faults_;
    unsigned ackChances_ = 0, numberChances_ = 0, powerReadyChances_ = 0;
    std::deque<BusEvent> events_;
    uint64_t ticks_ = 0;
    uint64_t lineFreeTicks_[2] = {};  // D+, D-: when each may carry the next thing
    uint64_t lastWireTicks_ = 0;      // how long the last event's bytes took on the line
    double meanGapTicks_ = 200;       // between events, pauses included
    double pauseDebt_ = 0;            // ticks the pauses still owe the asked rate
    uint8_t baudCode_ = ufcs::kBaud115200;
    uint8_t phoneNumber_ = 0;
};

}  // namespace simulator
