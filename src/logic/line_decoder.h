#pragma once
// UFCS packets on one line of a logic recording: a packet starts with the
// training byte 0xAA, from whose edges its baud rate is measured; then 8N1
// characters follow at that rate until the line stays idle longer than the
// inter-character time-out. A data byte 0xAA inside a packet is data.
// And the other way round: the edges a packet makes on a line, for tests
// and for writing captures as logic.

#include <cstdint>
#include <optional>
#include <vector>

#include "logic/logic_recording.h"

namespace logic {

inline constexpr double kNominalBauds[] = {115200, 57600, 38400};
// A gap longer than this between characters ends the packet (tFrameReceive, typical).
inline constexpr double kFrameTimeoutSeconds = 600e-6;
// The receiver's tolerance: a training byte further than this from every nominal rate is no packet.
inline constexpr double kReceiverTolerance = 0.20;

struct LinePacket {
    uint64_t firstEdge = 0;        // the training byte's start edge, in samples
    double baud = 0;               // measured from the training byte
    std::vector<uint8_t> bytes;    // from the training byte on
    std::vector<uint64_t> starts;  // each character's start edge
    bool framingError = false;     // some character's end bit was low
};

std::vector<LinePacket> decodeLine(const DigitalChannel& line, double sampleRate);

// The nominal rate nearest `baud`.
double nominalBaud(double baud);

// Drives `line` (idle high) with a packet: each character start bit, 8 data
// bits LSB first and end bit at `baud`, then `idleBits` of idle before the
// next character. Edges fall on the nearest sample. Packets go in time order.
void writePacket(DigitalChannel& line, double sampleRate, double startSeconds,
                 const std::vector<uint8_t>& bytes, double baud, double idleBits = 1);

}  // namespace logic
