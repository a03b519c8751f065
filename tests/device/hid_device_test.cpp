#include "device/hid_device.h"
#include "device/exclusive_lock.h"
#include "device/instrument_catalog.h"
#include "support/other_user.h"
#include "support/test_folder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <array>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

class TempFolder : public testing::Test {
  protected:
    std::string lockPath() const { return owned_.file("instrument.lock"); }

    testing_support::TestFolder owned_{"hid_device_test"};
    const fs::path& folder_ = owned_.path();
};

#ifndef _WIN32
// Runs `child` in a forked process and returns its exit status (0 = true).
template <typename Child>
int inChild(Child child) {
    const pid_t pid = fork();
    if (pid == 0) _exit(child() ? 0 : 1);
    int status = -1;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
#endif

using InstrumentDeviceTest = TempFolder;

TEST_F(InstrumentDeviceTest, WithoutTheInstrumentOpenFailsAndCallsFailCleanly) {
    auto device =
        std::make_unique<device::ChoosingDevice>(device::makeInstrumentCatalog(folder_.string()));
    if (device->open()) {
        device->close();
        GTEST_SKIP() << "an instrument is attached to this machine";
    }
    EXPECT_FALSE(device->isOpen());
    EXPECT_FALSE(device->errorText().empty());

    std::array<uint8_t, device::kLinkReportLength> report{};
    EXPECT_EQ(device->write(report.data()), device::kFailed);
    EXPECT_NE(device->errorText().find("write"), std::string::npos) << device->errorText();
    EXPECT_EQ(device->read(report.data()), device::kFailed);
    EXPECT_NE(device->errorText().find("read"), std::string::npos) << device->errorText();

    device->close();
    device->close();
    EXPECT_FALSE(device->isOpen());
    EXPECT_EQ(device->write(report.data()), device::kFailed);
}

using ExclusiveLockTest = TempFolder;

TEST_F(ExclusiveLockTest, SecondHolderInThisProcessIsRefusedUntilRelease) {
    device::ExclusiveLock first;
    device::ExclusiveLock second;
    ASSERT_TRUE(first.acquire(lockPath()));
    EXPECT_TRUE(first.held());
    EXPECT_FALSE(second.acquire(lockPath()));
    EXPECT_FALSE(second.held());

    first.release();
    EXPECT_FALSE(first.held());
    EXPECT_TRUE(second.acquire(lockPath()));
    EXPECT_TRUE(second.held());
}

// Other processes, by fork (POSIX).
#ifndef _WIN32
TEST_F(ExclusiveLockTest, AnotherProcessIsRefusedWhileHeld) {
    device::ExclusiveLock lock;
    ASSERT_TRUE(lock.acquire(lockPath()));
    const std::string path = lockPath();
    EXPECT_EQ(inChild([&] { return device::ExclusiveLock().acquire(path); }), 1);

    lock.release();
    EXPECT_EQ(inChild([&] { return device::ExclusiveLock().acquire(path); }), 0);
}

// The real instrument's lock files are every user's: one user's file never
// keeps another out, and a lock that cannot be opened is said to be that.
TEST_F(ExclusiveLockTest, AnotherUsersLockFileKeepsNobodyOut) {
    using Outcome = device::ExclusiveLock::Outcome;
    // A shared, sticky folder, as /run/lock and /tmp are.
    const fs::path shared = folder_ / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const std::string path = (shared / "ufcs-instrument-x.lock").string();
    const auto theirs = [&path] {
        return testing_support::asOtherUser([&path] {
            device::ExclusiveLock lock;
            return static_cast<int>(lock.take(path));
        });
    };
    device::ExclusiveLock mine;
    ASSERT_EQ(mine.take(path), Outcome::Taken);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0666));
    if (!theirs()) GTEST_SKIP() << testing_support::kNotRoot;
    EXPECT_EQ(theirs(), static_cast<int>(Outcome::Busy));
    mine.release();
    EXPECT_EQ(theirs(), static_cast<int>(Outcome::Taken));
    // A file of the suite's first version: the owner's alone to write.
    fs::permissions(path, fs::perms(0644));
    EXPECT_EQ(theirs(), static_cast<int>(Outcome::Taken));
    // Unreadable to others: unavailable, not "busy".
    fs::permissions(path, fs::perms(0600));
    EXPECT_EQ(theirs(), static_cast<int>(Outcome::Unavailable));
    device::ExclusiveLock unreadable;
    fs::permissions(shared, fs::perms::owner_all);
    EXPECT_EQ(unreadable.take((shared / "missing" / "x.lock").string()), Outcome::Unavailable);
    EXPECT_NE(unreadable.problem().find("x.lock"), std::string::npos) << unreadable.problem();
}

TEST_F(ExclusiveLockTest, ALockHeldByAnExitedProcessIsFreeAgain) {
    std::array<int, 2> held{};
    std::array<int, 2> finish{};
    ASSERT_EQ(pipe(held.data()), 0);
    ASSERT_EQ(pipe(finish.data()), 0);
    const std::string path = lockPath();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Holds the lock until the parent closes `finish`, then exits without releasing it.
        device::ExclusiveLock lock;
        const char ok = lock.acquire(path) ? 'y' : 'n';
        if (::write(held[1], &ok, 1) != 1) _exit(2);
        char none = 0;
        close(finish[1]);
        while (::read(finish[0], &none, 1) > 0) {
        }
        _exit(0);
    }
    close(held[1]);
    close(finish[0]);
    char ok = 0;
    ASSERT_EQ(::read(held[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    EXPECT_FALSE(device::ExclusiveLock().acquire(path));

    close(finish[1]);
    close(held[0]);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(device::ExclusiveLock().acquire(path));
}
#endif

TEST(LockFileNameTest, DevicePathsBecomePlainFileNames) {
    for (const std::string path : {"/dev/hidraw3", "\\\\?\\hid#vid_5478"}) {
        const std::string name = device::lockFileName(path);
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(name.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-"),
                  std::string::npos)
            << name;
    }
    EXPECT_NE(device::lockFileName("/dev/hidraw3").find("hidraw3"), std::string::npos);
    EXPECT_NE(device::lockFileName("/dev/hidraw3"), device::lockFileName("/dev/hidraw4"));
}

}  // namespace
