#include "updater/update_run.h"

#include <array>
#include <system_error>

#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#else
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace updater {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::array<UpdateRow, 2> kRows = {{
    {"k512 protocol", "TarselUFCS解析程序", "k512.exe", "color"},
    {"k512 Cur_Test", "Tarsel电压电流测量", "k512_cur.exe", "oscillograph"},
}};

constexpr auto kCloseRetry = 400ms;
constexpr int kQuietAsks = 2;  // a second instance takes over the name once the first has gone
constexpr auto kAfterClose = 300ms;
constexpr auto kBeforeRestart = 2000ms;

fs::path fromUtf8(std::string_view text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}
std::string utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string installedName(const UpdateRow& row) {
#ifdef _WIN32
    return std::string(row.windowTitle) + ".exe";
#else
    return std::string(row.windowTitle);
#endif
}

enum class Closed { All, TimedOut, Kept, Other };

// Asks until no instance has answered for a while, the time is up, or a user
// keeps their program open. The time counts afresh after a user's answer.
Closed closeEveryInstance(const UpdateRow& row, const fs::path& program, common::Clock& clock,
                          const UpdateHooks& hooks, std::string& other,
                          const std::function<std::string(const std::string&)>& tell) {
    auto deadline = clock.now() + hooks.closeTimeout;
    int quiet = 0;
    while (quiet < kQuietAsks) {
        if (clock.now() >= deadline) return Closed::TimedOut;
        bool userAsked = false;
        const CloseResult result = hooks.askToClose([&] {
            userAsked = true;
            tell(askingText(row));
        });
        if (result.answer == CloseAnswer::Kept) return Closed::Kept;
        if (result.answer == CloseAnswer::Other) {
            other = result.other;
            return Closed::Other;
        }
        if (userAsked) {
            deadline = clock.now() + hooks.closeTimeout;
            tell(waitingText(row));
        }
        quiet = result.answer == CloseAnswer::Closing ? 0 : quiet + 1;
        clock.sleepFor(kCloseRetry);
    }
    // No channel answers any more; the program itself must be gone too.
    while (hooks.stillRunning && hooks.stillRunning(program)) {
        if (clock.now() >= deadline) return Closed::TimedOut;
        clock.sleepFor(kCloseRetry);
    }
    return Closed::All;
}

fs::path asideOf(const fs::path& program) {
    fs::path aside = program;
    aside += ".old";
    return aside;
}

// What an interrupted run left: the program is put back when only its aside
// copy is there, and an aside copy that is the program itself (a link made
// just before the run was stopped) goes. An aside copy that is another file
// is the last program known to start: it is kept as this run's fallback.
// True when the known-good aside copy is kept.
bool settleInterruptedSwap(const fs::path& program) {
    const fs::path aside = asideOf(program);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(aside, error))) return false;
    if (!fs::exists(fs::symlink_status(program, error))) {
        fs::rename(aside, program, error);
        return false;
    }
    if (fs::equivalent(aside, program, error)) {
        fs::remove(aside, error);
        return false;
    }
    return fs::is_regular_file(fs::symlink_status(aside, error));
}

// The new executable in, with the old one's permission bits, so that a
// program stands under its name at every moment: the old one is first linked
// aside (copied where links are not possible), then the new one renamed over it.
std::optional<std::string> swapIn(const fs::path& download, const fs::path& program,
                                  bool keepAside) {
    std::error_code error;
    const fs::perms mode = fs::status(program, error).permissions();
    if (error) return "无法读取 " + utf8(program) + "：" + error.message();
    const fs::path aside = asideOf(program);
    if (!keepAside) {
        // Something else under the aside name is not ours to remove.
        if (fs::exists(fs::symlink_status(aside, error)))
            return "无法移开原程序 " + utf8(program) + "：" + utf8(aside) + " 已存在";
        fs::create_hard_link(program, aside, error);
        if (error) fs::copy_file(program, aside, error);  // where links cannot be made
        if (error) return "无法移开原程序 " + utf8(program) + "：" + error.message();
    }
    fs::permissions(download, mode, error);
    if (!error) fs::rename(download, program, error);
    if (error) {
        std::error_code ignored;
        if (!keepAside) fs::remove(aside, ignored);
        return "无法放入新程序 " + utf8(program) + "：" + error.message();
    }
    return std::nullopt;
}

// A run stopped between the two renames of the suite's first version left the
// program only under its aside name: it goes back first.
void restoreAside(const fs::path& folder, const UpdateRow& row) {
    for (const std::string& name : {installedName(row), std::string(row.buildName)}) {
        const fs::path program = folder / fromUtf8(name);
        std::error_code error;
        if (!fs::exists(fs::symlink_status(program, error)) &&
            fs::is_regular_file(asideOf(program), error))
            fs::rename(asideOf(program), program, error);
    }
}

// The aside copy back over the program, in one rename.
void rollBack(const fs::path& program) {
    std::error_code ignored;
    fs::rename(asideOf(program), program, ignored);
}

}  // namespace

