// A logic analyzer's recording of simulated traffic, written as VCD and CSV by
// those formats' own conventions: ufcs rows, decode and import read the same
// messages the capture they came from holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "analyzer/capture_feed.h"
#include "cli/cli_run.h"
#include "logic/line_decoder.h"
#include "logic/session_archives.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_list.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CliRun;

double baudOf(uint8_t code) {
    return code == ufcs::kBaud57600 ? 57600 : code == ufcs::kBaud38400 ? 38400 : 115200;
}

class ImportCommandTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder = new testing_support::TestFolder("import_command_test");
        auto store = ufcs::CaptureStore::create();
        analyzer::CaptureFeed feed(*store, ufcs::CaptureHeaderRecord{});
        simulator::BusTraffic traffic({5, 0});
        for (int i = 0; i < 150; ++i)
            feed.feedReports(simulator::capturePages(traffic.next()));
        ASSERT_TRUE(ufcs::SaveCapture(*store, folder->path() / "capture.ufcs_stream").ok);
        // The messages on their lines, as a logic analyzer at 1 GHz would see them.
        lines.assign(2, {});
        lines[0].name = "D+";
        lines[1].name = "D-";
        for (uint32_t i = 1; i < store->count(); ++i) {
            const ufcs::ConstCaptureRecord record = store->record(i);
            const auto kind = static_cast<ufcs::EventKind>(record.kind());
            if (kind != ufcs::EventKind::MessageDPlus && kind != ufcs::EventKind::MessageDMinus)
                continue;
            const std::vector<uint8_t> bytes(record.wire(), record.wire() + record.byteCount());
            logic::writePacket(lines[kind == ufcs::EventKind::MessageDPlus ? 0 : 1], 1e9,
                               static_cast<double>(record.timeUs()) / 1e6, bytes,
                               baudOf(record.baudCode()));
            ++messages;
        }
        writeVcd(folder->path() / "bus.vcd");
        writeCsv(folder->path() / "bus.csv");
    }
    static void TearDownTestSuite() { delete folder; }

    // Every edge in time order: time (ns), line, level.
    static std::multimap<uint64_t, std::pair<int, bool>> edges() {
        std::multimap<uint64_t, std::pair<int, bool>> all;
        for (int i = 0; i < 2; ++i) {
            bool level = lines[i].initial;
            for (const uint64_t change : lines[i].changes)
                all.insert({change, {i, level = !level}});
        }
        return all;
    }
    // As PulseView writes one: identifiers '!' and '"', "#time" then the changes.
    static void writeVcd(const fs::path& path) {
        std::ofstream out(path, std::ios::binary);
        out << "$date today $end\n$version libsigrok 0.5.2 $end\n$timescale 1 ns $end\n"
               "$scope module libsigrok $end\n$var wire 1 ! D+ $end\n$var wire 1 \" D- $end\n"
               "$upscope $end\n$enddefinitions $end\n#0 1! 1\"\n";
        for (const auto& [time, change] : edges())
            out << '#' << time << '\n'
                << (change.second ? '1' : '0') << "!\""[change.first] << '\n';
    }
    // As logic-analyzer software exports one: titles, seconds, a row a change.
    static void writeCsv(const fs::path& path) {
        std::ofstream out(path, std::ios::binary);
        out << "Time [s],Channel 0 D-,Channel 1 D+\n0.000000000,1,1\n";
        bool levels[2] = {true, true};
        for (const auto& [time, change] : edges()) {
            levels[change.first] = change.second;
            char row[80];
            std::snprintf(row, sizeof row, "%.9f,%d,%d\n", static_cast<double>(time) / 1e9,
                          levels[1] ? 1 : 0, levels[0] ? 1 : 0);
            out << row;
        }
    }
    static std::string file(const char* name) { return (folder->path() / name).string(); }

    // The rows of messages: index and voltage aside (a logic analyzer measures no
    // voltage), every column.
    static std::vector<std::string> messageRows(const std::string& rows) {
        std::vector<std::string> kept;
        std::istringstream in(rows);
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> cells;
            std::istringstream fields(line);
            for (std::string cell; std::getline(fields, cell, '\t');)
                cells.push_back(cell);
            if (cells.size() < 9 || cells[1].empty()) continue;  // the header and line signals
            kept.push_back(cells[1] + '|' + cells[2] + '|' + cells[3] + '|' + cells[4] + '|' +
                           cells[6] + '|' + cells[7]);
        }
        return kept;
    }

    static inline testing_support::TestFolder* folder = nullptr;
    static inline std::vector<logic::DigitalChannel> lines;
    static inline std::size_t messages = 0;
};

