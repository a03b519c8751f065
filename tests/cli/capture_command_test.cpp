#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "cli/cli.h"
#include "cli/cli_run.h"
#include "device/exclusive_lock.h"
#include "simulator/simulated_device.h"
#include "support/fallback_message.h"
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
        EXPECT_NE(busy.err.find("（仪器正被其它程序使用：SIM0001）"), std::string::npos)
            << busy.err;
        EXPECT_TRUE(busy.out.empty());
        EXPECT_FALSE(fs::exists(file("busy.ufcs_stream")));
    }
    {
        // A lock file that cannot be opened is not "in use".
        fs::remove(simulator::defaultSimulatorLockPath());
        fs::create_directory(simulator::defaultSimulatorLockPath());
        const CliRun unusable =
            run({"capture", "--simulate", "--seconds", "1", "-o", file("lock.ufcs_stream")});
        fs::remove(simulator::defaultSimulatorLockPath());
        EXPECT_EQ(unusable.status, 1);
        EXPECT_NE(unusable.err.find("无法使用仪器的锁文件"), std::string::npos) << unusable.err;
        EXPECT_EQ(unusable.err.find("仪器正被其它程序使用"), std::string::npos) << unusable.err;
    }
    // No real instrument is attached here.
    const CliRun missing = run({"capture", "--seconds", "1", "-o", file("none.ufcs_stream")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "ufcs capture: 没有找到仪器（没有连接仪器时，可用 --simulate 使用模拟仪器）\n");
}

TEST_F(CaptureCommandTest, BadArgumentsSayWhatIsWrong) {
    fs::create_directory(folder.path() / "folder");
    const std::string missingFolder = file("missing/x.ufcs_stream");
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"capture", "--simulate"}, "ufcs capture: missing -o FILE\n"},
        {{"capture", "--mode", "both", "-o", file("x")},
         "ufcs capture: --mode 'both' is not one of listen, sink\n"},
        {{"capture", "--bogus"},
         "ufcs capture: unknown option '--bogus'; accepted: --simulate, --type-c, --refuse-ack, "
         "--refuse-ping, --mode VALUE, --seconds VALUE, -o VALUE, --fault VALUE, --device VALUE\n"},
        {{"capture", "--simulate=0", "-o", file("x")},
         "ufcs capture: '--simulate=0': --simulate=N takes a count from 1 to 16\n"},
        {{"record", "--simulate=two", "-o", file("x")}, "'--simulate=two': --simulate=N takes"},
        {{"rows", "--simulate=2", "a"}, "ufcs rows: unknown option '--simulate=2'"},
        {{"devices", "--device", "SIM0001"}, "ufcs devices: unknown option '--device'"},
        {{"capture", "-o"}, "ufcs capture: -o needs a value\n"},
        {{"capture", "--seconds", "inf", "-o", file("x")},
         "ufcs capture: --seconds 'inf' is not a finite positive number of seconds\n"},
        {{"capture", "--seconds", "-1", "-o", file("x")}, "--seconds '-1' is not a finite"},
        {{"capture", "--seconds", "soon", "-o", file("x")}, "--seconds 'soon' is not a finite"},
        {{"capture", "--simulate", "-o", missingFolder},
         "ufcs capture: cannot save to '" + missingFolder + "': 文件夹 " + file("missing") +
             " 不存在\n"},
        {{"capture", "--simulate", "-o", file("folder")}, "这是一个文件夹"},
        {{"rows"}, "ufcs rows: missing FILE\n"},
        {{"rows", "a", "b"}, "ufcs rows: unexpected argument 'b'\n"},
        {{"decode", "a"}, "ufcs decode: missing INDEX\n"},
        {{"decode", "a", "x1"}, "ufcs decode: INDEX 'x1' is not a record number\n"},
        {{"send", "Nope"}, "ufcs send: no entry 'Nope' in the send list; 'ufcs send --list'"},
        {{"send", "Ping", "--voltage", "5000"}, "ufcs send: Ping takes no fields; not --voltage\n"},
        {{"send", "Ping", "--simulate=2", "--device", "SIM0002", "--voltage", "5000"},
         "ufcs send: Ping takes no fields; not --voltage\n"},
        {{"send", "Request", "--ms", "5"},
         "ufcs send: Request takes only --mode-number, --voltage, --current; not --ms\n"},
    };
    for (const auto& c : cases) {
        const CliRun result = run(c.args);
        EXPECT_EQ(result.status, 2) << c.says;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("--help' shows the usage"), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty());
    }
    EXPECT_FALSE(fs::exists(missingFolder));
    EXPECT_FALSE(fs::exists(file("x")));
}

