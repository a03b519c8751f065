// `ufcs summary`: what a user pastes into a bug report, of a charger test's
// capture (clean and with a late Power_Ready) and of a recording.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cli/cli_run.h"
#include "logic/session_archives.h"
#include "recorder/osa_file.h"
#include "support/test_folder.h"

namespace {

using testing_support::CliRun;
using testing_support::runUfcs;

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class SummaryCommand : public ::testing::Test {
  protected:
    // A qualification run's capture: the charger's identity, three modes, ten Requests.
    std::string chargerCapture(const char* folder, const char* fault = nullptr) {
        std::vector<std::string> args = {"qualify", "--simulate", "--report", file(folder)};
        if (fault) args.insert(args.end(), {"--fault", fault});
        const CliRun run = runUfcs(args);
        EXPECT_TRUE(std::filesystem::exists(file(folder) + "/capture.ufcs_stream")) << run.err;
        return file(folder) + "/capture.ufcs_stream";
    }
    std::string file(const char* name) const { return folder_.file(name); }
    testing_support::IsolatedLocks locks_;
    testing_support::TestFolder folder_{"summary_command_test"};
};

TEST_F(SummaryCommand, ACaptureTellsTheChargerTheNegotiationAndTheFindings) {
    const std::string clean = chargerCapture("clean");
    const CliRun text = runUfcs({"summary", clean});
    ASSERT_EQ(text.status, 0) << text.err;
    for (const char* expected :
         {"UFCS 捕获摘要：capture.ufcs_stream\n", "充电器：硬件版本 0102，软件版本 0310\n",
          "  1  3.40-5.50 V  0.10-3.00 A\n", "  3  5.00-21.00 V  0.10-3.25 A\n",
          "请求 电压：21.000V 电流：1.620A → Accept ", "请求 电压：22.000V 电流：0.100A → Refuse ",
          "时序问题：没有\n"})
        EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
    // Ten Requests, each on its own line; nine granted with the output they brought.
    EXPECT_EQ(occurrences(text.out, "  请求 电压："), 10u) << text.out;
    EXPECT_EQ(occurrences(text.out, "，Power_Ready "), 9u) << text.out;

    const CliRun markdown = runUfcs({"summary", clean, "--markdown"});
    ASSERT_EQ(markdown.status, 0) << markdown.err;
    for (const char* expected :
         {"### UFCS 捕获摘要：", "- 充电器：", "| 模式 | 电压 | 电流 |\n|---|---|---|\n",
          "| 2 | 5.00-11.00 V | 0.10-6.00 A |\n", "```\n0:00:0"})
        EXPECT_NE(markdown.out.find(expected), std::string::npos) << expected << "\n"
                                                                  << markdown.out;
    EXPECT_EQ(occurrences(markdown.out, "```"), 2u) << markdown.out;

    // A late Power_Ready above 20 V: counted by kind, its row named.
    const CliRun late = runUfcs({"summary", chargerCapture("late", "late-ready")});
    ASSERT_EQ(late.status, 0) << late.err;
    EXPECT_NE(late.out.find("时序问题 1 处：late 1："), std::string::npos) << late.out;
    EXPECT_NE(late.out.find("tPowReady（≤30 V）"), std::string::npos) << late.out;
}

TEST_F(SummaryCommand, ARecordingTellsItsTotals) {
    recorder::SampleDocument document;
    for (int i = 0; i < 36000; ++i)  // an hour at 5 V: 1 A, then 2 A for the last tenth
        document.appendSample(5000, i < 32400 ? 1000 : 2000, {true, false, true});
    ASSERT_TRUE(recorder::saveOsa(document, file("hour.osa")).ok);
    const CliRun text = runUfcs({"summary", file("hour.osa")});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "电压电流测试摘要：hour.osa\n"
              "时长 1:00:00.0，能量 5.5000 Wh，电量 1100.000 mAh\n"
              "电压：平均 5.000 V，最高 5.000 V，最低 5.000 V\n"
              "电流：平均 1.100 A，最大 2.000 A，最小 1.000 A\n"
              "采样 36000 个，每 0.1 秒一个\n");
}

TEST_F(SummaryCommand, WhatCannotBeSummarizedIsTold) {
    const CliRun missing = runUfcs({"summary", file("none.ufcs_stream")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.ufcs_stream"), std::string::npos) << missing.err;
    const CliRun badOsa = runUfcs({"summary", file("none.osa")});
    EXPECT_EQ(badOsa.status, 1);
    EXPECT_FALSE(badOsa.err.empty());
    EXPECT_EQ(runUfcs({"summary"}).status, 2);
    EXPECT_EQ(runUfcs({"summary", file("a.osa"), "--html"}).status, 2);
}

// export-pcapng: the capture written for Wireshark, or the mistake told.
TEST_F(SummaryCommand, ACaptureIsExportedForWireshark) {
    const std::string capture = chargerCapture("run");
    const CliRun exported = runUfcs({"export-pcapng", capture, "-o", file("run.pcapng")});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.err.find("已导出 "), std::string::npos) << exported.err;
    EXPECT_GT(std::filesystem::file_size(file("run.pcapng")), 1000u);
    EXPECT_EQ(runUfcs({"export-pcapng", capture}).status, 2);
    const CliRun missing = runUfcs({"export-pcapng", file("none.ufcs_stream"), "-o", file("x")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(std::filesystem::exists(file("x")));
    const CliRun blocked =
        runUfcs({"export-pcapng", capture, "-o", file("no-folder") + "/run.pcapng"});
    EXPECT_EQ(blocked.status, 1);
    EXPECT_NE(blocked.err.find("无法写入"), std::string::npos) << blocked.err;

    // A logic recording of the capture: its lines found by name, or given by number.
    if (!logic::readsArchives()) return;  // a build that writes no .sr
    ASSERT_EQ(runUfcs({"export-logic", capture, "-o", file("run.sr")}).status, 0);
    EXPECT_EQ(runUfcs({"export-pcapng", file("run.sr"), "-o", file("sr.pcapng")}).status, 0);
    EXPECT_EQ(
        runUfcs({"export-pcapng", file("run.sr"), "--dp", "0", "--dm", "1", "-o", file("n.pcapng")})
            .status,
        0);
    EXPECT_EQ(std::filesystem::file_size(file("sr.pcapng")),
              std::filesystem::file_size(file("n.pcapng")));
    const CliRun sameLine = runUfcs(
        {"export-pcapng", file("run.sr"), "--dp", "1", "--dm", "1", "-o", file("bad.pcapng")});
    EXPECT_NE(sameLine.status, 0);
    EXPECT_FALSE(std::filesystem::exists(file("bad.pcapng")));
}

}  // namespace