TEST_F(ImportCommandTest, RowsOfALogicRecordingAreTheCapturesMessages) {
    const CliRun original = testing_support::runUfcs({"rows", file("capture.ufcs_stream")});
    ASSERT_EQ(original.status, 0) << original.err;
    const std::vector<std::string> expected = messageRows(original.out);
    ASSERT_EQ(expected.size(), messages);
    ASSERT_GT(messages, 100u);
    for (const char* name : {"bus.vcd", "bus.csv"}) {
        const CliRun imported = testing_support::runUfcs({"rows", file(name)});
        ASSERT_EQ(imported.status, 0) << imported.err;
        const std::vector<std::string> rows = messageRows(imported.out);
        EXPECT_EQ(rows.size(), expected.size()) << name;
        for (std::size_t i = 0; i < std::min(rows.size(), expected.size()); ++i)
            ASSERT_EQ(rows[i], expected[i]) << name << ", message " << i;
    }
}

TEST_F(ImportCommandTest, ImportWritesACaptureFileAndDecodeReadsTheRecording) {
    const CliRun imported =
        testing_support::runUfcs({"import", file("bus.vcd"), "-o", file("imported.ufcs_stream")});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.out.find(std::to_string(messages) + " 条记录"), std::string::npos)
        << imported.out;
    const CliRun reread = testing_support::runUfcs({"rows", file("imported.ufcs_stream")});
    const CliRun direct = testing_support::runUfcs({"rows", file("bus.vcd")});
    EXPECT_EQ(reread.out, direct.out);
    const CliRun decoded = testing_support::runUfcs({"decode", file("bus.csv"), "1"});
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_NE(decoded.out.find("序号：1"), std::string::npos) << decoded.out;
}

// Lines chosen by number, and files that cannot be used, each with one message.
TEST_F(ImportCommandTest, LinesByNumberAndRefusals) {
    // The CSV's first column is D-: swapped by hand, the D+ messages land on D-.
    const CliRun swapped = testing_support::runUfcs(
        {"import", file("bus.csv"), "--dp", "0", "--dm", "1", "-o", file("swapped.ufcs_stream")});
    ASSERT_EQ(swapped.status, 0) << swapped.err;
    ASSERT_EQ(testing_support::runUfcs({"import", file("bus.csv"), "-o", file("named.ufcs_stream")})
                  .status,
              0);
    auto byName = ufcs::CaptureStore::create();
    auto bySwap = ufcs::CaptureStore::create();
    ASSERT_TRUE(ufcs::OpenCapture(*byName, folder->path() / "named.ufcs_stream").ok);
    ASSERT_TRUE(ufcs::OpenCapture(*bySwap, folder->path() / "swapped.ufcs_stream").ok);
    ASSERT_EQ(byName->count(), bySwap->count());
    for (uint32_t i = 1; i < byName->count(); ++i) {
        const uint8_t named = byName->record(i).kind(), swappedKind = bySwap->record(i).kind();
        ASSERT_EQ(named + swappedKind, 3) << i;  // D+ (1) by name is D- (2) swapped
    }

    std::ofstream(folder->path() / "one.csv") << "Time [s],D+\n0,1\n0.1,0\n";
    std::ofstream(folder->path() / "broken.vcd") << "$timescale 1 ns $end\n$var wire 1 !";
    const struct {
        std::vector<std::string> args;
        const char* told;
    } cases[] = {
        {{"rows", file("one.csv")}, "没有两条不同的线可作 D+ 和 D-"},
        {{"rows", file("broken.vcd")}, "无法读取 broken.vcd："},
        {{"rows", file("missing.vcd")}, "无法打开"},
        {{"import", file("bus.vcd"), "--dp", "x", "-o", file("x.ufcs_stream")},
         "ufcs import: --dp 'x' is not a line number"},
        {{"import", file("bus.vcd"), "--dp", "0", "--dm", "0", "-o", file("x.ufcs_stream")},
         "没有两条不同的线"},
        {{"rows", file("bus.vcd"), "--vbus", "VBUS*0"},
         "ufcs rows: --vbus 'VBUS*0' is not NAME or NAME*SCALE with a positive scale"},
        {{"check", file("bus.vcd"), "--ibus", "IBUS*x"}, "--ibus 'IBUS*x' is not NAME"},
        {{"rows", file("bus.vcd"), "--vbus", "V"}, "没有名为 V 的模拟通道（文件中没有模拟通道）"},
    };
    for (const auto& c : cases) {
        const CliRun run = testing_support::runUfcs(c.args);
        EXPECT_NE(run.status, 0) << c.told;
        EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err;
    }
}