std::string waitingText(const UpdateRow& row) {
    return "正在等待 " + std::string(row.windowTitle) + " 关闭……";
}

std::string askingText(const UpdateRow& row) {
    return std::string(row.windowTitle) +
           " 正在询问是否存盘：\r\n请在该程序中回答，回答后升级继续。";
}

void restoreMissingProgram(const fs::path& folder, const UpdateRow& row) {
    restoreAside(folder, row);
}

const UpdateRow* rowFor(std::string_view argument) {
    for (const UpdateRow& row : kRows) {
        if (row.argument == argument) return &row;
    }
    return nullptr;
}

std::optional<fs::path> programIn(const fs::path& folder, const UpdateRow& row) {
    for (const std::string& name : {installedName(row), std::string(row.buildName)}) {
        const fs::path candidate = folder / fromUtf8(name);
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) return candidate;
    }
    return std::nullopt;
}

UpdateOutcome runUpdate(const UpdateRow& row, const fs::path& folder, common::Clock& clock,
                        const UpdateHooks& hooks,
                        const std::function<void(const std::string&)>& status) {
    const auto tell = [&](const std::string& text) {
        if (status) status(text);
        return text;
    };
    tell(waitingText(row));
    restoreAside(folder, row);
    const std::optional<fs::path> program = programIn(folder, row);
    std::string other;
    switch (closeEveryInstance(row, program.value_or(fs::path()), clock, hooks, other, tell)) {
        case Closed::All:
            break;
        case Closed::Other:
            return {false, tell("升级失败！\r\n正在运行的是另一个 " + std::string(row.windowTitle) +
                                "（" + other + "），请先关闭它再升级；没有改动任何文件。")};
        case Closed::TimedOut:
            return {false, tell("升级失败！\r\n" + std::string(row.windowTitle) + " 在 " +
                                std::to_string(hooks.closeTimeout.count() / 1000) +
                                " 秒内没有关闭，升级已取消，没有改动任何文件。")};
        case Closed::Kept:
            return {false, tell("升级已取消！\r\n" + std::string(row.windowTitle) +
                                " 的用户选择了不关闭，没有改动任何文件。")};
    }
    clock.sleepFor(kAfterClose);

    const fs::path download = folder / fromUtf8(row.downloaded);
    std::error_code error;
    const bool found = fs::is_regular_file(download, error);
    const bool keepAside = program && settleInterruptedSwap(*program);
    std::optional<std::string> failure;
    if (!found) {
        failure = std::string(kNoDownload);
    } else if (!program) {
        failure = "升级失败！\r\n找不到 " + installedName(row) + "！";
    } else if (const auto refused = swapIn(download, *program, keepAside)) {
        failure = "升级失败！\r\n" + *refused;
    }
    fs::remove(download, error);  // gone after a swap; a failed one leaves nothing behind
    tell(failure ? *failure : std::string(kRestarting));
    clock.sleepFor(kBeforeRestart);
    if (!program) return {false, *failure};

    const Launch launched =
        hooks.launch(*program, folder, failure ? std::chrono::milliseconds(0) : hooks.watch);
    if (failure) return {false, *failure};
    if (launched == Launch::Failed) {
        rollBack(*program);
        hooks.launch(*program, folder, std::chrono::milliseconds(0));
        return {false, tell("升级失败！\r\n新版本未能启动，已恢复原来的版本并重新启动。")};
    }
    fs::remove(asideOf(*program), error);
    return {true, std::string(kRestarting)};
}

#ifndef _WIN32
bool programRunning(const fs::path& program) {
    std::error_code error;
    const fs::path wanted = fs::canonical(program, error);
    if (error) return false;
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        const std::string pid = it->path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code unreadable;  // another user's process, or one that has just ended
        const fs::path exe = fs::read_symlink(it->path() / "exe", unreadable);
        if (!unreadable && exe == wanted) return true;
    }
    return false;
}

Launch launchAndWatch(const fs::path& program, const fs::path& folder,
                      std::chrono::milliseconds watch) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const std::string path = program.string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) return Launch::Failed;
    // Left running past the watch, it outlives the updater (adopted by the system).
    const auto deadline = std::chrono::steady_clock::now() + watch;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Launch::EndedNormally
                                                                 : Launch::Failed;
        if (std::chrono::steady_clock::now() >= deadline) return Launch::Running;
        usleep(20000);
    }
}
#else
bool programRunning(const fs::path&) {
    return false;  // Windows keeps a running executable from being replaced anyway
}

Launch launchAndWatch(const fs::path& program, const fs::path& folder,
                      std::chrono::milliseconds watch) {
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, folder.wstring().c_str(), &startup, &process))
        return Launch::Failed;
    CloseHandle(process.hThread);
    Launch result = Launch::Running;
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(watch.count())) == WAIT_OBJECT_0) {
        DWORD code = 1;
        GetExitCodeProcess(process.hProcess, &code);
        result = code == 0 ? Launch::EndedNormally : Launch::Failed;
    }
    CloseHandle(process.hProcess);
    return result;
}
#endif

}  // namespace updater
