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

enum class Closed { All, TimedOut, Kept };

// Asks until no instance has answered for a while, the time is up, or a user
// keeps their program open. The time counts afresh after a user's answer.
Closed closeEveryInstance(const UpdateRow& row, common::Clock& clock, const UpdateHooks& hooks,
                          const std::function<std::string(const std::string&)>& tell) {
    auto deadline = clock.now() + hooks.closeTimeout;
    int quiet = 0;
    while (quiet < kQuietAsks) {
        if (clock.now() >= deadline) return Closed::TimedOut;
        bool userAsked = false;
        const CloseAnswer answer = hooks.askToClose([&] {
            userAsked = true;
            tell(askingText(row));
        });
        if (answer == CloseAnswer::Kept) return Closed::Kept;
        if (userAsked) {
            deadline = clock.now() + hooks.closeTimeout;
            tell(waitingText(row));
        }
        quiet = answer == CloseAnswer::Closing ? 0 : quiet + 1;
        clock.sleepFor(kCloseRetry);
    }
    return Closed::All;
}

struct Swap {
    fs::path program;
    fs::path aside;  // the old executable while the new one proves itself
};

// Old aside, new in with the old one's permission bits; the old one back on any failure.
std::optional<std::string> swapIn(const fs::path& download, Swap& swap) {
    std::error_code error;
    const fs::perms mode = fs::status(swap.program, error).permissions();
    if (error) return "无法读取 " + utf8(swap.program) + "：" + error.message();
    swap.aside = swap.program;
    swap.aside += ".old";
    fs::remove(swap.aside, error);
    fs::rename(swap.program, swap.aside, error);
    if (error) return "无法移开原程序 " + utf8(swap.program) + "：" + error.message();
    fs::permissions(download, mode, error);
    if (!error) fs::rename(download, swap.program, error);
    if (error) {
        std::error_code ignored;
        fs::rename(swap.aside, swap.program, ignored);
        return "无法放入新程序 " + utf8(swap.program) + "：" + error.message();
    }
    return std::nullopt;
}

void rollBack(const Swap& swap) {
    std::error_code ignored;
    fs::remove(swap.program, ignored);
    fs::rename(swap.aside, swap.program, ignored);
}

}  // namespace

std::string waitingText(const UpdateRow& row) {
    return "正在等待 " + std::string(row.windowTitle) + " 关闭……";
}

std::string askingText(const UpdateRow& row) {
    return std::string(row.windowTitle) +
           " 正在询问是否存盘：\r\n请在该程序中回答，回答后升级继续。";
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
    switch (closeEveryInstance(row, clock, hooks, tell)) {
        case Closed::All:
            break;
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
    const std::optional<fs::path> program = programIn(folder, row);
    std::optional<std::string> failure;
    Swap swap;
    if (!found) {
        failure = std::string(kNoDownload);
    } else if (!program) {
        failure = "升级失败！\r\n找不到 " + installedName(row) + "！";
    } else {
        swap.program = *program;
        if (const auto refused = swapIn(download, swap)) failure = "升级失败！\r\n" + *refused;
    }
    fs::remove(download, error);  // gone after a swap; a failed one leaves nothing behind
    tell(failure ? *failure : std::string(kRestarting));
    clock.sleepFor(kBeforeRestart);
    if (!program) return {false, *failure};

    const Launch launched =
        hooks.launch(*program, folder, failure ? std::chrono::milliseconds(0) : hooks.watch);
    if (failure) return {false, *failure};
    if (launched == Launch::Failed) {
        rollBack(swap);
        hooks.launch(*program, folder, std::chrono::milliseconds(0));
        return {false, tell("升级失败！\r\n新版本未能启动，已恢复原来的版本并重新启动。")};
    }
    fs::remove(swap.aside, error);
    return {true, std::string(kRestarting)};
}

#ifndef _WIN32
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
