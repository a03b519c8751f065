// sigrok sessions made by hand from the format's description (a zip of
// `version`, `metadata` and the samples in `logic-1-1`, `logic-1-2`, ...):
// their lines, their packets, and one message for each kind of damage.
#include "logic/session_archives.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <fstream>
#include <string>
#include <vector>

#include "logic/capture_import.h"
#include "logic/line_decoder.h"
#include "support/test_folder.h"
#include "support/zip_archive.h"

namespace {

using testing_support::zipOf;

const std::vector<uint8_t> kRequest = {0xAA, 0x22, 0x09, 0x02, 0x08, 0x10, 0x00,
                                       0x00, 0x00, 0x01, 0x90, 0x01, 0x22, 0x97};
const std::vector<uint8_t> kAck = {0xAA, 0x41, 0x09, 0x00, 0x5D};

// Samples of `unitSize` bytes at 4 MHz: probe 3 carries D+ (the Request at 1 ms),
// probe 6 D- (the ACK at 3 ms), probe 1 a clock, the rest stay low.
std::string samples(std::size_t unitSize, std::size_t count) {
    const double rate = 4e6;
    logic::DigitalChannel dplus, dminus;
    logic::writePacket(dplus, rate, 0.001, kRequest, 115200);
    logic::writePacket(dminus, rate, 0.003, kAck, 115200);
    std::string bytes;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t value = (i / 7) % 2;  // probe 1
        if (dplus.levelAt(i)) value |= 1u << 2;
        if (dminus.levelAt(i)) value |= 1u << 5;
        for (std::size_t b = 0; b < unitSize; ++b)
            bytes.push_back(static_cast<char>((value >> (8 * b)) & 0xFF));
    }
    return bytes;
}

std::string metadata(const std::string& unitSize, const std::string& rate = "4 MHz",
                     const std::string& probes = "8") {
    return "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n"
           "total probes=" +
           probes + "\nsamplerate=" + rate +
           "\ntotal analog=0\n"
           "probe1=CLK\nprobe2=X\nprobe3=D+\nprobe4=Y\nprobe5=Z\nprobe6=D-\nprobe7=A\nprobe8=B\n"
           "unitsize=" +
           unitSize + "\n";
}

logic::LogicLoad load(const std::vector<uint8_t>& archive) {
    return logic::readSigrokSession(archive.data(), archive.size(), "bus.sr");
}

TEST(SigrokSession, LinesAndPacketsOfAnySampleSizeAndChunking) {
    const std::size_t count = 20'000;  // 5 ms
    for (const std::size_t unitSize : {1u, 2u, 3u}) {
        const std::string all = samples(unitSize, count);
        // Chunks that cut a sample in two, as a session written piece by piece may.
        const std::size_t cut = all.size() / 3 / unitSize * unitSize + 1;
        const auto archive = zipOf({{"version", "2"},
                                    {"metadata", metadata(std::to_string(unitSize))},
                                    {"logic-1-1", all.substr(0, cut)},
                                    {"logic-1-2", all.substr(cut)}});
        const logic::LogicLoad loaded = load(archive);
        ASSERT_TRUE(loaded.recording) << loaded.message;
        const logic::LogicRecording& recording = *loaded.recording;
        EXPECT_EQ(recording.sampleRate, 4e6);
        EXPECT_EQ(recording.sampleCount, count);
        ASSERT_EQ(recording.channels.size(), 8u);
        EXPECT_EQ(recording.channels[2].name, "D+");
        EXPECT_EQ(recording.channels[0].changes.size(), count / 7 - (count % 7 == 0 ? 1 : 0));
        const auto dplus = logic::decodeLine(recording.channels[2], recording.sampleRate);
        const auto dminus = logic::decodeLine(recording.channels[5], recording.sampleRate);
        ASSERT_EQ(dplus.size(), 1u) << unitSize;
        ASSERT_EQ(dminus.size(), 1u) << unitSize;
        EXPECT_EQ(dplus[0].bytes, kRequest);
        EXPECT_EQ(dminus[0].bytes, kAck);
        EXPECT_EQ(dplus[0].firstEdge, 4000u);
    }
}

