#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "analyzer/capture_feed.h"
#include "cli/cli.h"
#include "cli/cli_run.h"
#include "cli/json.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"
#include "ufcs/capture_list.h"

namespace {

namespace fs = std::filesystem;

using testing_support::CliRun;
CliRun run(const std::vector<std::string>& args) {
    return testing_support::runUfcs(args);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    return parts;
}

class RowsCommandTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder = new testing_support::TestFolder("rows_command_test");
        auto store = ufcs::CaptureStore::create();
        ufcs::CaptureHeaderRecord header;
        header.refuseAck = true;
        analyzer::CaptureFeed feed(*store, header);
        simulator::BusTraffic traffic({21, 0.1});
        for (int i = 0; i < 200; ++i)
            feed.feedReports(simulator::capturePages(traffic.next()));
        recordCount = store->count();
        // Saved before any row was built: the command must build them itself.
        ASSERT_TRUE(ufcs::SaveCapture(*store, folder->path() / "capture.ufcs_stream").ok);
    }
    static void TearDownTestSuite() { delete folder; }
    static fs::path file(const char* name) { return folder->path() / name; }

    static inline testing_support::TestFolder* folder = nullptr;
    static inline uint32_t recordCount = 0;
};

TEST_F(RowsCommandTest, ListsEveryRecordWithTabsAndColour) {
    const CliRun result = run({"rows", file("capture.ufcs_stream").string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = split(result.out, '\n');
    ASSERT_EQ(lines.size(), recordCount);
    const std::vector<std::string> header = split(lines[0], '\t');
    ASSERT_EQ(header.size(), 9u);
    EXPECT_EQ(header[0], "0");
    EXPECT_EQ(header[4], "说明：本次测试 监听模式 拒收ACK ");
    EXPECT_EQ(header[8], "#A0A0FA");
    const std::vector<std::string> first = split(lines[1] + "\t", '\t');
    EXPECT_EQ(first[0], "1");
    EXPECT_EQ(first[3], "握手");
    EXPECT_EQ(first[4], "D+ 握手信号");
    EXPECT_EQ(first[8], "#32C832");
    for (const std::string& line : lines) {
        ASSERT_EQ(std::count(line.begin(), line.end(), '\t'), 8) << line;
        ASSERT_EQ(line.substr(line.rfind('\t') + 1).size(), 7u) << line;
    }
}

TEST_F(RowsCommandTest, JsonCarriesTheSameRows) {
    const CliRun tabbed = run({"rows", file("capture.ufcs_stream").string()});
    const CliRun json = run({"rows", "--json", file("capture.ufcs_stream").string()});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.front(), '[');
    const std::vector<std::string> lines = split(tabbed.out, '\n');
    const std::vector<std::string> second = split(lines[2] + "\t", '\t');
    const std::string expected =
        "{\"index\":2,\"type\":\"\",\"receiver\":\"\",\"message\":" + cli::jsonString(second[3]) +
        ",\"summary\":" + cli::jsonString(second[4]) + ",\"voltage\":\"" + second[5] +
        "\",\"time\":\"" + second[6] + "\",\"baud\":\"\",\"color\":\"" + second[8] + "\",";
    EXPECT_NE(json.out.find(expected), std::string::npos) << expected;
    EXPECT_EQ(static_cast<uint32_t>(std::count(json.out.begin(), json.out.end(), '{')),
              recordCount);
    // The numbers beside the texts: the header has none, a message all of them.
    EXPECT_NE(json.out.find("\"time_us\":null,\"delta_us\":null,\"voltage_mv\":null,"
                            "\"current_ma\":null,\"bytes\":\"\"}"),
              std::string::npos);
    const std::vector<std::string> rows = split(json.out, '\n');
    const std::string& message = *std::find_if(
        rows.begin(), rows.end(),
        [](const std::string& row) { return row.find("\"type\":\"控制\"") != std::string::npos; });
    EXPECT_NE(message.find("\"bytes\":\"AA "), std::string::npos) << message;
    EXPECT_EQ(message.find("\"delta_us\":null"), std::string::npos) << message;
}

// "h:mm:ss.mmm" in milliseconds.
int64_t milliseconds(const std::string& text) {
    int hours = 0, minutes = 0, seconds = 0, millis = 0;
    EXPECT_EQ(std::sscanf(text.c_str(), "%d:%d:%d.%d", &hours, &minutes, &seconds, &millis), 4)
        << text;
    return ((hours * 60LL + minutes) * 60 + seconds) * 1000 + millis;
}

// --relative: every row's time less the first record's, in the texts and the numbers;
// the header row still has none.
TEST_F(RowsCommandTest, RelativeTimesCountFromTheFirstRecord) {
    const CliRun uptime = run({"rows", file("capture.ufcs_stream").string()});
    const CliRun relative = run({"rows", "--relative", file("capture.ufcs_stream").string()});
    ASSERT_EQ(relative.status, 0) << relative.err;
    const std::vector<std::string> absoluteLines = split(uptime.out, '\n');
    const std::vector<std::string> relativeLines = split(relative.out, '\n');
    ASSERT_EQ(absoluteLines.size(), relativeLines.size());
    EXPECT_EQ(split(relativeLines[0] + "\t", '\t')[6], "");
    const int64_t start = milliseconds(split(absoluteLines[1], '\t')[6]);
    EXPECT_GT(start, 0);  // the instrument had been up a while: the two must differ
    for (std::size_t i = 1; i < relativeLines.size(); ++i) {
        const int64_t absolute = milliseconds(split(absoluteLines[i], '\t')[6]);
        const int64_t counted = milliseconds(split(relativeLines[i], '\t')[6]);
        ASSERT_NEAR(counted, absolute - start, 1) << relativeLines[i];  // each rounded down
    }
    const CliRun json = run({"rows", "--relative", "--json", file("capture.ufcs_stream").string()});
    EXPECT_NE(json.out.find("\"time\":\"0:00:00.000\",\"baud\":\"\",\"color\":\"#32C832\","
                            "\"time_us\":0,"),
              std::string::npos);
}

TEST_F(RowsCommandTest, CsvHasTitlesQuotingAndEitherEncoding) {
    const CliRun utf8 = run({"rows", "--csv", "--utf8", file("capture.ufcs_stream").string()});
    ASSERT_EQ(utf8.status, 0) << utf8.err;
    ASSERT_EQ(utf8.out.substr(0, 3), "\xEF\xBB\xBF");
    const std::vector<std::string> lines = split(utf8.out.substr(3), '\n');
    ASSERT_EQ(lines.size(), recordCount + 1);
    EXPECT_EQ(
        lines[0],
        "序号,类型,接收者,消息,简析,电压,时间,波特,间隔(ms),时间(us),电压(mV),电流(mA),字节\r");
    // The header's summary ends in a blank, so it is quoted.
    const std::string quoted = "0,,,,\"说明：本次测试 ";
    EXPECT_EQ(lines[1].substr(0, quoted.size()), quoted);

    const CliRun gbk = run({"rows", "--csv", file("capture.ufcs_stream").string()});
    ASSERT_EQ(gbk.status, 0) << gbk.err;
    EXPECT_EQ(gbk.out.substr(0, 4), "\xD0\xF2\xBA\xC5");  // 序号
    EXPECT_EQ(std::count(gbk.out.begin(), gbk.out.end(), '\n'),
              std::count(utf8.out.begin(), utf8.out.end(), '\n'));
}

TEST_F(RowsCommandTest, CheckReportsFindingsAsJsonAndRefusesUnreadableFiles) {
    auto store = ufcs::CaptureStore::create();
    analyzer::CaptureFeed feed(*store, {});
    simulator::BusTraffic::Options options(4, 0.0);
    options.sequenceFaults.slowPowerReady = true;
    simulator::BusTraffic traffic(options);
    for (int i = 0; i < 300; ++i)
        feed.feedReports(simulator::capturePages(traffic.next()));
    ASSERT_TRUE(ufcs::SaveCapture(*store, file("slow.ufcs_stream")).ok);

    const CliRun json = run({"check", "--json", file("slow.ufcs_stream").string()});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out.substr(0, 2), "[\n");
    EXPECT_NE(json.out.find("\"kind\":\"late\",\"delay_us\":"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"text\":\"Power_Ready 迟到："), std::string::npos) << json.out;

    const CliRun patient =
        run({"check", "--power-ready-ms", "1000", file("slow.ufcs_stream").string()});
    EXPECT_EQ(patient.status, 0);
    EXPECT_EQ(patient.out, "");  // findings only, so that a pipe counts them
    EXPECT_EQ(patient.err, "0 处时序问题\n");
    const CliRun strict = run({"check", file("slow.ufcs_stream").string()});
    const auto findings = std::count(strict.out.begin(), strict.out.end(), '\n');
    EXPECT_GT(findings, 0);
    EXPECT_EQ(strict.err, std::to_string(findings) + " 处时序问题\n");

    EXPECT_EQ(run({"check", file("absent.ufcs_stream").string()}).status, 1);
    EXPECT_EQ(run({"check", "--ack-ms", "0", file("slow.ufcs_stream").string()}).status, 2);
}

