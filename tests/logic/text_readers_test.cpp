#include "logic/text_readers.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/format.h"
#include "logic/line_decoder.h"

namespace {

const std::vector<uint8_t> kRequest = {0xAA, 0x22, 0x09, 0x02, 0x08, 0x10, 0x00,
                                       0x00, 0x00, 0x01, 0x90, 0x01, 0x22, 0x97};
const std::vector<uint8_t> kAck = {0xAA, 0x41, 0x09, 0x00, 0x5D};  // an ACK on D-

// D+ carries the Request at 2 ms, D- the ACK at 4 ms: the edges a 1 GHz clock would see.
std::vector<logic::DigitalChannel> twoLines() {
    std::vector<logic::DigitalChannel> lines(2);
    logic::writePacket(lines[0], 1e9, 0.002, kRequest, 115200);
    logic::writePacket(lines[1], 1e9, 0.004, kAck, 115200);
    return lines;
}

// Every edge of the lines in time order: time (ns), line, level.
std::multimap<uint64_t, std::pair<int, bool>> edgesOf(
    const std::vector<logic::DigitalChannel>& lines) {
    std::multimap<uint64_t, std::pair<int, bool>> edges;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        bool level = lines[i].initial;
        for (const uint64_t change : lines[i].changes) {
            level = !level;
            edges.insert({change, {i, level}});
        }
    }
    return edges;
}

// A dump as PulseView writes one: a header, a scope, one-bit wires with
// one-character identifiers, the initial values, then "#time" and changes.
std::string vcdOf(const std::vector<logic::DigitalChannel>& lines, const char* scale = "1 ns",
                  uint64_t divide = 1) {
    std::string text =
        "$date Thu Dec 10 2026 $end\n$version libsigrok 0.5.2 $end\n$comment\n"
        "  Acquisition with 2/8 channels at 1 GHz\n$end\n";
    text += std::string("$timescale ") + scale + " $end\n$scope module libsigrok $end\n";
    text += "$var wire 1 ! D+ $end\n$var wire 1 \" D- $end\n";
    text += "$var wire 8 # bus $end\n$var real 1 % vbus $end\n";  // not lines
    text += "$upscope $end\n$enddefinitions $end\n#0 1! 1\" b00000000 # r5.0 %\n";
    const char ids[] = {'!', '"'};
    uint64_t last = 0;
    for (const auto& [time, change] : edgesOf(lines)) {
        if (time / divide != last) text += "#" + std::to_string(time / divide) + "\n";
        last = time / divide;
        text += std::string(1, change.second ? '1' : '0') + ids[change.first] + "\n";
    }
    return text + "#" + std::to_string(last + 100) + "\n";
}

// A CSV as logic-analyzer software exports it: a title row, seconds (a trigger at
// 1 ms leaves the first rows negative), one row per change.
std::string csvOf(const std::vector<logic::DigitalChannel>& lines) {
    std::string text = "Time [s], D+, D-\n";
    bool levels[2] = {true, true};
    auto row = [&](uint64_t ns) {
        char time[64];
        std::snprintf(time, sizeof time, "%.9f", static_cast<double>(ns) / 1e9 - 0.001);
        text += std::string(time) + "," + (levels[0] ? "1" : "0") + "," + (levels[1] ? "1" : "0") +
                "\r\n";
    };
    row(0);
    for (const auto& [time, change] : edgesOf(lines)) {
        levels[change.first] = change.second;
        row(time);
    }
    return text;
}

// Both lines read back from a file, and decoded into their packets.
void expectBothPackets(const logic::LogicLoad& load) {
    ASSERT_TRUE(load.recording) << load.message;
    const logic::LogicRecording& recording = *load.recording;
    ASSERT_EQ(recording.channels.size(), 2u);
    EXPECT_EQ(recording.channels[0].name, "D+");
    EXPECT_EQ(recording.channels[1].name, "D-");
    const auto dp = logic::decodeLine(recording.channels[0], recording.sampleRate);
    const auto dm = logic::decodeLine(recording.channels[1], recording.sampleRate);
    ASSERT_EQ(dp.size(), 1u);
    ASSERT_EQ(dm.size(), 1u);
    EXPECT_EQ(dp[0].bytes, kRequest);
    EXPECT_EQ(dm[0].bytes, kAck);
    EXPECT_NEAR(recording.secondsAt(dp[0].firstEdge), 0.002, 1e-6);
    EXPECT_NEAR(recording.secondsAt(dm[0].firstEdge), 0.004, 1e-6);
}

