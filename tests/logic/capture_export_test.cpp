// Captures written as D+/D- levels and read back: the simulator's traffic
// survives the round trip record for record, each asked-for imperfection
// gives exactly its finding, and the line signals and faults that only a
// hand-made recording has are found with their measured values.
#include "logic/capture_export.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <vector>

#include "analyzer/capture_feed.h"
#include "common/format.h"
#include "logic/capture_import.h"
#include "logic/line_decoder.h"
#include "logic/line_signals.h"
#include "logic/session_archives.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "support/test_folder.h"
#include "support/zip_archive.h"

namespace {

using ufcs::FindingKind;

std::unique_ptr<ufcs::CaptureStore> simulatedCapture(uint32_t seed, int events) {
    auto store = ufcs::CaptureStore::create();
    analyzer::CaptureFeed feed(*store, {});
    const simulator::BusTraffic::Options options(seed);
    simulator::BusTraffic traffic(options);
    for (int i = 0; i < events; ++i)
        feed.feedReports(simulator::capturePages(traffic.next()));
    return store;
}

// Every record of `imported` as `original` has it: kind, time from the first record, the
// bytes and (for messages) the baud code.
void expectSameRecords(const ufcs::CaptureStore& original, const ufcs::CaptureStore& imported) {
    for (uint32_t i = 1; i < std::min(original.count(), imported.count()); ++i) {
        if (original.record(i).kind() != imported.record(i).kind() ||
            original.record(i).timeUs() - original.record(1).timeUs() !=
                imported.record(i).timeUs() - imported.record(1).timeUs()) {
            ADD_FAILURE() << "record " << i << " kind " << int(original.record(i).kind()) << " at "
                          << original.record(i).timeUs() - original.record(1).timeUs()
                          << " became kind " << int(imported.record(i).kind()) << " at "
                          << imported.record(i).timeUs() - imported.record(1).timeUs();
            break;
        }
    }
    ASSERT_EQ(imported.count(), original.count());
    const int64_t originalStart = original.record(1).timeUs();
    const int64_t importedStart = imported.record(1).timeUs();
    for (uint32_t i = 1; i < original.count(); ++i) {
        const ufcs::ConstCaptureRecord a = original.record(i), b = imported.record(i);
        ASSERT_EQ(b.kind(), a.kind()) << "record " << i;
        ASSERT_EQ(b.timeUs() - importedStart, a.timeUs() - originalStart) << "record " << i;
        ASSERT_EQ(b.byteCount(), a.byteCount()) << "record " << i;
        ASSERT_TRUE(std::equal(a.wire(), a.wire() + a.byteCount(), b.wire())) << "record " << i;
        if (ufcs::isMessageKind(a.kind())) {
            ASSERT_EQ(b.baudCode(), a.baudCode()) << "record " << i;
        }
    }
}

std::set<FindingKind> kindsOf(const std::vector<ufcs::SequenceNote>& findings) {
    std::set<FindingKind> kinds;
    for (const ufcs::SequenceNote& note : findings)
        kinds.insert(*note.kind);
    return kinds;
}

TEST(CaptureExport, SimulatedTrafficRoundTripsThroughASigrokSession) {
    const testing_support::TestFolder folder;
    for (const double rate : {1e6, 24e6}) {
        const auto original = simulatedCapture(rate > 1e6 ? 5 : 11, rate > 1e6 ? 250 : 900);
        logic::SynthesisOptions options;
        options.sampleRate = rate;
        const logic::Synthesis synthesis = logic::synthesizeRecording(*original, options);
        EXPECT_EQ(synthesis.moved, 0u);
        EXPECT_EQ(synthesis.written, original->count() - 1);
        const auto file = folder.path() / "traffic.sr";
        ASSERT_TRUE(logic::writeSigrokSession(file, synthesis.recording).ok);
        const logic::LogicLoad load = logic::readSigrokSession(file);
        ASSERT_TRUE(load.recording) << load.message;
        EXPECT_EQ(load.recording->sampleRate, rate);
        EXPECT_EQ(load.recording->channels[0].name, "D+");
        auto imported = ufcs::CaptureStore::create();
        const auto roles = logic::chooseLineRoles(*load.recording);
        ASSERT_TRUE(roles);
        const logic::CaptureImport result =
            logic::importRecording(*load.recording, *roles, *imported);
        expectSameRecords(*original, *imported);
        EXPECT_TRUE(result.findings.empty()) << result.findings.front().text;
        EXPECT_GE(result.lineSignals, 4u);  // the handshakes, answers and resets came back too
    }
}

// The two lines' edges in time order: sample -> which lines change there, as bits.
std::map<uint64_t, int> edgesOf(const logic::LogicRecording& recording) {
    std::map<uint64_t, int> edges;
    for (int k = 0; k < 2; ++k)
        for (const uint64_t at : recording.channels[k].changes)
            edges[at] |= 1 << k;
    return edges;
}

// As PulseView exports a VCD: libsigrok's header, a microsecond time scale at 1 MHz,
// values glued to their identifiers.
std::string pulseViewVcd(const logic::LogicRecording& recording) {
    std::string text =
        "$date Thu Dec 10 2026 $end\n$version libsigrok 0.5.2 $end\n"
        "$comment\n  Acquisition with 2/2 channels at 1 MHz\n$end\n$timescale 1 us $end\n"
        "$scope module libsigrok $end\n$var wire 1 ! D+ $end\n$var wire 1 \" D- $end\n"
        "$upscope $end\n$enddefinitions $end\n";
    bool levels[2] = {recording.channels[0].initial, recording.channels[1].initial};
    text += std::string("#0 ") + (levels[0] ? "1" : "0") + "! " + (levels[1] ? "1" : "0") + "\"\n";
    for (const auto& [at, which] : edgesOf(recording)) {
        text += "#" + std::to_string(at);
        for (int k = 0; k < 2; ++k) {
            if ((which >> k & 1) == 0) continue;
            levels[k] = !levels[k];
            text += std::string(" ") + (levels[k] ? "1" : "0") + (k == 0 ? "!" : "\"");
        }
        text += "\n";
    }
    return text + "#" + std::to_string(recording.sampleCount) + "\n";
}

// As a logic analyzer's software exports transitions: a time in seconds, a column a
// channel named by its number, so D+ and D- are the first two.
std::string transitionCsv(const logic::LogicRecording& recording) {
    int levels = (recording.channels[0].initial ? 1 : 0) | (recording.channels[1].initial ? 2 : 0);
    std::string text = common::format("Time [s],Channel 0,Channel 1\n0.000000000,%d,%d\n",
                                      levels & 1, levels >> 1);
    for (const auto& [at, which] : edgesOf(recording)) {
        levels ^= which;
        text += common::format("%.9f,%d,%d\n", static_cast<double>(at) / recording.sampleRate,
                               levels & 1, levels >> 1 & 1);
    }
    return text;
}

// As DSView saves a session: its header, then a bit a sample, least first, in blocks.
std::vector<uint8_t> dsViewSession(const logic::LogicRecording& recording) {
    constexpr uint64_t kBlock = 1 << 20;
    const uint64_t blocks = (recording.sampleCount + kBlock - 1) / kBlock;
    std::vector<std::pair<std::string, std::string>> members = {
        {"header",
         "[version]\nversion = 2\n[header]\ndriver = DSLogic\ndevice mode = 0\n"
         "total samples = " +
             std::to_string(recording.sampleCount) + "\ntotal probes = 2\ntotal blocks = " +
             std::to_string(blocks) + "\nsamplerate = 1 MHz\nprobe0 = DP\nprobe1 = DM\n"}};
    for (int k = 0; k < 2; ++k) {
        const logic::DigitalChannel& line = recording.channels[k];
        for (uint64_t block = 0; block < blocks; ++block) {
            std::string bits(kBlock / 8, '\0');
            for (uint64_t i = 0; i < kBlock; ++i)
                if (line.levelAt(block * kBlock + i)) bits[i / 8] |= static_cast<char>(1 << i % 8);
            members.push_back({"L-" + std::to_string(k) + "/" + std::to_string(block), bits});
        }
    }
    return testing_support::zipOf(members);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The same traffic as the other programs write it reads back as the same records.
TEST(CaptureExport, SimulatedTrafficRoundTripsThroughEachFormat) {
    const testing_support::TestFolder folder;
    const auto original = simulatedCapture(17, 200);
    const logic::Synthesis synthesis = logic::synthesizeRecording(*original, {});
    const logic::LogicRecording& lines = synthesis.recording;
    const std::vector<uint8_t> dsl = dsViewSession(lines);
    const std::pair<const char*, std::string> files[] = {
        {"pulseview.vcd", pulseViewVcd(lines)},
        {"transitions.csv", transitionCsv(lines)},
        {"dsview.dsl", std::string(dsl.begin(), dsl.end())},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        writeFile(folder.path() / name, bytes);
        auto imported = ufcs::CaptureStore::create();
        const logic::CaptureImport result = logic::importLogicFile(folder.path() / name, *imported);
        ASSERT_TRUE(result.ok) << result.message;
        expectSameRecords(*original, *imported);
        EXPECT_TRUE(result.findings.empty()) << result.findings.front().text;
    }
}

TEST(CaptureExport, EachImperfectionGivesExactlyItsFinding) {
    const auto original = simulatedCapture(3, 300);
    struct Case {
        const char* name;
        logic::SynthesisOptions options;
        std::set<FindingKind> expected;
        bool sameRecords;
    };
    auto with = [](double rate, auto set) {
        logic::SynthesisOptions options;
        options.sampleRate = rate;
        set(options);
        return options;
    };
    const Case cases[] = {
        {"clean at 24 MHz", with(24e6, [](auto&) {}), {}, true},
        {"8 % fast is within the tolerance",
         with(1e6, [](auto& o) { o.baudErrorPercent = 8; }),
         {},
         true},
        {"12 % fast",
         with(1e6, [](auto& o) { o.baudErrorPercent = 12; }),
         {FindingKind::BaudOutOfRange},
         true},
        {"4 % drift",
         with(24e6, [](auto& o) { o.driftPercent = -4; }),
         {FindingKind::BaudDrift},
         true},
        {"0.5 % drift is within the tolerance",
         with(24e6, [](auto& o) { o.driftPercent = 0.5; }),
         {},
         true},
        {"no idle between bytes",
         with(1e6, [](auto& o) { o.gapSeconds = 0; }),
         {FindingKind::ShortCharacterIdle},
         true},
        {"jitter with room between bytes",
         with(24e6,
              [](auto& o) {
                  o.jitterSeconds = 500e-9;
                  o.gapSeconds = 60e-6;
              }),
         {},
         false},  // the longer packets push some later ones back
    };
    for (const Case& c : cases) {
        const logic::Synthesis synthesis = logic::synthesizeRecording(*original, c.options);
        auto imported = ufcs::CaptureStore::create();
        const logic::CaptureImport result =
            logic::importRecording(synthesis.recording, {}, *imported);
        EXPECT_EQ(kindsOf(result.findings), c.expected) << c.name;
        if (!c.expected.empty()) {
            EXPECT_GE(result.findings.size(), 20u) << c.name;
        }
        if (c.sameRecords) {
            SCOPED_TRACE(c.name);
            expectSameRecords(*original, *imported);
        }
    }
}

// A request on D+ as a recording at 24 MHz, with what each case does to it.
struct LineCase {
    const char* name;
    void (*draw)(logic::DigitalChannel& dplus, logic::DigitalChannel& dminus, double rate);
    std::vector<uint8_t> kinds;  // the records after the header
    std::set<FindingKind> findings;
    double measured;  // the first finding's value
};

const std::vector<uint8_t> kPing = {0xAA, 0x42, 0x09, 0x06, 0x78};

TEST(LineSignals, HandshakesResetsAndLineFaultsAreFoundWithTheirMeasure) {
    constexpr double kRate = 24e6;
    const LineCase cases[] = {
        {"the standard's handshake: sink's pulses on D-, the source answers on D+, the sink too",
         [](auto& dplus, auto& dminus, double rate) {
             logic::writeHandshake(dminus, rate, 0.002);
             logic::writeAnswer(dplus, rate, 0.016);
             logic::writeAnswer(dminus, rate, 0.020);
             logic::writePacket(dminus, rate, 0.030, kPing, 115200);
         },
         {0xF2, 0xF1, 0xF3, 2},
         {},
         0},
        {"a second pulse of 4 ms",
         [](auto& dplus, auto& dminus, double rate) {
             logic::writeHandshake(dminus, rate, 0.002, {{2, 4, 2}});
             logic::writeAnswer(dplus, rate, 0.016);
         },
         {0xF2, 0xF1},
         {FindingKind::HandshakePulse},
         4},
        {"resets: the source's by the sink on D-, the cable's on D+",
         [](auto& dplus, auto& dminus, double rate) {
             dplus.initial = dminus.initial = true;
             logic::writeLowPulse(dplus, rate, 0.002, 1.2e-3);
             logic::writeLowPulse(dminus, rate, 0.010, 0);
         },
         {0xF6, 0xF5},
         {},
         0},
        {"an end bit held low",
         [](auto& dplus, auto&, double rate) {
             logic::PacketFlaws flaws;
             flaws.lowEndBitCharacter = 2;
             logic::writePacket(dplus, rate, 0.002, kPing, 115200, flaws);
         },
         {1},
         {FindingKind::FramingError},
         0},
        {"two packets 1 ms apart on one line",
         [](auto& dplus, auto&, double rate) {
             const double end = logic::writePacket(dplus, rate, 0.002, kPing, 115200);
             logic::writePacket(dplus, rate, end + 1e-3, kPing, 115200);
         },
         {1, 1},
         {FindingKind::ShortPacketIdle},
         1},
    };
    for (const LineCase& c : cases) {
        logic::LogicRecording recording;
        recording.sampleRate = kRate;
        recording.channels = {{"D+", false, {}}, {"D-", false, {}}};
        if (c.kinds.front() < 3)
            recording.channels[0].initial = recording.channels[1].initial = true;
        c.draw(recording.channels[0], recording.channels[1], kRate);
        recording.sampleCount = static_cast<uint64_t>(0.05 * kRate);
        auto store = ufcs::CaptureStore::create();
        const logic::CaptureImport result = logic::importRecording(recording, {}, *store);
        std::vector<uint8_t> kinds;
        for (uint32_t i = 1; i < store->count(); ++i)
            kinds.push_back(store->record(i).kind());
        EXPECT_EQ(kinds, c.kinds) << c.name;
        EXPECT_EQ(kindsOf(result.findings), c.findings) << c.name;
        if (!c.findings.empty()) {
            ASSERT_TRUE(result.findings.front().measurement) << c.name;
            EXPECT_NEAR(result.findings.front().measurement->value, c.measured, 0.01) << c.name;
        }
    }
}

}  // namespace

namespace {

// Two lines with a Ping on the first at 1 ms, and analog lines of the names given,
// each a constant 0.5 (a tenth of 5 V, or of 5 A).
logic::LogicRecording namedLines(const char* first, const char* second,
                                 const std::vector<std::string>& analog) {
    logic::LogicRecording recording;
    recording.sampleRate = 1e6;
    recording.sampleCount = 5000;
    recording.channels = {{first, true, {}}, {second, true, {}}};
    logic::writePacket(recording.channels[0], recording.sampleRate, 0.001, kPing, 115200);
    for (const std::string& name : analog)
        recording.analog.push_back({name, 1000, std::vector<float>(5, 0.5f)});
    return recording;
}

}  // namespace

// Which lines carry the bus: by name, by the user's request, or asked; a name that
// is not there is told with those that are.
TEST(LineRoles, AnalogLinesByNameRequestOrChoice) {
    using Roles = logic::LineRoles;
    using Request = logic::LineRequest;
    const struct {
        const char* name;
        logic::LogicRecording recording;
        Request request{};
        std::optional<Roles> answer{};  // the chooser's; unset: what it was offered
        bool cancels = false;
        bool asked = false;
        bool ok = true;
        uint16_t millivolts = 0, milliamps = 0;  // the Ping's record
        const char* told = "";
    } cases[] = {
        {.name = "named lines are not asked about",
         .recording = namedLines("D+", "D-", {"VBUS", "IBUS"}),
         .millivolts = 500,
         .milliamps = 500},
        {.name = "a request's scale",
         .recording = namedLines("D+", "D-", {"VBUS", "IBUS"}),
         .request = Request{.vbusScale = 10, .ibusScale = 2},
         .millivolts = 5000,
         .milliamps = 1000},
        {.name = "unnamed analog lines are asked about",
         .recording = namedLines("D+", "D-", {"A0", "A1"}),
         .answer = Roles{.vbus = 1, .vbusScale = 10},
         .asked = true,
         .millivolts = 5000},
        {.name = "no analog lines and named D+/D-: nothing to ask",
         .recording = namedLines("DP", "DM", {})},
        {.name = "a request by name is what the user is offered",
         .recording = namedLines("D+", "D-", {"A0", "A1"}),
         .request = Request{.ibus = "A1", .ibusScale = 4},
         .asked = true,
         .milliamps = 2000},
        {.name = "a name that is not there",
         .recording = namedLines("D+", "D-", {"A0", "A1"}),
         .request = Request{.vbus = "VB"},
         .ok = false,
         .told = "无法使用 bus.sr：没有名为 VB 的模拟通道（有：A0、A1）"},
        {.name = "a choice of one line for both",
         .recording = namedLines("X", "Y", {}),
         .answer = Roles{.dplus = 1, .dminus = 1},
         .asked = true,
         .ok = false,
         .told = "没有两条不同的线可作 D+ 和 D-"},
        {.name = "cancelled",
         .recording = namedLines("X", "Y", {}),
         .cancels = true,
         .asked = true,
         .ok = false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int asked = 0;
        logic::LineNames heard;
        const logic::LineChooser choose = [&](const logic::LineNames& names,
                                              const Roles& proposed) -> std::optional<Roles> {
            ++asked;
            heard = names;
            if (c.cancels) return std::nullopt;
            return c.answer.value_or(proposed);
        };
        auto store = ufcs::CaptureStore::create();
        const logic::CaptureImport imported =
            logic::importLoaded(c.recording, "bus.sr", *store, c.request, choose);
        EXPECT_EQ(asked, c.asked ? 1 : 0);
        if (asked) {
            EXPECT_EQ(heard.digital.size(), c.recording.channels.size());
            EXPECT_EQ(heard.analog.size(), c.recording.analog.size());
        }
        EXPECT_EQ(imported.ok, c.ok) << imported.message;
        EXPECT_NE(imported.message.find(c.told), std::string::npos) << imported.message;
        if (!c.ok) continue;
        ASSERT_EQ(store->count(), 2u);
        EXPECT_EQ(store->record(1).voltage(), c.millivolts);
        EXPECT_EQ(store->record(1).current(), c.milliamps);
    }
}