TEST_F(RowsCommandTest, RefusedFileGivesTheAnalyzersMessage) {
    {
        std::ofstream out(file("bad.ufcs_stream"), std::ios::binary);
        const char bytes[9] = {1, 0, 0, 0, 100, 0, 0, 0, 0};
        out.write(bytes, sizeof bytes);
    }
    const CliRun result = run({"rows", file("bad.ufcs_stream").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "文件长度不对!\n");
    EXPECT_TRUE(result.out.empty());

    const CliRun missing = run({"rows", file("absent.ufcs_stream").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("absent.ufcs_stream"), std::string::npos);
}

TEST_F(RowsCommandTest, BadCommandLinesShowUsage) {
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"rows"}).status, 2);
    EXPECT_EQ(run({"rows", "a", "b"}).status, 2);
    EXPECT_EQ(run({"rows", "--utf8", "a"}).status, 2);
    EXPECT_EQ(run({"rows", "--json", "--csv", "a"}).status, 2);
    const CliRun unknown = run({"frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("usage"), std::string::npos);
}

TEST(JsonString, EscapesQuotesBackslashesAndControls) {
    EXPECT_EQ(cli::jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(cli::jsonString("\r\n\t"), "\"\\r\\n\\t\"");
    EXPECT_EQ(cli::jsonString(std::string_view("\x01", 1)), "\"\\u0001\"");
    EXPECT_EQ(cli::jsonString("电压"), "\"电压\"");
}

}  // namespace
