#include "logic/line_decoder.h"

#include <algorithm>
#include <cmath>

namespace logic {
namespace {

// The training byte 0xAA as 8N1 on the line: the start bit and bit 0 low
// together, then the levels alternate every bit up to bit 7 (high), which the
// end bit continues: eight edges, the first two bits apart, the rest one.
constexpr int kTrainingEdges = 8;
constexpr double kTrainingBits[kTrainingEdges - 1] = {2, 1, 1, 1, 1, 1, 1};
constexpr double kEdgeSlack = 0.35;  // of a bit, for jitter and the sample grid

struct Training {
    double bitSamples;
};

// A sample number from a computed position; never past the last a recording can have.
uint64_t sampleAt(double position) {
    constexpr double kLast = 1.8e19;
    if (!(position > 0)) return 0;
    return position >= kLast ? static_cast<uint64_t>(kLast) : static_cast<uint64_t>(position);
}

// Whether the falling edge at changes[at] starts a training byte.
std::optional<Training> trainingAt(const std::vector<uint64_t>& changes, std::size_t at,
                                   double sampleRate) {
    if (at + kTrainingEdges > changes.size()) return std::nullopt;
    const double bit = static_cast<double>(changes[at + kTrainingEdges - 1] - changes[at]) / 8;
    if (bit <= 0) return std::nullopt;
    const double baud = sampleRate / bit;
    const double nominal = nominalBaud(baud);
    if (std::abs(baud - nominal) > nominal * kReceiverTolerance) return std::nullopt;
    double expected = 0;
    for (int i = 0; i < kTrainingEdges - 1; ++i) {
        expected += kTrainingBits[i] * bit;
        const double actual = static_cast<double>(changes[at + i + 1] - changes[at]);
        if (std::abs(actual - expected) > kEdgeSlack * bit) return std::nullopt;
    }
    return Training{bit};
}

// One character from its start edge: the eight data bits at their middles, LSB first.
uint8_t characterAt(const DigitalChannel& line, uint64_t start, double bit, bool& endBitLow) {
    uint8_t value = 0;
    for (int k = 0; k < 8; ++k) {
        const uint64_t middle = sampleAt(static_cast<double>(start) + (1.5 + k) * bit);
        if (line.levelAt(middle)) value |= static_cast<uint8_t>(1u << k);
    }
    const uint64_t end = sampleAt(static_cast<double>(start) + 9.5 * bit);
    endBitLow = !line.levelAt(end);
    return value;
}

// A character's own bit time, from its start edge to its last edge before the end bit's
// middle, when that spans enough bits to say something (a 0xFF has one edge a bit in);
// and how far its edges lie off the grid of that bit time (jitter, drift).
void measureCharacter(const std::vector<uint64_t>& changes, LineCharacter& character, double bit) {
    constexpr int kFewestBits = 4;
    const auto first = std::lower_bound(changes.begin(), changes.end(), character.start);
    const auto last = std::upper_bound(changes.begin(), changes.end(),
                                       sampleAt(static_cast<double>(character.start) + 9.5 * bit));
    if (last == changes.begin() || first == last) return;
    const uint64_t edge = *(last - 1);
    const auto span = static_cast<double>(edge - character.start);
    const int bits = static_cast<int>(std::lround(span / bit));
    if (bits >= kFewestBits) {
        character.bitSamples = span / bits;
        character.spanBits = bits;
    }
    const double own = character.bitSamples > 0 ? character.bitSamples : bit;
    for (auto at = first; at != last; ++at) {
        const auto offset = static_cast<double>(*at - character.start);
        const double off = std::abs(offset - std::round(offset / own) * own);
        character.scatter = std::max(character.scatter, off);
    }
}

}  // namespace

double nominalBaud(double baud) {
    double nearest = kNominalBauds[0];
    for (const double nominal : kNominalBauds) {
        if (std::abs(baud - nominal) / nominal < std::abs(baud - nearest) / nearest)
            nearest = nominal;
    }
    return nearest;
}

std::vector<LinePacket> decodeLine(const DigitalChannel& line, double sampleRate) {
    std::vector<LinePacket> packets;
    const std::vector<uint64_t>& changes = line.changes;
    const double timeout = kFrameTimeoutSeconds * sampleRate;
    std::size_t at = 0;
    while (at < changes.size()) {
        // A packet starts on a falling edge after the line has been idle longer than the
        // time-out (or since the recording began): an edge nearer the last one belongs to
        // whatever went before, however much it looks like a training byte.
        const bool falling = line.levelAt(changes[at]) == false;
        const bool afterIdle =
            at == 0 || static_cast<double>(changes[at] - changes[at - 1]) > timeout;
        const std::optional<Training> training =
            falling && afterIdle ? trainingAt(changes, at, sampleRate) : std::nullopt;
        if (!training) {
            ++at;
            continue;
        }
        LinePacket packet;
        packet.firstEdge = changes[at];
        packet.baud = sampleRate / training->bitSamples;
        packet.bitSamples = training->bitSamples;
        uint64_t start = changes[at];
        for (;;) {
            LineCharacter character;
            character.start = start;
            packet.bytes.push_back(
                characterAt(line, start, training->bitSamples, character.endBitLow));
            measureCharacter(changes, character, training->bitSamples);
            packet.framingError = packet.framingError || character.endBitLow;
            const double ownBit =
                character.bitSamples > 0 ? character.bitSamples : training->bitSamples;
            packet.end = sampleAt(static_cast<double>(start) + 10 * ownBit);
            packet.characters.push_back(character);
            // The next start bit: the first falling edge after this character's end bit began.
            const uint64_t endBit = sampleAt(static_cast<double>(start) + 9 * training->bitSamples);
            auto next = std::upper_bound(changes.begin(), changes.end(), endBit);
            while (next != changes.end() && line.levelAt(*next))
                ++next;
            const double characterEnd = static_cast<double>(start) + 10 * training->bitSamples;
            if (next == changes.end() || static_cast<double>(*next) - characterEnd > timeout) {
                at = static_cast<std::size_t>(next - changes.begin());
                break;
            }
            start = *next;
        }
        packets.push_back(std::move(packet));
    }
    return packets;
}

double writePacket(DigitalChannel& line, double sampleRate, double startSeconds,
                   const std::vector<uint8_t>& bytes, double baud, const PacketFlaws& flaws) {
    // The jitter's sequence: the same packet at the same moment gets the same edges.
    uint64_t state = static_cast<uint64_t>(startSeconds * 1e9) * 6364136223846793005ULL + 1;
    auto late = [&] {
        if (flaws.jitterSeconds <= 0) return 0.0;
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return flaws.jitterSeconds * static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    auto level = [&](double seconds, bool high) {
        line.driveAt(sampleRate, seconds + late(), high);
    };
    const std::size_t count = bytes.size();
    double t = startSeconds;
    for (std::size_t j = 0; j < count; ++j) {
        const double growth =
            count > 1 ? flaws.driftPercent / 100 * static_cast<double>(j) / (count - 1) : 0;
        const double bit = (1 + growth) / baud;
        level(t, false);  // start bit
        for (int k = 0; k < 8; ++k)
            level(t + (1 + k) * bit, ((bytes[j] >> k) & 1) != 0);
        const bool endLow = static_cast<int>(j) == flaws.lowEndBitCharacter;
        level(t + 9 * bit, !endLow);  // end bit, then idle
        if (endLow) level(t + 10 * bit, true);
        if (j + 1 == count) return t + 10 * bit;
        t += (10 + flaws.idleBits) * bit;
    }
    return t;
}

double packetSeconds(std::size_t bytes, double baud, double idleBits) {
    if (bytes == 0) return 0;
    return (static_cast<double>(bytes) * (10 + idleBits) - idleBits) / baud;
}

}  // namespace logic