TEST(TextReaders, AVcdOfTwoLinesGivesTheirPackets) {
    std::istringstream in(vcdOf(twoLines()));
    expectBothPackets(logic::readVcd(in, "bus.vcd"));
    // A coarser time scale: 10 ns a step.
    std::istringstream coarse(vcdOf(twoLines(), "10ns", 10));
    const logic::LogicLoad load = logic::readVcd(coarse, "bus.vcd");
    ASSERT_TRUE(load.recording) << load.message;
    EXPECT_DOUBLE_EQ(load.recording->sampleRate, 1e8);
    expectBothPackets(load);
}

TEST(TextReaders, ACsvOfTwoLinesGivesTheirPackets) {
    std::istringstream in(csvOf(twoLines()));
    expectBothPackets(logic::readTransitionCsv(in, "bus.csv"));
}

// A damaged or hostile file: one message that names the file and what is wrong.
TEST(TextReaders, BadFilesAreToldWhatIsWrong) {
    const std::string good = vcdOf(twoLines());
    const struct {
        std::string text;
        const char* told;
    } vcds[] = {
        {"", "没有 $enddefinitions"},
        {good.substr(0, good.find("$enddefinitions")), "没有 $enddefinitions"},
        {"$timescale 3 ns $end $var wire 1 ! D+ $end $enddefinitions $end", "时间单位"},
        {"$var wire 1 ! D+ $end $enddefinitions $end #0 1!", "没有 $timescale"},
        {"$timescale 1ns $end $var wire 8 ! bus $end $enddefinitions $end", "没有 1 位的信号"},
        {"$timescale 1ns $end $var wire 1 ! D+ $end $enddefinitions $end #10 0! #5 1!", "时间倒退"},
        {"$timescale 1ns $end $var wire 1 ! D+ $end $enddefinitions $end #1x", "不是整数"},
        {"$timescale 1ns $end $var wire 1 ! D+ $end $enddefinitions $end " + std::string(5000, 'x'),
         "4096"},
        {"$timescale 1ns $end $var wire 1 ! D+ $end $enddefinitions $end #99999999999999999999",
         "不是整数"},
        {"$timescale 1 fs $end $var wire 1 ! D+", "太小"},
        {"1! $timescale 1ns $end", "在 $enddefinitions 之前"},
    };
    for (const auto& c : vcds) {
        std::istringstream in(c.text);
        const logic::LogicLoad load = logic::readVcd(in, "bad.vcd");
        EXPECT_FALSE(load.recording) << c.told;
        EXPECT_EQ(load.message.rfind("无法读取 bad.vcd：", 0), 0u) << load.message;
        EXPECT_NE(load.message.find(c.told), std::string::npos) << load.message;
    }
    const struct {
        std::string text;
        const char* told;
    } csvs[] = {
        {"", "没有数据行"},
        {"Time [s], D+\n", "没有数据行"},
        {"Time [s], D+, D-\n0.1, 1\n", "有 2 列，应为 3 列"},
        {"Time [s], D+\nabc, 1\n", "不是以秒计的时间"},
        {"Time [s], D+\n0.2, 1\n0.1, 0\n", "在前一行之前"},
        {"Time [s], D+\n0.2, 2\n", "不是 0 或 1"},
        {"Time [s]\n0.2\n", "应有时间和"},
        {std::string(70000, '1'), "64 KB"},
        {"Time [s], D+\n0.1, 1\nnan, 0\n", "不是以秒计的时间"},
    };
    for (const auto& c : csvs) {
        std::istringstream in(c.text);
        const logic::LogicLoad load = logic::readTransitionCsv(in, "bad.csv");
        EXPECT_FALSE(load.recording) << c.told;
        EXPECT_NE(load.message.find(c.told), std::string::npos) << load.message;
    }
}

