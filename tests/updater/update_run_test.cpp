#include "updater/update_run.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <fstream>
#include <functional>
#include <thread>

#include "support/test_folder.h"

namespace {

namespace fs = std::filesystem;
using updater::Launch;

// Time passes only through the updater's own pauses.
class SteppingClock final : public common::Clock {
  public:
    TimePoint now() const override { return at_; }
    common::LocalTime localTime() const override { return {}; }
    void sleepFor(std::chrono::milliseconds duration) override { at_ += duration; }

  private:
    TimePoint at_{};
};

// Waits (in real time, up to 5 s) until `done`.
[[maybe_unused]] bool QuickWait(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void writeProgram(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}
std::string contents(const fs::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Folder {
    Folder() {
        writeProgram(program, "exit 0  # old");
        std::ofstream(download) << "#!/bin/sh\nexit 0  # new\n";
    }
    // The n-th request to close (from 0) is answered `answer`, after asking the
    // user for `userThinks` when that is not zero.
    struct Reply {
        updater::CloseAnswer answer = updater::CloseAnswer::NoInstance;
        std::chrono::seconds userThinks{0};
        std::string other = {};
    };
    updater::UpdateOutcome run(Launch launched, int instances = 0) {
        return run(launched, [instances](int n) {
            return Reply{n < instances ? updater::CloseAnswer::Closing
                                       : updater::CloseAnswer::NoInstance};
        });
    }
    updater::UpdateOutcome run(Launch launched, std::function<Reply(int)> replies) {
        updater::UpdateHooks hooks;
        hooks.askToClose = [this, replies](const std::function<void()>& userAsked) {
            const Reply reply = replies(asked++);
            if (reply.userThinks.count() > 0) {
                userAsked();
                clock.sleepFor(reply.userThinks);
            }
            return updater::CloseResult{reply.answer, reply.other};
        };
        hooks.stillRunning = [this](const fs::path& p) {
            EXPECT_EQ(p, program);
            return runningChecks-- > 0;
        };
        hooks.launch = [this, launched](const fs::path& p, const fs::path& dir, auto) {
            launches.push_back(contents(p));
            EXPECT_EQ(dir, folder.path());
            return launches.size() == 1 ? launched : Launch::Running;
        };
        return updater::runUpdate(*updater::rowFor("k512 protocol"), folder.path(), clock, hooks,
                                  [this](const std::string& text) { shown.push_back(text); });
    }
    testing_support::TestFolder folder{"ufcs-updater"};
#ifdef _WIN32
    fs::path program = folder.path() / u8"TarselUFCS解析程序.exe";
#else
    fs::path program = folder.path() / "TarselUFCS解析程序";
#endif
    fs::path download = folder.path() / "k512.exe";
    fs::path aside() const {
        fs::path old = program;
        return old += ".old";
    }
    SteppingClock clock;
    int asked = 0;
    int runningChecks = 0;  // how many times the program is still seen running
    std::vector<std::string> launches;
    std::vector<std::string> shown;  // the window's texts in turn
};

TEST(Updater, TakesOnlyItsTwoArgumentsExactly) {
    EXPECT_EQ(updater::rowFor("k512 protocol")->downloaded, "k512.exe");
    EXPECT_EQ(updater::rowFor("k512 Cur_Test")->downloaded, "k512_cur.exe");
    for (const char* other : {"", "k512 protocol ", "K512 protocol", "k512  Cur_Test"})
        EXPECT_EQ(updater::rowFor(other), nullptr) << other;
}

TEST(Updater, SwapsTheProgramWithItsPermissionsAndKeepsNothingElse) {
    Folder f;
    const auto outcome = f.run(Launch::Running, 2);
    EXPECT_TRUE(outcome.upgraded);
    EXPECT_EQ(outcome.text, "升级成功！即将重启");
    EXPECT_NE(contents(f.program).find("# new"), std::string::npos);
#ifndef _WIN32  // the execute bit
    EXPECT_EQ(fs::status(f.program).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
#endif
    EXPECT_EQ(f.asked, 4);  // two instances closed, then two quiet asks
    EXPECT_EQ(std::distance(fs::directory_iterator(f.folder.path()), {}), 1);
}

TEST(Updater, FailuresLeaveAWorkingProgram) {
    struct Case {
        const char* what;
        bool download;
        Launch launched;
        const char* text;
        int launches;
    };
    for (const Case& c : {
             Case{"no download", false, Launch::Running, "找不到升级文件", 1},
             Case{"new one crashes", true, Launch::Failed, "已恢复原来的版本", 2},
         }) {
        Folder f;
        if (!c.download) fs::remove(f.download);
        const auto outcome = f.run(c.launched);
        EXPECT_FALSE(outcome.upgraded) << c.what;
        EXPECT_NE(outcome.text.find(c.text), std::string::npos) << c.what << outcome.text;
        EXPECT_NE(contents(f.program).find("# old"), std::string::npos) << c.what;
        EXPECT_EQ(int(f.launches.size()), c.launches) << c.what;
        EXPECT_NE(f.launches.back().find("# old"), std::string::npos) << c.what;
        EXPECT_FALSE(fs::exists(f.download)) << c.what;
    }
}

TEST(Updater, WaitsForAProgramThatAsksItsUserAndGivesUpWhenTheyKeepIt) {
    using updater::CloseAnswer;
    const std::string waiting = "正在等待 TarselUFCS解析程序 关闭……";
    const std::string asking = updater::askingText(*updater::rowFor("k512 protocol"));
    struct Case {
        const char* what;
        CloseAnswer afterQuestion;
        bool upgraded;
        std::vector<std::string> shown;
    };
    for (const Case& c : {
             // The user takes longer than the close time-out to answer: still no give-up.
             Case{"closes after the question",
                  CloseAnswer::Closing,
                  true,
                  {waiting, asking, waiting, "升级成功！即将重启"}},
             Case{"user keeps it",
                  CloseAnswer::Kept,
                  false,
                  {waiting, asking,
                   "升级已取消！\r\nTarselUFCS解析程序 的用户选择了不关闭，"
                   "没有改动任何文件。"}},
         }) {
        Folder f;
        const auto outcome = f.run(Launch::Running, [&c](int n) {
            return n == 0 ? Folder::Reply{c.afterQuestion, std::chrono::seconds(45)}
                          : Folder::Reply{};
        });
        EXPECT_EQ(outcome.upgraded, c.upgraded) << c.what;
        EXPECT_EQ(f.shown, c.shown) << c.what;
        // Nothing is touched before the program has gone.
        EXPECT_EQ(fs::exists(f.download), !c.upgraded) << c.what;
        EXPECT_NE(contents(f.program).find(c.upgraded ? "# new" : "# old"), std::string::npos)
            << c.what;
    }
}

// What the updater cannot close, or may not, is never swapped under it: an
// instance of another executable (or of another user), or a program still
// running that no channel answers for.
TEST(Updater, OnlyTheProgramItClosedIsSwapped) {
    {
        Folder f;
        const auto outcome = f.run(Launch::Running, [](int) {
            return Folder::Reply{updater::CloseAnswer::Other, {}, "/opt/other/TarselUFCS解析程序"};
        });
        EXPECT_FALSE(outcome.upgraded);
        EXPECT_NE(outcome.text.find("正在运行的是另一个 TarselUFCS解析程序（/opt/other/"),
                  std::string::npos)
            << outcome.text;
        EXPECT_TRUE(fs::exists(f.download));
        EXPECT_NE(contents(f.program).find("# old"), std::string::npos);
    }
    for (const int checks : {3, 1 << 20}) {  // goes away after a while; never goes
        Folder f;
        f.runningChecks = checks;
        const auto outcome = f.run(Launch::Running);
        EXPECT_EQ(outcome.upgraded, checks == 3) << outcome.text;
        EXPECT_NE(contents(f.program).find(checks == 3 ? "# new" : "# old"), std::string::npos);
    }
}

#ifndef _WIN32
TEST(Updater, SeesTheUsersRunningPrograms) {
    testing_support::TestFolder folder{"ufcs-running"};
    const fs::path program = folder.path() / "sleeper";
    fs::copy_file("/bin/sleep", program);
    EXPECT_FALSE(updater::programRunning(program));
    const pid_t child = fork();
    if (child == 0) {
        execl(program.c_str(), "sleeper", "30", nullptr);
        _exit(127);
    }
    EXPECT_TRUE(QuickWait([&] { return updater::programRunning(program); }));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(updater::programRunning(program));
}

// Stopped anywhere during a swap, the folder holds a program under its name,
// and the next run completes the swap or undoes it from what it finds.
TEST(Updater, AnInterruptedSwapIsCompletedOrUndone) {
    struct Case {
        const char* what;
        std::function<void(Folder&)> interrupted;  // the folder as a stopped run left it
        Launch launched;
        const char* runs;  // what the run launched first
        const char* ends;  // what the program is at the end
    };
    const Case cases[] = {
        {"stopped after the link aside",
         [](Folder& f) { fs::create_hard_link(f.program, f.aside()); }, Launch::Running, "# new",
         "# new"},
        {"stopped between the first version's renames",
         [](Folder& f) { fs::rename(f.program, f.aside()); }, Launch::Running, "# new", "# new"},
        {"stopped while the new one was watched, and the next one fails",
         [](Folder& f) {
             fs::rename(f.program, f.aside());
             writeProgram(f.program, "exit 1  # unproven");
         },
         Launch::Failed, "# new", "# old"},
    };
    for (const Case& c : cases) {
        Folder f;
        c.interrupted(f);
        const auto outcome = f.run(c.launched);
        ASSERT_FALSE(f.launches.empty()) << c.what;
        EXPECT_NE(f.launches[0].find(c.runs), std::string::npos) << c.what;
        EXPECT_NE(contents(f.program).find(c.ends), std::string::npos) << c.what;
        EXPECT_EQ(outcome.upgraded, c.launched == Launch::Running) << c.what;
        EXPECT_FALSE(fs::exists(f.aside())) << c.what;
        EXPECT_FALSE(fs::exists(f.download)) << c.what;
    }
}
#endif

TEST(Updater, AProgramThatWillNotCloseTouchesNoFile) {
    Folder f;
    const auto outcome = f.run(Launch::Running, 1 << 30);
    EXPECT_FALSE(outcome.upgraded);
    EXPECT_NE(outcome.text.find("30 秒内没有关闭"), std::string::npos);
    EXPECT_TRUE(fs::exists(f.download));
    EXPECT_NE(contents(f.program).find("# old"), std::string::npos);
    EXPECT_TRUE(f.launches.empty());
}

// Folder permissions and shell-script stand-ins are POSIX.
#ifndef _WIN32
TEST(Updater, AFolderItCannotWriteKeepsTheOldProgram) {
    Folder f;
    // Root writes into any folder; a folder where the old program goes aside blocks it too.
    const fs::path blocker = f.folder.path() / "TarselUFCS解析程序.old";
    if (geteuid() == 0) fs::create_directories(blocker / "busy");
    fs::permissions(f.folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const auto outcome = f.run(Launch::Running);
    fs::permissions(f.folder.path(), fs::perms::owner_all);
    EXPECT_FALSE(outcome.upgraded);
    EXPECT_NE(outcome.text.find("无法移开原程序"), std::string::npos) << outcome.text;
    EXPECT_NE(contents(f.program).find("# old"), std::string::npos);
    ASSERT_EQ(f.launches.size(), 1u);
    EXPECT_NE(f.launches[0].find("# old"), std::string::npos);
}

TEST(Updater, WatchesTheRestartedProgram) {
    testing_support::TestFolder folder{"ufcs-launch"};
    const fs::path program = folder.path() / "stand-in";
    const auto watch = std::chrono::milliseconds(5000);
    struct Case {
        std::string body;
        Launch expected;
    };
    const std::string inFolder = "test \"$(pwd)\" = \"" + folder.path().string() + "\"";
    for (const Case& c :
         {Case{"exit 0", Launch::EndedNormally}, Case{"exit 3", Launch::Failed},
          Case{"kill -SEGV $$", Launch::Failed}, Case{inFolder, Launch::EndedNormally}}) {
        writeProgram(program, c.body);
        EXPECT_EQ(updater::launchAndWatch(program, folder.path(), watch), c.expected) << c.body;
    }
    EXPECT_EQ(updater::launchAndWatch(folder.path() / "missing", folder.path(), watch),
              Launch::Failed);
}
#endif

}  // namespace