// Analog channels follow the probes (analog9, analog10): their floats become the mean of
// each millisecond, and the records take the bus voltage and current from them, scaled.
TEST(SigrokSession, AnalogChannelsGiveTheRecordsTheirBus) {
    const std::size_t count = 20'000;  // 5 ms at 4 MHz
    std::string vbus, ibus;
    for (std::size_t i = 0; i < count; ++i) {
        // 0.5 V for the first 2 ms, then 0.9 V (a divider of 10: 5 V, then 9 V); 0.15 V a shunt.
        const float volts = i < 8000 ? 0.5f : 0.9f, amps = 0.15f;
        vbus.append(reinterpret_cast<const char*>(&volts), 4);
        ibus.append(reinterpret_cast<const char*>(&amps), 4);
    }
    std::string meta = metadata("1");
    meta.replace(meta.find("total analog=0"), 14, "total analog=2\nanalog9=VBUS\nanalog10=IBUS");
    const auto archive = zipOf({{"version", "2"},
                                {"metadata", meta},
                                {"logic-1-1", samples(1, count)},
                                {"analog-1-9-1", vbus.substr(0, 30'001)},
                                {"analog-1-9-2", vbus.substr(30'001)},
                                {"analog-1-10-1", ibus}});
    const logic::LogicLoad loaded = load(archive);
    ASSERT_TRUE(loaded.recording) << loaded.message;
    ASSERT_EQ(loaded.recording->analog.size(), 2u);
    EXPECT_EQ(loaded.recording->analog[0].name, "VBUS");
    EXPECT_EQ(loaded.recording->analog[0].points.size(), 5u);
    EXPECT_NEAR(*loaded.recording->analog[0].valueAt(0.0035), 0.9, 1e-6);

    logic::LineRoles roles{2, 5, 0, 1, 10, 10};
    auto store = ufcs::CaptureStore::create();
    logic::importRecording(*loaded.recording, roles, *store);
    ASSERT_EQ(store->count(), 3u);
    EXPECT_EQ(store->record(1).voltage(), 5000);  // the Request at 1 ms
    EXPECT_EQ(store->record(2).voltage(), 9000);  // the ACK at 3 ms
    EXPECT_EQ(store->record(2).current(), 1500);
}

TEST(SigrokSession, DamageIsToldWithTheFileName) {
    const std::string all = samples(1, 4000);
    const auto good = zipOf({{"version", "2"}, {"metadata", metadata("1")}, {"logic-1-1", all}});
    std::vector<uint8_t> truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    const struct {
        std::vector<uint8_t> archive;
        const char* told;
    } cases[] = {
        {{'n', 'o', 't', ' ', 'z', 'i', 'p'}, "不是 zip 格式"},
        {truncated, "不是 zip 格式"},
        {zipOf({{"version", "2"}, {"logic-1-1", all}}), "没有可读的 metadata"},
        {zipOf({{"metadata", "[device 2]\nsamplerate=1 MHz\n"}}), "没有 [device 1]"},
        {zipOf({{"metadata", metadata("1", "fast")}, {"logic-1-1", all}}), "samplerate 'fast'"},
        {zipOf({{"metadata", metadata("1", "4 MHz", "99")}, {"logic-1-1", all}}),
         "total probes '99'"},
        {zipOf({{"metadata", metadata("9")}, {"logic-1-1", all}}), "unitsize '9'"},
        {zipOf({{"metadata", metadata("1", "4 MHz", "12")}, {"logic-1-1", all}}),
         "unitsize '1'"},  // twelve probes do not fit one byte
        {zipOf({{"metadata", metadata("1")}}), "没有逻辑采样"},
        {zipOf({{"metadata", std::string(70'000, 'x')}}), "没有可读的 metadata"},
    };
    for (const auto& c : cases) {
        const logic::LogicLoad loaded = load(c.archive);
        EXPECT_FALSE(loaded.recording) << c.told;
        EXPECT_EQ(loaded.message.rfind("无法读取 bus.sr：", 0), 0u) << loaded.message;
        EXPECT_NE(loaded.message.find(c.told), std::string::npos) << loaded.message;
    }
}

// DSView's session: a header and, per probe and block, a bit a sample (LSB first).
// Probes are numbered as the header numbers them; the last block may run past
// total samples.
std::string bitsOf(const logic::DigitalChannel& line, uint64_t first, uint64_t count) {
    std::string bytes((count + 7) / 8, '\0');
    for (uint64_t i = 0; i < count; ++i)
        if (line.levelAt(first + i))
            bytes[i / 8] = static_cast<char>(bytes[i / 8] | (1 << (i % 8)));
    return bytes;
}

TEST(DsViewSession, ProbesFromTheirBlocks) {
    const double rate = 2e6;
    logic::DigitalChannel dplus, dminus;
    logic::writePacket(dplus, rate, 0.001, kRequest, 57600);
    logic::writePacket(dminus, rate, 0.004, kAck, 57600);
    const uint64_t total = 12'003, block = 8'000;  // two blocks, the second padded
    const std::string header =
        "[version]\nversion = 2\n[header]\ndriver = DSLogic\ntotal samples = 12003\n"
        "total probes = 2\ntotal blocks = 2\nsamplerate = 2 MHz\nprobe0 = D-\nprobe1 = D+\n"
        "trigger pos = 0\n";
    const auto archive = zipOf({{"header", header},
                                {"L-0/0", bitsOf(dminus, 0, block)},
                                {"L-0/1", bitsOf(dminus, block, block)},
                                {"L-1/0", bitsOf(dplus, 0, block)},
                                {"L-1/1", bitsOf(dplus, block, block)},
                                {"session", "{}"}});
    const logic::LogicLoad loaded =
        logic::readDsViewSession(archive.data(), archive.size(), "bus.dsl");
    ASSERT_TRUE(loaded.recording) << loaded.message;
    const logic::LogicRecording& recording = *loaded.recording;
    EXPECT_EQ(recording.sampleCount, total);
    ASSERT_EQ(recording.channels.size(), 2u);
    EXPECT_EQ(recording.channels[0].name, "D-");
    EXPECT_EQ(recording.channels[1].name, "D+");
    EXPECT_EQ(recording.channels[1].changes, dplus.changes);
    const auto packets = logic::decodeLine(recording.channels[1], rate);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].bytes, kRequest);
    EXPECT_EQ(logic::decodeLine(recording.channels[0], rate).at(0).bytes, kAck);

    const struct {
        std::vector<uint8_t> archive;
        const char* told;
    } broken[] = {
        {zipOf({{"L-0/0", "x"}}), "没有可读的 header"},
        {zipOf(
             {{"header", "[header]\ntotal samples = 10\ntotal blocks = 1\nsamplerate = 1 MHz\n"}}),
         "没有 probe"},
        {zipOf({{"header", header}, {"L-0/0", bitsOf(dminus, 0, block)}}), "缺少 L-0/1"},
        {zipOf({{"header", header},
                {"L-0/0", bitsOf(dminus, 0, block)},
                {"L-0/1", "ab"},
                {"L-1/0", ""},
                {"L-1/1", ""}}),
         "L-0 的采样少于 total samples"},
        {zipOf(
             {{"header", "[header]\ntotal samples = -3\ntotal blocks = 1\nsamplerate = 1 MHz\n"}}),
         "total samples '-3'"},
    };
    for (const auto& c : broken) {
        const logic::LogicLoad refused =
            logic::readDsViewSession(c.archive.data(), c.archive.size(), "bus.dsl");
        EXPECT_FALSE(refused.recording) << c.told;
        EXPECT_NE(refused.message.find(c.told), std::string::npos) << refused.message;
    }
}

}  // namespace

namespace {

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A clock line and a still one, as text: `edges` changes 10 ns apart.
std::string vcdClock(int edges) {
    std::string text =
        "$timescale 1 ns $end\n$scope module top $end\n$var wire 1 ! CLK $end\n"
        "$var wire 1 \" X $end\n$upscope $end\n$enddefinitions $end\n#0\n0!\n0\"\n";
    for (int k = 1; k <= edges; ++k)
        text += "#" + std::to_string(k * 10) + "\n" + (k % 2 ? "1" : "0") + "!\n";
    return text;
}

std::string csvClock(int edges) {
    std::string text = "Time [s],CLK,X\n0,0,0\n";
    for (int k = 1; k <= edges; ++k)
        text += std::to_string(k * 10) + "e-9," + (k % 2 ? "1" : "0") + ",0\n";
    return text;
}

}  // namespace

// Long files tell their progress as they read, and stop, saying nothing more, when asked.
TEST(LogicFiles, ReadingTellsItsProgressAndStopsWhenAsked) {
    const testing_support::TestFolder folder;
    const uint64_t dslSamples = 12'000'000, block = 8'000'000;
    logic::DigitalChannel dplus, dminus;
    logic::writePacket(dplus, 4e6, 0.001, kRequest, 115200);
    logic::writePacket(dminus, 4e6, 0.003, kAck, 115200);
    const std::string dslHeader =
        "[header]\ntotal samples = 12000000\ntotal probes = 2\ntotal blocks = 2\n"
        "samplerate = 4 MHz\nprobe0 = D-\nprobe1 = D+\n";
    const std::pair<const char*, std::string> files[] = {
        {"long.sr",
         [] {
             const auto bytes = zipOf({{"version", "2"},
                                       {"metadata", metadata("1")},
                                       {"logic-1-1", samples(1, 3'000'000)}});
             return std::string(bytes.begin(), bytes.end());
         }()},
        {"long.dsl",
         [&] {
             const auto bytes = zipOf({{"header", dslHeader},
                                       {"L-0/0", bitsOf(dminus, 0, block)},
                                       {"L-0/1", bitsOf(dminus, block, dslSamples - block)},
                                       {"L-1/0", bitsOf(dplus, 0, block)},
                                       {"L-1/1", bitsOf(dplus, block, dslSamples - block)}});
             return std::string(bytes.begin(), bytes.end());
         }()},
        {"long.vcd", vcdClock(300'000)},
        {"long.csv", csvClock(300'000)},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const auto path = folder.path() / name;
        writeFile(path, bytes);
        const logic::LogicLoad quiet = logic::readLogicFile(path);
        ASSERT_TRUE(quiet.recording) << quiet.message;

        std::vector<std::pair<uint64_t, uint64_t>> told;
        const logic::LogicLoad withProgress =
            logic::readLogicFile(path, [&told](uint64_t done, uint64_t total) {
                told.emplace_back(done, total);
                return true;
            });
        ASSERT_TRUE(withProgress.recording) << withProgress.message;
        EXPECT_EQ(withProgress.recording->channels.at(0).changes,
                  quiet.recording->channels[0].changes);
        ASSERT_GE(told.size(), 2u);
        for (std::size_t k = 0; k < told.size(); ++k) {
            EXPECT_LE(told[k].first, told[k].second);
            if (k > 0) {
                EXPECT_GT(told[k].first, told[k - 1].first);
            }
        }
        // Told a megabyte at a time: the last word is within one of the whole.
        EXPECT_GE(told.back().first + (1 << 20), told.back().second);

        int asked = 0;
        const logic::LogicLoad stopped = logic::readLogicFile(path, [&asked](uint64_t, uint64_t) {
            ++asked;
            return false;
        });
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(stopped.cancelled);
        EXPECT_FALSE(stopped.recording);
        EXPECT_TRUE(stopped.message.empty()) << stopped.message;
    }
}
