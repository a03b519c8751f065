#include "common/file_save.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "support/other_user.h"
#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void writeAll(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}
[[maybe_unused]] common::SaveOutcome save(const fs::path& target, const std::string& text) {
    return common::saveFile(target, [&](common::ByteSink& sink) { return sink.write(text); });
}
#ifndef _WIN32
mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0);
    return st.st_mode;
}
#endif
// Files in the folder, so a test sees no temporary file left behind.
std::size_t entries(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

class FileSaveTest : public ::testing::Test {
  protected:
    testing_support::TestFolder folder{"file_save_test"};
    const fs::path dir = folder.path();
};

// Modes, links and device files are POSIX matters.
#ifndef _WIN32
TEST_F(FileSaveTest, ReplacesARegularFileKeepingItsModeAndHardLinks) {
    const fs::path file = dir / "a.bin";
    writeAll(file, "old contents, longer than the new");
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_TRUE(save(file, "new").ok);
    EXPECT_EQ(readAll(file), "new");
    EXPECT_EQ(modeOf(file) & 07777, 0600u);
    EXPECT_EQ(entries(dir), 1u);

    // Both names of a hard-linked file see the new contents.
    fs::create_hard_link(file, dir / "b.bin");
    ASSERT_TRUE(save(dir / "b.bin", "newer, and longer than before").ok);
    EXPECT_EQ(readAll(file), "newer, and longer than before");
    EXPECT_EQ(fs::hard_link_count(file), 2u);
    EXPECT_EQ(modeOf(file) & 07777, 0600u);
    EXPECT_EQ(entries(dir), 2u);
}

TEST_F(FileSaveTest, SymbolicLinksAreFollowedAndStayLinks) {
    fs::create_directory(dir / "real");
    writeAll(dir / "real" / "target.bin", "old");
    fs::create_symlink("real/target.bin", dir / "link.bin");
    fs::create_symlink("link.bin", dir / "chain.bin");
    ASSERT_TRUE(save(dir / "chain.bin", "through two links").ok);
    EXPECT_TRUE(fs::is_symlink(dir / "chain.bin"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(readAll(dir / "real" / "target.bin"), "through two links");
    EXPECT_EQ(entries(dir / "real"), 1u);

    // A link to a file yet to be made makes that file.
    fs::create_symlink("real/later.bin", dir / "dangling.bin");
    ASSERT_TRUE(save(dir / "dangling.bin", "made").ok);
    EXPECT_EQ(readAll(dir / "real" / "later.bin"), "made");
}

TEST_F(FileSaveTest, DevicesAreWrittenThroughAndOtherKindsRefused) {
    const common::SaveOutcome discarded = save("/dev/null", "gone");
    EXPECT_TRUE(discarded.ok) << discarded.reason;
    EXPECT_TRUE(S_ISCHR(modeOf("/dev/null")));

    if (fs::exists("/dev/full")) {
        const common::SaveOutcome full = save("/dev/full", "no room");
        EXPECT_FALSE(full.ok);
        EXPECT_EQ(full.reason, std::generic_category().message(ENOSPC));
        EXPECT_TRUE(S_ISCHR(modeOf("/dev/full")));
    }

    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string read;
    std::thread reader([&] { read = readAll(fifo); });
    EXPECT_TRUE(save(fifo, "through the pipe").ok);
    reader.join();
    EXPECT_EQ(read, "through the pipe");
    EXPECT_TRUE(S_ISFIFO(modeOf(fifo)));

    fs::create_directory(dir / "folder");
    const common::SaveOutcome refused = save(dir / "folder", "x");
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.reason.find("文件夹"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
}
#endif

#ifndef _WIN32
// A FIFO nobody reads, or whose reader stops reading, never holds a save for
// ever: the wait ends by itself, or when the caller says so.
TEST_F(FileSaveTest, AFifoNeverHoldsTheSaveForever) {
    const fs::path fifo = dir / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string big(1 << 20, 'x');  // more than a pipe holds
    struct Case {
        const char* what;
        bool reader;      // one opens the FIFO but never reads
        int cancelAfter;  // waits before the caller ends it; 0: never
        const char* reason;
    };
    for (const Case& c : {Case{"no reader", false, 0, "没有程序读取这个 FIFO（等待了 1 秒）"},
                          Case{"no reader, cancelled", false, 3, "保存被中断"},
                          Case{"a reader that never reads", true, 0, "写入停滞，1 秒没有进展"},
                          Case{"stalled, cancelled", true, 3, "保存被中断"}}) {
        const int held = c.reader ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        common::SaveControl control;
        control.readerWait = std::chrono::milliseconds(300);
        control.stallLimit = std::chrono::milliseconds(300);
        int asked = 0;
        if (c.cancelAfter) control.cancelled = [&] { return ++asked >= c.cancelAfter; };
        const common::SaveOutcome saved = common::saveFile(
            fifo, [&](common::ByteSink& sink) { return sink.write(big); }, "中止", control);
        if (held >= 0) close(held);
        EXPECT_FALSE(saved.ok) << c.what;
        EXPECT_EQ(saved.reason, c.reason) << c.what;
        EXPECT_TRUE(S_ISFIFO(modeOf(fifo)));
    }
}
#endif

#ifndef _WIN32
// Another user of the computer may plant a link, or a file of theirs, in a
// shared folder where we save: neither is written through, before or at the
// save, and the message names what was refused and whose it is.
TEST_F(FileSaveTest, WhatAnotherUserPlantsInASharedFolderIsNeverWrittenThrough) {
    const fs::path shared = dir / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const fs::path secret = dir / "secret";
    writeAll(secret, "only mine");
    fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path link = shared / "cap.ufcs_stream";
    const fs::path theirs = shared / "theirs.ufcs_stream";
    const std::optional<int> planted = testing_support::asOtherUser([&] {
        if (symlink(secret.c_str(), link.c_str()) != 0) return 1;
        const int fd = open(theirs.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        return fd >= 0 && close(fd) == 0 ? 0 : 2;
    });
    if (!planted) GTEST_SKIP() << testing_support::kNotRoot;
    ASSERT_EQ(*planted, 0);
    const struct {
        fs::path target;
        std::string says;
    } cases[] = {
        {link, common::displayPath(link) + " 是另一个用户 (uid 65534) 的链接，不跟随它保存"},
        {theirs,
         common::displayPath(theirs) + " 属于另一个用户 (uid 65534)，共享文件夹里不写入别人的文件"},
    };
    for (const auto& c : cases) {
        const common::SaveOutcome checked = common::checkSaveTarget(c.target);
        EXPECT_FALSE(checked.ok);
        EXPECT_EQ(checked.reason, c.says);
        const common::SaveOutcome saved = save(c.target, "captured");
        EXPECT_FALSE(saved.ok);
        EXPECT_EQ(saved.reason, c.says);
    }
    EXPECT_EQ(readAll(secret), "only mine");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readAll(theirs), "");
    // A link of the folder's owner is followed (as the user's own always are).
    const fs::path owners = dir / "owners.ufcs_stream";
    fs::create_symlink(dir / "target.ufcs_stream", owners);
    EXPECT_TRUE(save(owners, "through").ok);
    EXPECT_EQ(readAll(dir / "target.ufcs_stream"), "through");
}
#endif

// What could not be saved goes to a file of its own in the user's data folder.
TEST_F(FileSaveTest, AFailedSaveFallsBackToTheUsersDataFolder) {
    testing_support::IsolatedDataFolder data;
    std::vector<fs::path> saved;
    for (int i = 0; i < 2; ++i) {
        const common::FallbackSave fallback = common::saveToFallback(
            "无法保存文件 x ! (No space)", "capture", ".ufcs_stream", [](const fs::path& path) {
                const auto outcome = save(path, "the data");
                return common::FileResult{outcome.ok, outcome.reason};
            });
        ASSERT_TRUE(fallback.path);
        EXPECT_EQ(fallback.path->parent_path(), data.fallbackFolder());
        EXPECT_EQ(readAll(*fallback.path), "the data");
        EXPECT_EQ(fallback.message, "无法保存文件 x ! (No space)\n数据已另存到 " +
                                        common::displayPath(*fallback.path));
        saved.push_back(*fallback.path);
    }
    EXPECT_NE(saved[0], saved[1]);  // the same second: a name each
#ifndef _WIN32
    EXPECT_EQ(modeOf(data.fallbackFolder()) & 0777, 0700u);  // the user's own
#endif
    const common::FallbackSave failed =
        common::saveToFallback("无法保存", "test", ".osa", [](const fs::path&) {
            return common::FileResult{false, "也满了"};
        });
    EXPECT_FALSE(failed.path);
    EXPECT_EQ(failed.message,
              "无法保存\n另存到 " + common::displayPath(data.fallbackFolder()) + " 也失败：也满了");
}

TEST_F(FileSaveTest, AnAbandonedSaveLeavesTheEarlierFileAndNoLeftovers) {
    const fs::path file = dir / "keep.bin";
    writeAll(file, "earlier");
    const common::SaveOutcome outcome = common::saveFile(
        file,
        [](common::ByteSink& sink) {
            sink.write(std::string(200'000, 'x'));  // more than one buffer reaches the disk
            return false;
        },
        "stopped");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.reason, "stopped");
    EXPECT_EQ(readAll(file), "earlier");
    EXPECT_EQ(entries(dir), 1u);
}

TEST_F(FileSaveTest, CheckFindsUnwritableTargetsWithoutWriting) {
    writeAll(dir / "exists.bin", "x");
    fs::create_directory(dir / "folder");
    const struct {
        fs::path target;
        bool ok;
        const char* reasonPart;
    } cases[] = {
        {dir / "new.bin", true, ""},       {dir / "exists.bin", true, ""},
        {"/dev/null", true, ""},           {dir / "missing" / "new.bin", false, "不存在"},
        {dir / "folder", false, "文件夹"},
    };
    for (const auto& c : cases) {
        const common::SaveOutcome outcome = common::checkSaveTarget(c.target);
        EXPECT_EQ(outcome.ok, c.ok) << c.target;
        EXPECT_NE(outcome.reason.find(c.reasonPart), std::string::npos) << outcome.reason;
    }
    EXPECT_FALSE(fs::exists(dir / "new.bin"));
    EXPECT_EQ(readAll(dir / "exists.bin"), "x");
}

}  // namespace
