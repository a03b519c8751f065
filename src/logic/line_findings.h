#pragma once
// What the sampled lines show that a capture record cannot: the baud rate
// against its nominal one, its drift inside a packet, end bits, the idle
// between characters and between packets, and the handshake's pulse widths.
// Each finding is about one record and carries its measured value and limit.
//
// A measurement is as good as the sample grid: each edge may be off by a
// sample, so a value is only called out of bounds when it is so by more than
// that uncertainty (at 1 MHz and 115200 baud a bit is under nine samples).

#include <cstdint>
#include <vector>

#include "logic/line_decoder.h"
#include "logic/line_signals.h"
#include "ufcs/sequence_check.h"

namespace logic {

inline constexpr double kSenderBaudTolerance = 0.10;  // of the nominal rate
inline constexpr double kDriftTolerance = 0.01;       // inside one packet
inline constexpr double kShortestCharacterIdleBits = 1;
inline constexpr double kShortestPacketIdleMs = 2;

// `previous`: the packet before it on the same line, if any.
std::vector<ufcs::SequenceNote> packetFindings(const LinePacket& packet, const LinePacket* previous,
                                               double sampleRate, uint32_t index);
std::vector<ufcs::SequenceNote> handshakeFindings(const LineSignal& handshake, double sampleRate,
                                                  uint32_t index);

}  // namespace logic
