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

// 19200 left the standard in 2022, but older chargers still fall back to it.
inline constexpr double kNominalBauds[] = {115200, 57600, 38400, 19200};
// A gap longer than this between characters ends the packet (tFrameReceive, typical).
inline constexpr double kFrameTimeoutSeconds = 600e-6;
// The receiver's tolerance: a training byte further than this from every nominal rate is no packet.
inline constexpr double kReceiverTolerance = 0.20;

struct LineCharacter {
    uint64_t start = 0;     // its start edge, in samples
    double bitSamples = 0;  // its own bit time, from its start to its last edge; 0: too few edges
    int spanBits = 0;       // the bits that measurement spans
    // The furthest an edge lies off its bit grid, in samples: at least the half
    // sample of the grid itself.
    double scatter = 0.5;
    bool endBitLow = false;  // a framing error
};

struct LinePacket {
    uint64_t firstEdge = 0;      // the training byte's start edge, in samples
    uint64_t end = 0;            // the end of its last character's end bit
    double baud = 0;             // measured from the training byte
    double bitSamples = 0;       // the same, as samples a bit
    std::vector<uint8_t> bytes;  // from the training byte on
    std::vector<LineCharacter> characters;
    bool framingError = false;  // some character's end bit was low
};

std::vector<LinePacket> decodeLine(const DigitalChannel& line, double sampleRate);

// The nominal rate nearest `baud`.
double nominalBaud(double baud);

// How a written packet strays from a clean one.
struct PacketFlaws {
    double idleBits = 1;       // idle between characters
    double driftPercent = 0;   // the bit time grows evenly to this much more by the last character
    double jitterSeconds = 0;  // each edge late by up to this (a fixed pseudo-random sequence)
    int lowEndBitCharacter = -1;  // this character's end bit is low (a framing error)
};

// Drives `line` (idle high) with a packet: each character start bit, 8 data
// bits LSB first and end bit at `baud`, then idle before the next character.
// Edges fall on the nearest sample. Packets go in time order. Returns the
// time its last end bit ends.
double writePacket(DigitalChannel& line, double sampleRate, double startSeconds,
                   const std::vector<uint8_t>& bytes, double baud, const PacketFlaws& flaws);
inline double writePacket(DigitalChannel& line, double sampleRate, double startSeconds,
                          const std::vector<uint8_t>& bytes, double baud, double idleBits = 1) {
    PacketFlaws flaws;
    flaws.idleBits = idleBits;
    return writePacket(line, sampleRate, startSeconds, bytes, baud, flaws);
}
// The seconds a clean packet of `bytes` characters takes, to the end of its last end bit.
double packetSeconds(std::size_t bytes, double baud, double idleBits = 1);

}  // namespace logic
