#include "simulator/meter_responder.h"

#include <algorithm>
#include <cmath>

#include "instrument/replies.h"

namespace simulator {
namespace {

constexpr uint8_t kRefusedStart = instrument::kStatusSendUnavailable;
// The phases of the session, in seconds from the start of measuring.
constexpr double kNegotiated = 1.0;
constexpr double kConstantCurrent = 3.0;
constexpr double kTapering = 23.0;
constexpr double kTaperSeconds = 30.0;

}  // namespace

MeterResponder::MeterResponder(const InstrumentSettings& settings, Outbox& outbox,
                               common::Clock& clock)
    : Responder(clock), settings_(settings), outbox_(outbox), random_(settings.seed) {}

instrument::MeterSample MeterResponder::sessionAt(std::chrono::duration<double> elapsed) {
    const double t = elapsed.count();
    if (t < kNegotiated) return {5000, 300};
    if (t < kConstantCurrent) return {9000, 1500};
    if (t < kTapering) {
        // The battery's voltage climbs while the current holds.
        const double progress = (t - kConstantCurrent) / (kTapering - kConstantCurrent);
        return {static_cast<uint16_t>(9800 + 600 * progress), 3000};
    }
    const double current = 3000 * std::exp(-(t - kTapering) / kTaperSeconds);
    return {10400, static_cast<uint16_t>(std::max(150.0, current))};
}

bool MeterResponder::takeFrame(const uint8_t* frame) {
    if (frame[0] == 0x01) {  // the output switch or the module status query (report id 1)
        if (frame[1] == 0x01 && frame[4] == 0x03) outputSwitch_ = frame[5];
        return true;
    }
    if (frame[2] != device::kFrameClassCommand) return false;
    const uint8_t code = frame[8];
    if (code == static_cast<uint8_t>(instrument::MeterCommand::ReadSample) &&
        frame[5] == instrument::kSampleRequestClass) {
        answerSample();
        return true;
    }
    if (code == static_cast<uint8_t>(instrument::MeterCommand::StartMeasuring) && frame[9] == 1) {
        if (settings_.faults.refuseStart) {
            outbox_.push_back(instrument::statusReply(kRefusedStart));
            return true;
        }
        measuring_ = true;
        startedAt_ = now();
        requests_ = 0;
    }
    if (code == static_cast<uint8_t>(instrument::MeterCommand::StopMeasuring)) measuring_ = false;
    return false;  // the listening side answers start and stop
}

void MeterResponder::answerSample() {
    if (!measuring_) {  // samples asked for without a start: the session starts now
        measuring_ = true;
        startedAt_ = now();
    }
    ++requests_;
    if (settings_.faults.misses && requests_ % 5 == 0) return;  // one request in five
    instrument::MeterSample sample = sessionAt(now() - startedAt_);
    std::uniform_int_distribution<int> noise(-8, 8);
    sample.millivolts = static_cast<uint16_t>(sample.millivolts + noise(random_));
    sample.milliamps = static_cast<uint16_t>(std::max(0, sample.milliamps + noise(random_)));
    const bool wrongCode = settings_.faults.wrongCode && requests_ % 3 == 0;
    outbox_.push_back(
        instrument::sampleReply(sample, wrongCode ? 0x04 : instrument::kSampleReplyCode));
    ++answered_;
}

}  // namespace simulator
