#pragma once
// The simulated instrument's answers to the recorder: a sample on every
// sample request, following a believable charging session (5 V until the
// charger and phone agree, the negotiated step, a constant-current phase,
// then a tapering current), and the faults a test may ask for. The start
// and stop commands are the analyzer's listening commands; this responder
// only watches them go by, unless it is to refuse the start.

#include <chrono>
#include <cstdint>
#include <random>

#include "instrument/meter_frames.h"
#include "simulator/responder.h"

namespace simulator {

class MeterResponder final : public Responder {
  public:
    MeterResponder(const InstrumentSettings& settings, Outbox& outbox, common::Clock& clock);

    bool takeFrame(const uint8_t* frame) override;
    void unplugged() override { measuring_ = false; }

    // The session's values `elapsed` after measuring started (no noise).
    static instrument::MeterSample sessionAt(std::chrono::duration<double> elapsed);
    uint8_t outputSwitch() const { return outputSwitch_; }
    uint64_t samplesAnswered() const { return answered_; }

  private:
    void answerSample();

    const InstrumentSettings& settings_;
    Outbox& outbox_;
    bool measuring_ = false;
    TimePoint startedAt_{};
    uint64_t requests_ = 0;
    uint64_t answered_ = 0;
    uint8_t outputSwitch_ = 0;
    std::mt19937 random_;
};

}  // namespace simulator
