#include <gtest/gtest.h>

#include "cli/cli_run.h"
#include "common/user_folders.h"
#include "device/exclusive_lock.h"
#include "device/hid_device.h"
#include "device/instrument_catalog.h"
#include "support/test_folder.h"

namespace {

using testing_support::CliRun;
CliRun run(const std::vector<std::string>& args) {
    return testing_support::runUfcs(args);
}

// Each test holds a simulated instrument of its own.
class SendCommand : public ::testing::Test {
    testing_support::IsolatedLocks locks_;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        result.push_back(text.substr(start, end - start));
    }
    return result;
}

TEST_F(SendCommand, RequestIsTracedAndTheChargerGrantsIt) {
    const CliRun sent = run({"send", "--simulate", "--trace", "Request", "--mode-number", "2",
                             "--voltage", "9000", "--current", "2000"});
    ASSERT_EQ(sent.status, 0) << sent.err;
    // The frame as written: report id, 0xFE 0x21, Request code 0x48, 8 bytes, current and voltage
    // in 10 mA/10 mV.
    EXPECT_NE(sent.err.find("> 00 FE 21 48 08 C8 00 84 03 02 00 00"), std::string::npos)
        << sent.err;
    const std::vector<std::string> out = lines(sent.out);
    ASSERT_GE(out.size(), 6u);
    EXPECT_EQ(out[1], " Request");
    EXPECT_EQ(out[2], "请求电压：9000mV");
    EXPECT_EQ(out[3], "请求电流：2000mA");
    EXPECT_EQ(out[4], "模式编号：2");
    // The exchange as captured: the request, then the charger's Accept and Power_Ready.
    EXPECT_NE(sent.out.find("\tRequest\t请求 电压：9.000V 电流：2.000A\t"), std::string::npos);
    EXPECT_NE(sent.out.find("\tAccept\t"), std::string::npos);
    EXPECT_NE(sent.out.find("\tPower_Ready\t"), std::string::npos);
}

TEST_F(SendCommand, ImpossibleRequestIsRefusedByTheChargerWhenAskedFor) {
    const CliRun sent = run(
        {"send", "--simulate", "10", "--mode-number", "1", "--voltage", "20000", "--out-of-range"});
    ASSERT_EQ(sent.status, 0) << sent.err;
    EXPECT_NE(sent.out.find("\tRefuse\t拒绝\t"), std::string::npos) << sent.out;
    EXPECT_EQ(sent.out.find("\tPower_Ready\t"), std::string::npos);
}

TEST_F(SendCommand, SegmentedVendorMessageArrivesWhole) {
    std::string data;
    for (int i = 0; i < 56; ++i)
        data += "5A ";
    const CliRun sent = run({"send", "--simulate", "--trace", "厂商消息", "--receiver", "1",
                             "--vendor-id", "12 34", "--data", data});
    ASSERT_EQ(sent.status, 0) << sent.err;
    EXPECT_NE(sent.err.find("> 00 02 21 54 38 01 01 00 12 34 5A"), std::string::npos) << sent.err;
    EXPECT_NE(sent.err.find("> 00 02 21 54 38 02 5A"), std::string::npos);
    EXPECT_NE(sent.out.find("\t厂商自定\tID:0x1234\t"), std::string::npos) << sent.out;
}

TEST_F(SendCommand, RefusedFieldSendsNothing) {
    const CliRun bad = run({"send", "--simulate", "--trace", "Verify_Request", "--key-index", "5",
                            "--random", "01 02"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("ufcs send: --random: 请输入16个十六进制数，注意数据用空格分开!\n"),
              std::string::npos)
        << bad.err;
    EXPECT_TRUE(bad.out.empty());

    EXPECT_EQ(run({"send", "--simulate", "Nonsense"}).status, 2);
    EXPECT_EQ(run({"send", "--simulate", "Ping", "--volts", "3"}).status, 2);
}

// A Request is checked against the page, the message's units and then the charger's own
// output modes (the simulated charger's mode 1 is 3.4-5.5 V, 0.1-3 A; it has three modes):
// nothing is sent, and the message names the option.
TEST_F(SendCommand, RequestOutsideWhatCanBeSentOrGrantedIsRefusedBeforeSending) {
    const struct {
        std::vector<std::string> fields;
        std::string message;
    } cases[] = {
        {{"--mode-number", "8"}, "ufcs send: --mode-number: 请填入一个在1和7之间的整数\n"},
        {{"--voltage", "400000"}, "ufcs send: --voltage: 请填入一个在10和300000之间的整数\n"},
        {{"--voltage", "99999"}, "ufcs send: --voltage: 请求以 10 mV 为单位，请填入 10 的整数倍\n"},
        {{"--current", "1005"}, "ufcs send: --current: 请求以 10 mA 为单位，请填入 10 的整数倍\n"},
        {{"--voltage", "99990"},
         "ufcs send: --voltage: 模式 1 的电压范围是 3400-5500 mV（--out-of-range 照样发送）\n"},
        {{"--current", "3010"},
         "ufcs send: --current: 模式 1 的电流范围是 100-3000 mA（--out-of-range 照样发送）\n"},
        {{"--mode-number", "4"},
         "ufcs send: --mode-number: 充电器的输出模式是 1-3（--out-of-range 照样发送）\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"send", "--simulate", "--trace", "Request"};
        args.insert(args.end(), c.fields.begin(), c.fields.end());
        const CliRun refused = run(args);
        EXPECT_EQ(refused.status, 2) << c.fields[0];
        EXPECT_NE(refused.err.find(c.message), std::string::npos) << refused.err;
        EXPECT_EQ(refused.err.find("> 00 FE 21 48"), std::string::npos) << c.fields[0];
        EXPECT_TRUE(refused.out.empty()) << refused.out;
    }
}

TEST_F(SendCommand, ModesListsTheChargersTable) {
    const CliRun modes = run({"modes", "--simulate"});
    ASSERT_EQ(modes.status, 0) << modes.err;
    const std::vector<std::string> out = lines(modes.out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1], "1\t  3.40-5.50         0.10-3.00         10            10       ");
    EXPECT_EQ(out[3], "3\t  5.00-21.00       0.10-3.25         10            10       ");
}

TEST_F(SendCommand, NoInstrumentIsOneLineThatSuggestsTheSimulator) {
    if (!device::makeInstrumentCatalog(common::sharedLockFolder().string())->attached().empty())
        GTEST_SKIP() << "this test needs a machine without the instrument attached";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"send", "Ping"}, {"modes"}}) {
        const CliRun run = testing_support::runUfcs(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "ufcs " + args[0] +
                               ": 没有找到仪器（没有连接仪器时，可用 --simulate 使用模拟仪器）\n");
        EXPECT_TRUE(run.out.empty());
    }
}

}  // namespace
