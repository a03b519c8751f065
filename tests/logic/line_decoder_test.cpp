#include "logic/line_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using logic::DigitalChannel;
using logic::LinePacket;

// A Request and an Output_Capabilities with 0xAA inside its data, as on the wire.
const std::vector<uint8_t> kRequest = {0xAA, 0x22, 0x09, 0x02, 0x08, 0x10, 0x00,
                                       0x00, 0x00, 0x01, 0x90, 0x01, 0x22, 0x97};
const std::vector<uint8_t> kWithAaInside = {0xAA, 0x41, 0x0A, 0x01, 0x08, 0xAA, 0xAA,
                                            0x55, 0xAA, 0x00, 0xFF, 0xAA, 0x13, 0xAA};

// Packets written at any baud rate the receiver takes and any sample rate a logic
// analyzer records at come back byte for byte, each from its first edge, with the
// baud rate measured from its training byte.
TEST(LineDecoder, PacketsComeBackFromTheirEdges) {
    const struct {
        double sampleRate;
        double baud;
        double idleBits;
    } cases[] = {
        {24e6, 115200, 1}, {1e6, 115200, 1},  {4e6, 57600, 2},
        {2e6, 38400, 1},   {24e6, 105000, 1},  // 9 % slow: within the sender's tolerance
        {24e6, 126000, 3},                     // 9 % fast
        {16e6, 115200, 0},  // no idle between characters (a finding, but still read)
    };
    for (const auto& c : cases) {
        DigitalChannel line;
        logic::writePacket(line, c.sampleRate, 0.010, kRequest, c.baud, c.idleBits);
        logic::writePacket(line, c.sampleRate, 0.020, kWithAaInside, c.baud, c.idleBits);
        const std::vector<LinePacket> packets = logic::decodeLine(line, c.sampleRate);
        ASSERT_EQ(packets.size(), 2u) << c.sampleRate << " " << c.baud;
        EXPECT_EQ(packets[0].bytes, kRequest) << c.baud;
        EXPECT_EQ(packets[1].bytes, kWithAaInside) << c.baud;
        EXPECT_EQ(packets[0].firstEdge, static_cast<uint64_t>(std::llround(0.010 * c.sampleRate)));
        EXPECT_EQ(packets[1].firstEdge, static_cast<uint64_t>(std::llround(0.020 * c.sampleRate)));
        EXPECT_NEAR(packets[0].baud, c.baud, c.baud * 0.01) << c.sampleRate;
        EXPECT_EQ(packets[0].characters.size(), kRequest.size());
        EXPECT_FALSE(packets[0].framingError);
        EXPECT_FALSE(packets[1].framingError);
    }
}

// The line's idle between characters decides where a packet ends: shorter than the
// inter-character time-out keeps one packet, longer makes two.
TEST(LineDecoder, TheInterCharacterTimeOutEndsAPacket) {
    const double rate = 8e6, baud = 115200;
    for (const auto& [gapSeconds, packets] :
         std::vector<std::pair<double, std::size_t>>{{400e-6, 1}, {800e-6, 2}}) {
        DigitalChannel line;
        const std::vector<uint8_t> first(kRequest.begin(), kRequest.begin() + 5);
        const std::vector<uint8_t> rest(kRequest.begin() + 5, kRequest.end());
        logic::writePacket(line, rate, 0.001, first, baud);
        const double firstEnds = 0.001 + 5 * 11 / baud;
        // The rest starts with a byte that is no training byte: it is read as more of
        // the packet, or not at all.
        logic::writePacket(line, rate, firstEnds - 1 / baud + gapSeconds, rest, baud);
        const auto decoded = logic::decodeLine(line, rate);
        ASSERT_EQ(decoded.size(), 1u);
        EXPECT_EQ(decoded[0].bytes.size(), packets == 1 ? kRequest.size() : first.size())
            << gapSeconds;
    }
}

// What is not a training byte starts no packet: handshake pulses, a glitch, a byte
// other than 0xAA, 0xAA far outside every baud rate.
TEST(LineDecoder, OnlyATrainingByteStartsAPacket) {
    const double rate = 4e6;
    DigitalChannel pulses;
    pulses.see(static_cast<uint64_t>(0.001 * rate), false);  // 2 ms low, 8 ms high, ...
    pulses.see(static_cast<uint64_t>(0.003 * rate), true);
    pulses.see(static_cast<uint64_t>(0.011 * rate), false);
    pulses.see(static_cast<uint64_t>(0.013 * rate), true);
    pulses.see(static_cast<uint64_t>(0.0131 * rate), false);  // a glitch
    pulses.see(static_cast<uint64_t>(0.01311 * rate), true);
    EXPECT_TRUE(logic::decodeLine(pulses, rate).empty());

    DigitalChannel notTraining;
    logic::writePacket(notTraining, rate, 0.001, {0x55, 0x22, 0x09}, 115200);
    EXPECT_TRUE(logic::decodeLine(notTraining, rate).empty());

    DigitalChannel tooFast;
    logic::writePacket(tooFast, rate, 0.001, kRequest, 115200 * 1.3);
    EXPECT_TRUE(logic::decodeLine(tooFast, rate).empty());
}

// An end bit found low is a framing error; the character is still read.
TEST(LineDecoder, ALowEndBitIsAFramingError) {
    const double rate = 8e6, baud = 57600;
    // Two characters, then the third by hand with its end bit low, then the rest.
    const double third = 0.001 + 2 * 12 / baud;
    DigitalChannel broken;
    std::vector<uint8_t> before(kRequest.begin(), kRequest.begin() + 2);
    logic::writePacket(broken, rate, 0.001, before, baud, 2);
    const uint8_t byte = kRequest[2];
    auto put = [&](double bits, bool high) {
        broken.see(static_cast<uint64_t>(std::llround((third + bits / baud) * rate)), high);
    };
    put(0, false);
    for (int k = 0; k < 8; ++k)
        put(1 + k, ((byte >> k) & 1) != 0);
    put(9, false);  // the end bit low
    put(10, true);
    std::vector<uint8_t> after(kRequest.begin() + 3, kRequest.end());
    logic::writePacket(broken, rate, third + 12 / baud, after, baud, 2);
    const auto packets = logic::decodeLine(broken, rate);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_TRUE(packets[0].framingError);
    EXPECT_EQ(packets[0].bytes, kRequest);
}

}  // namespace
