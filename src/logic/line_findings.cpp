#include "logic/line_findings.h"

#include <cmath>
#include <optional>

#include "common/format.h"

namespace logic {
namespace {

ufcs::SequenceNote finding(uint32_t index, ufcs::FindingKind kind, std::string text,
                           ufcs::Measurement measurement) {
    ufcs::SequenceNote note;
    note.index = index;
    note.kind = kind;
    note.text = std::move(text);
    note.measurement = std::move(measurement);
    return note;
}

// The relative uncertainty of a bit time measured over `bits` bits, with either end as far
// off as the character's edges scatter.
double uncertainty(double bitSamples, double bits, double scatter) {
    return 2 * scatter / (bitSamples * bits);
}

double trainingUncertainty(const LinePacket& packet) {
    const double scatter = packet.characters.empty() ? 0.5 : packet.characters[0].scatter;
    return uncertainty(packet.bitSamples, 8, scatter);
}

void checkBaud(const LinePacket& packet, uint32_t index, std::vector<ufcs::SequenceNote>& out) {
    const double nominal = nominalBaud(packet.baud);
    const double off = packet.baud / nominal - 1;
    if (std::abs(off) - trainingUncertainty(packet) <= kSenderBaudTolerance) return;
    out.push_back(finding(index, ufcs::FindingKind::BaudOutOfRange,
                          common::format("波特率 %.0f，偏离标称 %.0f 的 %+.1f%%（限 ±10%%）",
                                         packet.baud, nominal, off * 100),
                          {packet.baud, nominal * (1 - kSenderBaudTolerance),
                           nominal * (1 + kSenderBaudTolerance), "baud"}));
}

// The character whose own bit time strays furthest from the training byte's.
void checkDrift(const LinePacket& packet, uint32_t index, std::vector<ufcs::SequenceNote>& out) {
    double worst = 0, worstBeyond = 0;
    std::size_t worstAt = 0;
    for (std::size_t i = 1; i < packet.characters.size(); ++i) {
        const LineCharacter& character = packet.characters[i];
        if (character.bitSamples <= 0) continue;
        const double drift = character.bitSamples / packet.bitSamples - 1;
        const double beyond =
            std::abs(drift) - trainingUncertainty(packet) -
            uncertainty(character.bitSamples, character.spanBits, character.scatter);
        if (beyond > worstBeyond) {
            worst = drift;
            worstBeyond = beyond;
            worstAt = i;
        }
    }
    if (worstBeyond <= kDriftTolerance) return;
    // A longer bit is a lower rate: the drift is told as the rate's.
    const double rateDrift = (1 / (1 + worst) - 1) * 100;
    out.push_back(
        finding(index, ufcs::FindingKind::BaudDrift,
                common::format("包内波特率漂移：第 %llu 个字节比训练字节 %+.2f%%（限 ±1%%）",
                               static_cast<unsigned long long>(worstAt + 1), rateDrift),
                {rateDrift, -kDriftTolerance * 100, kDriftTolerance * 100, "%"}));
}

void checkEndBits(const LinePacket& packet, uint32_t index, std::vector<ufcs::SequenceNote>& out) {
    for (std::size_t i = 0; i < packet.characters.size(); ++i) {
        if (!packet.characters[i].endBitLow) continue;
        out.push_back(finding(index, ufcs::FindingKind::FramingError,
                              common::format("帧错误：第 %llu 个字节的停止位为低电平",
                                             static_cast<unsigned long long>(i + 1)),
                              {0, 1, 1, "level"}));
        return;  // one a packet: the rest follow from the first
    }
}

// Each character's bit time: its own, else between those of the nearest characters that
// have one (a rate that drifts, drifts evenly), else the training byte's.
std::vector<double> characterBits(const LinePacket& packet) {
    const std::vector<LineCharacter>& characters = packet.characters;
    std::vector<double> bits(characters.size(), packet.bitSamples);
    std::optional<std::size_t> before;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        if (characters[i].bitSamples > 0) {
            bits[i] = characters[i].bitSamples;
            before = i;
            continue;
        }
        std::size_t after = i + 1;
        while (after < characters.size() && characters[after].bitSamples <= 0)
            ++after;
        const bool hasAfter = after < characters.size();
        if (before && hasAfter) {
            const double share =
                static_cast<double>(i - *before) / static_cast<double>(after - *before);
            bits[i] = bits[*before] + share * (characters[after].bitSamples - bits[*before]);
        } else if (before) {
            bits[i] = bits[*before];
        } else if (hasAfter) {
            bits[i] = characters[after].bitSamples;
        }
    }
    return bits;
}

void checkCharacterIdle(const LinePacket& packet, uint32_t index,
                        std::vector<ufcs::SequenceNote>& out) {
    double shortest = 0;
    std::size_t at = 0;  // the character after the shortest idle that is surely too short
    const std::vector<double> bits = characterBits(packet);
    for (std::size_t i = 0; i + 1 < packet.characters.size(); ++i) {
        const LineCharacter& character = packet.characters[i];
        const bool own = character.bitSamples > 0;
        const double bit = bits[i];
        // Ten bits of this character's time, and the two start edges themselves.
        const double timeSpread = own ? uncertainty(bit, character.spanBits, character.scatter)
                                      : trainingUncertainty(packet);
        const double edgeSpread = (character.scatter + packet.characters[i + 1].scatter) / bit;
        const double spread = 10 * timeSpread + edgeSpread;
        const auto between = static_cast<double>(packet.characters[i + 1].start - character.start);
        const double idle = between / bit - 10;
        if (idle + spread < kShortestCharacterIdleBits && (at == 0 || idle < shortest)) {
            shortest = idle;
            at = i + 1;
        }
    }
    if (at == 0) return;
    out.push_back(
        finding(index, ufcs::FindingKind::ShortCharacterIdle,
                common::format("字节间空闲 %.2f 位（第 %llu 与第 %llu 个字节之间），应不少于 1 位",
                               shortest, static_cast<unsigned long long>(at),
                               static_cast<unsigned long long>(at + 1)),
                {shortest, kShortestCharacterIdleBits, std::nullopt, "bit"}));
}

void checkPacketIdle(const LinePacket& packet, const LinePacket& previous, double sampleRate,
                     uint32_t index, std::vector<ufcs::SequenceNote>& out) {
    if (packet.firstEdge <= previous.end) return;  // overlapping: the decoder said so already
    const double idleMs = static_cast<double>(packet.firstEdge - previous.end) * 1e3 / sampleRate;
    if (idleMs + 2e3 / sampleRate >= kShortestPacketIdleMs) return;
    out.push_back(
        finding(index, ufcs::FindingKind::ShortPacketIdle,
                common::format("包间空闲 %.3f ms（同一线上的上一包之后），应不少于 2 ms", idleMs),
                {idleMs, kShortestPacketIdleMs, std::nullopt, "ms"}));
}

}  // namespace