// `ufcs --help` lists every command on one line of its own; each command's
// own --help starts with its usage.
TEST_F(CaptureCommandTest, HelpAndTheSendListGoToStandardOutput) {
    const CliRun overview = run({"--help"});
    EXPECT_EQ(overview.status, 0);
    for (const std::string command :
         {"rows", "check", "decode", "devices", "capture", "send", "modes", "record", "recover",
          "osa", "csv", "check-update", "firmware"}) {
        const std::string line = "\n  " + command + " ";
        const auto at = overview.out.find(line);
        EXPECT_NE(at, std::string::npos) << command;
        EXPECT_EQ(overview.out.find(line, at + 1), std::string::npos) << command << " twice";
        const CliRun help = run({command, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.starts_with("usage: ufcs " + command)) << help.out;
        EXPECT_TRUE(help.err.empty());
    }
    const CliRun list = run({"send", "--list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("0\tPing\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("10\tRequest --mode-number --voltage --current\n"), std::string::npos);
    EXPECT_NE(list.out.find("16\t设置波特率 --baud\n"), std::string::npos);
}

// An instrument that fails ends the capture with the programs' own text and
// status 1, and what was captured is saved all the same.
TEST_F(CaptureCommandTest, AFailingInstrumentIsNeverASuccess) {
    const struct {
        const char* fault;
        const char* says;
        std::size_t fewestRecords;
    } cases[] = {
        {"unplug@0.3", "设备已经断开!", 2},
        {"refuse-start", "设备拒绝!", 1},  // the capture's header only
        {"silence@0.5", "设备传输中断!", 2},
    };
    for (const auto& c : cases) {
        const std::string path = file("failed.ufcs_stream");
        fs::remove(path);
        const CliRun failed =
            run({"capture", "--simulate", "--fault", c.fault, "--seconds", "8", "-o", path});
        EXPECT_EQ(failed.status, 1) << c.fault;
        EXPECT_NE(failed.err.find(std::string(c.says) + "\n"), std::string::npos) << failed.err;
        const CliRun rows = run({"rows", path});
        ASSERT_EQ(rows.status, 0) << c.fault << rows.err;
        const auto listed =
            static_cast<std::size_t>(std::count(rows.out.begin(), rows.out.end(), '\n'));
        EXPECT_GE(listed, c.fewestRecords) << c.fault;
        EXPECT_NE(failed.err.find("已保存 " + std::to_string(listed) + " 条记录"),
                  std::string::npos)
            << failed.err;
    }
}

// Each command takes the faults it can apply, and its --help names them.
TEST_F(CaptureCommandTest, FaultsACommandCannotApplyAreRefused) {
    const struct {
        std::vector<std::string> command;
        std::vector<std::string> takes;
        std::string refused;
    } cases[] = {
        {{"capture", "--simulate", "-o", file("x")},
         {"unplug@S", "silence@S", "refuse-start", "uncalibrated", "drop-ack", "repeat-number",
          "slow-power-ready"},
         "misses"},
        {{"record", "--simulate", "-o", file("x.osa")},
         {"unplug@S", "silence@S", "misses", "wrong-code", "refuse-start", "uncalibrated"},
         "drop-ack"},
        {{"firmware", "--simulate", "--server", "http://127.0.0.1:9"},
         {"refuse-page@K", "unplug-page@K", "silent-burn"},
         "unplug@1"},
    };
    for (const auto& c : cases) {
        const std::string& name = c.command[0];
        std::vector<std::string> args = c.command;
        args.insert(args.end(), {"--fault", c.refused});
        const CliRun refused = run(args);
        EXPECT_EQ(refused.status, 2) << name;
        if (refused.err.find("this build has no upgrade support") != std::string::npos) continue;
        EXPECT_NE(refused.err.find("--fault '" + c.refused +
                                   "' is not one this command can apply: " + cli::listed(c.takes)),
                  std::string::npos)
            << refused.err;
    }
    for (const auto& c : cases) {
        const CliRun help = run({c.command[0], "--help"});
        for (const std::string& kind : c.takes)
            EXPECT_NE(help.out.find(kind), std::string::npos) << c.command[0] << " lacks " << kind;
    }
    EXPECT_FALSE(fs::exists(file("x")));
}

#ifndef _WIN32  // device files
// A target that passed the check but refuses the write: the capture goes to
// the user's data folder, and the message says where.
TEST_F(CaptureCommandTest, AFailedSaveKeepsTheCaptureInTheDataFolder) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    testing_support::IsolatedDataFolder data;
    fs::create_symlink("/dev/full", file("full.ufcs_stream"));
    const CliRun full =
        run({"capture", "--simulate", "--seconds", "0.3", "-o", file("full.ufcs_stream")});
    EXPECT_EQ(full.status, 1);
    const auto fallback = testing_support::savedElsewhere(full.err);
    ASSERT_TRUE(fallback) << full.err;
    EXPECT_EQ(fallback->parent_path(), data.fallbackFolder());
    const CliRun rows = run({"rows", fallback->string()});
    ASSERT_EQ(rows.status, 0) << rows.err;
    EXPECT_GT(std::count(rows.out.begin(), rows.out.end(), '\n'), 1);
}

TEST_F(CaptureCommandTest, SavingToADeviceWritesThroughAndReportsItsError) {
    const CliRun discarded = run({"capture", "--simulate", "--seconds", "0.3", "-o", "/dev/null"});
    EXPECT_EQ(discarded.status, 0) << discarded.err;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    if (!fs::exists("/dev/full")) return;
    const CliRun full = run({"capture", "--simulate", "--seconds", "0.3", "-o", "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(
        full.err.find("无法保存文件 /dev/full ! (" + std::generic_category().message(ENOSPC) + ")"),
        std::string::npos)
        << full.err;
    EXPECT_EQ(full.err.find("已保存"), std::string::npos);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}
#endif

}  // namespace
