#pragma once
// What the updater does once started for a program: close every running
// instance of it, put the downloaded executable in place of the old one,
// start the new one and watch it. The folder is never left without a working
// executable: the old one is renamed aside, not deleted, until the new one
// has shown that it starts; if it does not, the old one is put back.

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/clock.h"

namespace updater {

struct UpdateRow {
    std::string_view argument;     // "k512 protocol"
    std::string_view windowTitle;  // the program's window, and its installed name
    std::string_view downloaded;   // "k512.exe"
    std::string_view buildName;    // the program's name in a build tree
};

// The row the argument names, compared exactly; nothing for anything else.
const UpdateRow* rowFor(std::string_view argument);

// A run stopped between the two renames of the suite's first version left the
// program only under its aside name ("NAME.old"): it is put back.
void restoreMissingProgram(const std::filesystem::path& folder, const UpdateRow& row);

// The program's executable in `folder`: its installed name (".exe" on
// Windows), else its build name; nothing when neither is there.
std::optional<std::filesystem::path> programIn(const std::filesystem::path& folder,
                                               const UpdateRow& row);

inline constexpr std::string_view kRestarting = "升级成功！即将重启";
inline constexpr std::string_view kNoDownload = "升级失败！\r\n找不到升级文件！";

// What the window says while the program is being closed.
std::string waitingText(const UpdateRow& row);
std::string askingText(const UpdateRow& row);

enum class Launch { Running, EndedNormally, Failed };

// A running instance's answer to the request to close.
enum class CloseAnswer {
    NoInstance,  // none answered
    Closing,
    Kept,   // its user chose to keep it open
    Other,  // another executable (or another user's program) answered: not ours to close
};
struct CloseResult {
    CloseAnswer answer = CloseAnswer::NoInstance;
    std::string other;  // with Other: what answered
};

struct UpdateHooks {
    // Asks one running instance to close; `userAsked` is called when the
    // instance asks its user first (the answer then waits for theirs).
    std::function<CloseResult(const std::function<void()>& userAsked)> askToClose;
    // True while some process of the user still runs `program` (what the
    // channel cannot see: a program without one, or one that does not answer).
    std::function<bool(const std::filesystem::path& program)> stillRunning;
    // Starts `program` with `folder` as working directory and watches it for `watch`.
    std::function<Launch(const std::filesystem::path& program, const std::filesystem::path& folder,
                         std::chrono::milliseconds watch)>
        launch;
    std::chrono::milliseconds closeTimeout{30000};
    std::chrono::milliseconds watch{10000};
};

struct UpdateOutcome {
    bool upgraded = false;
    std::string text;  // what the window shows at the end
};

// `status` hears the window's text as it changes.
UpdateOutcome runUpdate(const UpdateRow& row, const std::filesystem::path& folder,
                        common::Clock& clock, const UpdateHooks& hooks,
                        const std::function<void(const std::string&)>& status = {});

// True while a process of this user runs `program` (Linux: /proc; elsewhere false).
bool programRunning(const std::filesystem::path& program);

// Starts `program` detached from the updater's life but watched for `watch`:
// Running when it still runs then, EndedNormally for status 0, Failed for
// anything else (not started, a non-zero status, a crash).
Launch launchAndWatch(const std::filesystem::path& program, const std::filesystem::path& folder,
                      std::chrono::milliseconds watch);

}  // namespace updater