std::vector<ufcs::SequenceNote> packetFindings(const LinePacket& packet, const LinePacket* previous,
                                               double sampleRate, uint32_t index) {
    std::vector<ufcs::SequenceNote> found;
    checkBaud(packet, index, found);
    checkDrift(packet, index, found);
    checkEndBits(packet, index, found);
    checkCharacterIdle(packet, index, found);
    if (previous) checkPacketIdle(packet, *previous, sampleRate, index, found);
    return found;
}

std::vector<ufcs::SequenceNote> handshakeFindings(const LineSignal& handshake, double sampleRate,
                                                  uint32_t index) {
    std::vector<ufcs::SequenceNote> found;
    for (int k = 0; k < 3; ++k) {
        const double ms = static_cast<double>(handshake.widths[k]) * 1e3 / sampleRate;
        const double slack = 1e3 / sampleRate;
        const auto [low, high] = kHandshakeWindowsMs[k];
        if (ms + slack >= low && ms - slack <= high) continue;
        found.push_back(finding(index, ufcs::FindingKind::HandshakePulse,
                                common::format("握手脉冲 %s 为 %.3f ms，应在 %g–%g ms 之内",
                                               kHandshakeWidthNames[k], ms, low, high),
                                {ms, low, high, "ms"}));
    }
    return found;
}

}  // namespace logic