// Without a title row the lines are D0, D1, ...; comment lines are skipped; a
// value that does not change makes no edge.
TEST(TextReaders, ACsvWithoutTitlesAndWithComments) {
    std::istringstream in("; sigrok export\n0.0,1,0\n0.5,1,1\n1.0,0,1\n1.0,0,1\n");
    const logic::LogicLoad load = logic::readTransitionCsv(in, "plain.csv");
    ASSERT_TRUE(load.recording) << load.message;
    const auto& channels = load.recording->channels;
    ASSERT_EQ(channels.size(), 2u);
    EXPECT_EQ(channels[1].name, "D1");
    const logic::LogicRecording& recording = *load.recording;
    EXPECT_TRUE(channels[0].initial);
    ASSERT_EQ(channels[0].changes.size(), 1u);
    EXPECT_DOUBLE_EQ(recording.secondsAt(channels[0].changes[0]), 1.0);
    EXPECT_FALSE(channels[1].initial);
    ASSERT_EQ(channels[1].changes.size(), 1u);
    EXPECT_DOUBLE_EQ(recording.secondsAt(channels[1].changes[0]), 0.5);
}

// A CSV or a VCD gives times, not the analyzer's rate: the rate is the lowest usual one
// on whose grid every time lies (within the text's precision), so an edge is not taken
// as known better than its sample.
TEST(TextReaders, TheSampleRateIsTheGridTheTimesLieOn) {
    const struct {
        const char* name;
        double rate;        // the times are multiples of 1/rate, from a start
        double start;       // seconds
        const char* print;  // how each time is written (a VCD: "#%.0f" in nanoseconds)
        double expected;
    } cases[] = {
        {"1 MHz, nanoseconds written", 1e6, 0, "%.9f", 1e6},
        {"24 MHz, nanoseconds written", 24e6, 0, "%.9f", 24e6},
        {"24 MHz after a trigger at -0.1 s", 24e6, -0.1, "%.9f", 24e6},
        {"3 MHz, more digits than needed", 3e6, 0, "%.12f", 3e6},
        {"24 MHz written to the microsecond", 24e6, 0, "%.6f", 1e6},
        {"an exponent", 4e6, 0, "%.6e", 4e6},
        {"no usual grid: as fine as the text can say", 1e9 / 7.3, 0, "%.9f", 1e9},
        {"a VCD in nanoseconds of 24 MHz", 24e6, 0, "#%.0f", 24e6},
        {"a VCD in nanoseconds of 1 MHz", 1e6, 0, "#%.0f", 1e6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool vcd = c.print[0] == '#';
        std::string text = vcd ? "$timescale 1 ns $end $var wire 1 ! A $end $var wire 1 \" B $end "
                                 "$enddefinitions $end #0 0! 0\"\n"
                               : "Time [s],A,B\n";
        uint64_t sample = 0;
        for (int k = 0; k < 400; ++k) {
            sample += 100 + static_cast<uint64_t>(k * 7919 % 113);  // uneven gaps
            const double seconds = c.start + static_cast<double>(sample) / c.rate;
            text += common::format(c.print, vcd ? seconds * 1e9 : seconds) +
                    (vcd ? (k % 2 ? " 0!\n" : " 1!\n") : (k % 2 ? ",1,0\n" : ",0,1\n"));
        }
        std::istringstream in(text);
        const logic::LogicLoad load =
            vcd ? logic::readVcd(in, "grid.vcd") : logic::readTransitionCsv(in, "grid.csv");
        ASSERT_TRUE(load.recording) << load.message;
        EXPECT_EQ(load.recording->sampleRate, c.expected);
        EXPECT_EQ(load.recording->channels[0].changes.size(), vcd ? 400u : 399u);
    }
}

}  // namespace
