// `ufcs capture` as a process: the ways a command line ends a capture.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fallback_message.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"

namespace {

using namespace std::chrono_literals;

struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

Child spawnUfcs(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        std::vector<char*> argv{const_cast<char*>(UFCS_EXECUTABLE)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(UFCS_EXECUTABLE, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    return {pid, out[0], err[0]};
}

// Reads up to `lines` lines (all of it for 0), or until end of file or the deadline.
std::string readLines(int fd, int lines = 0, std::chrono::seconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string text;
    char c = 0;
    while (lines == 0 || std::count(text.begin(), text.end(), '\n') < lines) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        if (read(fd, &c, 1) != 1) break;
        text += c;
    }
    return text;
}

int exitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

uint32_t savedRecords(const std::string& path) {
    auto store = ufcs::CaptureStore::create();
    EXPECT_TRUE(ufcs::OpenCapture(*store, path).ok) << path;
    return store->count();
}

class CaptureProcessTest : public ::testing::Test {
  protected:
    testing_support::IsolatedLocks locks;  // inherited by the child
    testing_support::TestFolder folder{"capture_process_test"};
};

TEST_F(CaptureProcessTest, EndingSignalsSaveTheCaptureAndPrintTheSummary) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        const std::string path = folder.file("signal" + std::to_string(signal) + ".ufcs_stream");
        // A limit far beyond any test: only the signal ends it.
        const Child child = spawnUfcs({"capture", "--simulate", "--seconds", "1e20", "-o", path});
        ASSERT_GT(child.pid, 0);
        std::string out = readLines(child.out, 2);
        ASSERT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << "no rows before the signal";
        kill(child.pid, signal);
        out += readLines(child.out);
        const std::string err = readLines(child.err);
        EXPECT_EQ(exitStatus(child.pid), 0) << "signal " << signal << ": " << err;
        const uint32_t saved = savedRecords(path);
        EXPECT_NE(err.find("已保存 " + std::to_string(saved) + " 条记录到 " + path),
                  std::string::npos)
            << err;
        EXPECT_EQ(static_cast<uint32_t>(std::count(out.begin(), out.end(), '\n')), saved);
        close(child.out);
        close(child.err);
    }
}

// Saving to a FIFO that nobody reads: the save neither blocks the ending
// signals nor loses the capture, which goes to the user's data folder.
TEST_F(CaptureProcessTest, AFifoNobodyReadsNeitherHangsNorLosesTheCapture) {
    testing_support::IsolatedDataFolder data;  // inherited by the child
    const std::string fifo = folder.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Child child = spawnUfcs({"capture", "--simulate", "--seconds", "1e20", "-o", fifo});
    ASSERT_GT(child.pid, 0);
    const std::string out = readLines(child.out, 2);
    ASSERT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << "no rows before the signal";
    // The first signal ends the capture, the second the save's wait for a reader.
    kill(child.pid, SIGTERM);
    std::string err = readLines(child.err, 2);
    ASSERT_NE(err.find("正在等待程序读取这个 FIFO"), std::string::npos) << err;
    kill(child.pid, SIGTERM);
    err += readLines(child.err);
    ASSERT_EQ(exitStatus(child.pid), 1) << err;
    EXPECT_NE(err.find("无法保存文件 " + fifo + " !"), std::string::npos) << err;
    const auto fallback = testing_support::savedElsewhere(err);
    ASSERT_TRUE(fallback) << err;
    EXPECT_EQ(fallback->parent_path(), data.fallbackFolder());
    EXPECT_GE(savedRecords(fallback->string()), 2u);
    close(child.out);
    close(child.err);
}

TEST_F(CaptureProcessTest, AClosedOutputStopsTheRowsButNotTheCapture) {
    const std::string path = folder.file("head.ufcs_stream");
    const Child child = spawnUfcs({"capture", "--simulate", "--seconds", "1.5", "-o", path});
    ASSERT_GT(child.pid, 0);
    const std::string firstRows = readLines(child.out, 3);  // as `| head -3` does
    close(child.out);
    const std::string err = readLines(child.err);
    EXPECT_EQ(exitStatus(child.pid), 0) << err;
    EXPECT_NE(err.find("已保存"), std::string::npos) << err;
    EXPECT_EQ(std::count(firstRows.begin(), firstRows.end(), '\n'), 3);
    EXPECT_GT(savedRecords(path), 3u);
    close(child.err);
}

}  // namespace
