#pragma once
// A capture written the other way round, as the levels of D+ and D- a logic
// analyzer would have recorded: each message record as its packet on its
// line (8N1 at its baud rate, a bit of idle between characters), each
// handshake, answer and hardware reset as its pulses. The recording starts
// 10 ms before the first record; times keep their distances. Imperfections
// can be asked for, to see what the findings make of them.

#include <cstdint>
#include <optional>
#include <string>

#include "logic/logic_recording.h"
#include "ufcs/capture_store.h"

namespace logic {

struct SynthesisOptions {
    double sampleRate = 1e6;
    double baudErrorPercent = 0;       // every packet this much faster (or slower, below 0)
    double driftPercent = 0;           // the bit time grows by this much through each packet
    double jitterSeconds = 0;          // each edge late by up to this
    std::optional<double> gapSeconds;  // idle between characters; a bit when not given
};

struct Synthesis {
    LogicRecording recording;
    uint32_t written = 0;  // records that became levels
    uint32_t moved = 0;    // packets that overlapped the one before on their line, moved after it
};

inline constexpr double kLeadSeconds = 10e-3;

Synthesis synthesizeRecording(const ufcs::CaptureStore& store, const SynthesisOptions& options);

}  // namespace logic
