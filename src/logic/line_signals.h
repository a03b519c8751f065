#pragma once
// The pulses around the packets on one line: the handshake that switches a
// port to UFCS, the other side's answer to it, and the hardware resets.
//
// As a logic analyzer sees them (the lines read low before UFCS starts):
// - handshake: from low, high tDet1 (~2 ms), low tDet2 (~8 ms), high tDet3
//   (~2 ms), then low again; a short low before its first rise is the line
//   leaving its idle level and belongs to it;
// - answer: a line that rises from a low of its own and stays high (UFCS idle);
// - hardware reset: the line pulled low from idle, for 1-1.5 ms to reset the
//   cable (then high again), for at least 2 ms to reset the other side (and
//   the port leaves UFCS: the line may stay low until the next handshake).
// Widths are accepted loosely, so that a pulse outside the standard's window
// is still recognised and can be judged.

#include <cstdint>
#include <vector>

#include "logic/line_decoder.h"
#include "logic/logic_recording.h"

namespace logic {

// Undecoded: something fell from idle that is neither a packet nor one of the
// pulses (a byte without the training byte before it, noise), as one record.
enum class SignalKind { Handshake, Answer, DeviceReset, CableReset, Undecoded };

struct LineSignal {
    uint64_t sample = 0;  // its first edge
    SignalKind kind = SignalKind::Answer;
    uint64_t widths[3] = {};  // a handshake's high, low and high pulses, in samples
};

inline constexpr double kHandshakeWindowsMs[3][2] = {{1.5, 2.5}, {6, 10}, {1.5, 2.5}};
inline constexpr const char* kHandshakeWidthNames[3] = {"tDet1", "tDet2", "tDet3"};

// The signals on `line` outside its `packets` (as decodeLine found them), in time order.
std::vector<LineSignal> findLineSignals(const DigitalChannel& line, double sampleRate,
                                        uint64_t sampleCount,
                                        const std::vector<LinePacket>& packets);

// Writing them, for tests and for captures written as logic. Each starts at
// `seconds`; the line must be idle (high) before a reset, low before an answer.
struct HandshakeWidths {
    double ms[3] = {2, 8, 2};
};
void writeHandshake(DigitalChannel& line, double sampleRate, double seconds,
                    const HandshakeWidths& widths = {});
void writeAnswer(DigitalChannel& line, double sampleRate, double seconds);
// `lowSeconds` 0: the line stays low.
void writeLowPulse(DigitalChannel& line, double sampleRate, double seconds, double lowSeconds);
// A byte 0x00 with no training byte before it, which no receiver decodes.
void writeUndecodable(DigitalChannel& line, double sampleRate, double seconds, double baud);

// How long each keeps its line busy, from its start, before anything else may follow.
inline constexpr double kHandshakeSeconds = 12e-3;
inline constexpr double kLeadInSeconds = 1e-3;  // a handshake on a high line drops it this early
inline constexpr double kDeviceResetSeconds = 2.5e-3;
inline constexpr double kCableResetSeconds = 1.25e-3;

}  // namespace logic
