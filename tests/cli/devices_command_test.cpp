// Several simulated instruments on one computer: the listing, the first free
// one taken with the busy ones named, and --device.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "device/exclusive_lock.h"
#include "simulator/simulated_device.h"
#include "support/test_folder.h"

namespace {

using testing_support::CliRun;

class DevicesCommand : public ::testing::Test {
  protected:
    // Another program holding the simulated instrument with `serial`.
    void hold(const std::string& serial) {
        auto lock = std::make_unique<device::ExclusiveLock>();
        ASSERT_TRUE(
            lock->acquire(simulator::simulatorLockPath(simulator::simulatorLockFolder(), serial)));
        held_.push_back(std::move(lock));
    }
    std::string file(const char* name) const { return folder_.file(name); }

    testing_support::IsolatedLocks locks_;
    testing_support::TestFolder folder_{"devices_command_test"};
    std::vector<std::unique_ptr<device::ExclusiveLock>> held_;
};

TEST_F(DevicesCommand, ListsEachSimulatedInstrumentWithItsFirmwareOrBusy) {
    const CliRun json = testing_support::runUfcs({"devices", "--simulate=2", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "[\n"
              "  {\"serial\": \"SIM0001\", \"path\": \"simulated:1\", \"firmware\": \"1.5\", "
              "\"state\": \"free\"},\n"
              "  {\"serial\": \"SIM0002\", \"path\": \"simulated:2\", \"firmware\": \"1.5\", "
              "\"state\": \"free\"}\n"
              "]\n");

    hold("SIM0001");
    const CliRun tabbed = testing_support::runUfcs({"devices", "--simulate=2"});
    ASSERT_EQ(tabbed.status, 0) << tabbed.err;
    EXPECT_EQ(tabbed.out, "SIM0001\tsimulated:1\t-\tbusy\nSIM0002\tsimulated:2\t1.5\tfree\n");
    // Listing opened and closed SIM0002 again: it is free for the next program.
    const CliRun again = testing_support::runUfcs({"devices", "--simulate=2"});
    EXPECT_EQ(again.out, tabbed.out);
}

TEST_F(DevicesCommand, ARecordingTakesTheFirstFreeInstrumentOrTheNamedOne) {
    struct Case {
        const char* name;
        std::vector<std::string> held;
        std::vector<std::string> choice;
        int status;
        std::string says;  // on the error stream; empty: nothing about instruments
    };
    const std::vector<Case> cases = {
        {"all free", {}, {"--simulate=2"}, 0, ""},
        {"first busy",
         {"SIM0001"},
         {"--simulate=2"},
         0,
         "仪器正被其它程序使用：SIM0001，改用 SIM0002"},
        {"all busy",
         {"SIM0001", "SIM0002"},
         {"--simulate=2"},
         1,
         "（仪器正被其它程序使用：SIM0001、SIM0002）"},
        {"named by serial", {}, {"--simulate=2", "--device", "SIM0002"}, 0, ""},
        {"named by path", {"SIM0001"}, {"--simulate=3", "--device", "simulated:3"}, 0, ""},
        {"named and busy",
         {"SIM0002"},
         {"--simulate=2", "--device", "SIM0002"},
         1,
         "（仪器正被其它程序使用：SIM0002）"},
        {"named and absent",
         {},
         {"--simulate=2", "--device", "SIM0009"},
         1,
         "（没有找到仪器 SIM0009）"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        held_.clear();
        for (const std::string& serial : c.held)
            hold(serial);
        std::vector<std::string> args = {"record", "--seconds", "0.3", "-o", file("t.osa")};
        args.insert(args.end(), c.choice.begin(), c.choice.end());
        const CliRun run = testing_support::runUfcs(args);
        EXPECT_EQ(run.status, c.status) << run.err;
        if (c.says.empty())
            EXPECT_EQ(run.err.find("仪器"), std::string::npos) << run.err;
        else
            EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
}

}  // namespace
