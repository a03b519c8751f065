#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/cli.h"
#include "cli/cli_run.h"
#include "device/exclusive_lock.h"
#include "simulator/simulated_device.h"
#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;

using testing_support::CliRun;
CliRun run(const std::vector<std::string>& args) {
    return testing_support::runUfcs(args);
}

class CaptureCommandTest : public ::testing::Test {
  protected:
    std::string file(const char* name) const { return folder.file(name); }
    testing_support::IsolatedLocks locks;
    testing_support::TestFolder folder{"capture_command_test"};
};

TEST_F(CaptureCommandTest, PrintsRowsAsTheyArriveAndSavesTheSameCapture) {
    const CliRun capture =
        run({"capture", "--simulate", "--seconds", "0.8", "-o", file("live.ufcs_stream")});
    ASSERT_EQ(capture.status, 0) << capture.err;
    EXPECT_NE(capture.err.find("模式：监听模式"), std::string::npos);
    ASSERT_TRUE(capture.out.starts_with("0\t\t\t\t说明：本次测试 监听模式 \t"));
    // What was printed live is what the saved file lists.
    const CliRun rows = run({"rows", file("live.ufcs_stream")});
    ASSERT_EQ(rows.status, 0) << rows.err;
    EXPECT_EQ(capture.out, rows.out);
    EXPECT_GT(std::count(rows.out.begin(), rows.out.end(), '\n'), 5);
}

TEST_F(CaptureCommandTest, ChargingDeviceModeAndTrace) {
    const CliRun capture = run({"--trace", "capture", "--simulate", "--mode", "sink", "--type-c",
                                "--seconds", "0.5", "-o", file("sink.ufcs_stream")});
    ASSERT_EQ(capture.status, 0) << capture.err;
    EXPECT_TRUE(capture.out.starts_with("0\t\t\t\t说明：本次测试 充电模式 \t"));
    EXPECT_NE(capture.out.find("Output_Capabilities"), std::string::npos);
    // Every report written and read, report id first; the start frame carries code 8 for Type-C.
    EXPECT_NE(capture.err.find("> 00 01 11 11 04 01 01 64 04 00 00"), std::string::npos);
    EXPECT_NE(capture.err.find("> 00 01 11 11 04 01 01 64 08 02 00"), std::string::npos);
    EXPECT_NE(capture.err.find("< 00 55 12 11 00 00 00 10 00"), std::string::npos);
    const std::string firstLine = capture.err.substr(0, capture.err.find('\n'));
    EXPECT_EQ(firstLine.size(), 2 + 65 * 3 - 1);
}

TEST_F(CaptureCommandTest, HeldOrMissingInstrumentFailsCleanly) {
    {
        device::ExclusiveLock held;
        ASSERT_TRUE(held.acquire(simulator::defaultSimulatorLockPath()));
        const CliRun busy =
            run({"capture", "--simulate", "--seconds", "1", "-o", file("busy.ufcs_stream")});
        EXPECT_EQ(busy.status, 1);
        EXPECT_NE(busy.err.find("设备连接失败!"), std::string::npos);
        EXPECT_NE(busy.err.find("请确认设备已经连上并没有被其它程序占用！"), std::string::npos);
        EXPECT_TRUE(busy.out.empty());
        EXPECT_FALSE(fs::exists(file("busy.ufcs_stream")));
    }
    // No real instrument is attached here.
    const CliRun missing = run({"capture", "--seconds", "1", "-o", file("none.ufcs_stream")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("设备连接失败!"), std::string::npos);
}

TEST_F(CaptureCommandTest, BadOptionsShowUsage) {
    EXPECT_EQ(run({"capture", "--simulate"}).status, 2);
    EXPECT_EQ(run({"capture", "--simulate", "--mode", "both", "-o", file("x")}).status, 2);
    EXPECT_EQ(run({"capture", "--simulate", "--seconds", "soon", "-o", file("x")}).status, 2);
    EXPECT_EQ(run({"capture", "--simulate", "--seconds", "-1", "-o", file("x")}).status, 2);
    EXPECT_EQ(run({"capture", "-o"}).status, 2);
}

}  // namespace