// export-logic writes the capture as a sigrok session that reads back as the same rows;
// an imperfection asked for shows in check with its measure; nothing to write is refused.
TEST_F(ImportCommandTest, ExportLogicWritesWhatReadsBackAndItsFlaws) {
    if (!logic::readsArchives()) GTEST_SKIP() << "this build writes no .sr";
    const CliRun exported = testing_support::runUfcs(
        {"export-logic", file("capture.ufcs_stream"), "-o", file("clean.sr")});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.out.find("已写入 150 条记录"), std::string::npos) << exported.out;
    auto columns = [](const std::string& rows) {  // all but the voltage and the time
        std::string kept;
        std::istringstream lines(rows);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream cells(line);
            std::string cell;
            for (int column = 0; std::getline(cells, cell, '\t'); ++column)
                if (column != 5 && column != 6) kept += cell + '|';
            kept += '\n';
        }
        return kept;
    };
    EXPECT_EQ(columns(testing_support::runUfcs({"rows", file("clean.sr")}).out),
              columns(testing_support::runUfcs({"rows", file("capture.ufcs_stream")}).out));
    EXPECT_EQ(testing_support::runUfcs({"check", file("clean.sr")}).out, "");

    ASSERT_EQ(testing_support::runUfcs({"export-logic", file("capture.ufcs_stream"), "-o",
                                        file("fast.sr"), "--baud-error", "12"})
                  .status,
              0);
    const CliRun fast = testing_support::runUfcs({"check", file("fast.sr"), "--json"});
    EXPECT_NE(fast.out.find("\"kind\":\"baud_out_of_range\""), std::string::npos) << fast.out;
    EXPECT_NE(fast.out.find("\"measured\":{\"value\":129032,\"low\":103680,\"high\":126720"),
              std::string::npos)
        << fast.out;

    std::ofstream(folder->path() / "quiet.csv") << "Time [s],D+,D-\n0,1,1\n0.01,1,1\n";
    ASSERT_EQ(
        testing_support::runUfcs({"import", file("quiet.csv"), "-o", file("quiet.ufcs_stream")})
            .status,
        0);
    const struct {
        std::vector<std::string> args;
        const char* told;
    } refusals[] = {
        {{"export-logic", file("quiet.ufcs_stream"), "-o", file("quiet.sr")},
         "没有可写成电平的记录"},
        {{"export-logic", file("capture.ufcs_stream"), "-o", file("x.sr"), "--rate", "5Hz"},
         "--rate '5Hz' is not a sample rate"},
        {{"export-logic", file("capture.ufcs_stream"), "-o", file("x.sr"), "--baud-error", "40"},
         "--baud-error '40' is not a percentage"},
    };
    for (const auto& c : refusals) {
        const CliRun run = testing_support::runUfcs(c.args);
        EXPECT_NE(run.status, 0) << c.told;
        EXPECT_NE(run.err.find(c.told), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(folder->path() / "quiet.sr"));
}

}  // namespace
