#pragma once
// Where the programs keep what is the user's alone (the instance channel,
// the simulated instrument's lock) and what every user of the computer
// shares (the real instrument's locks). On a lab computer with several
// users, nobody else may plant or hold what is the user's own.

#include <filesystem>
#include <optional>
#include <string>

namespace common {

// The variable that puts both folders in one place of a test's own.
inline constexpr const char* kLockFolderVariable = "UFCS_LOCK_DIR";

// A folder only this user can enter: $UFCS_LOCK_DIR when set, else
// $XDG_RUNTIME_DIR, else "ufcs-UID" in the temporary folder (made 0700);
// on Windows the user's local application data. A folder that is not the
// user's own, or that others may enter, is never used: nothing, and
// `problem` says why.
std::optional<std::filesystem::path> privateRuntimeFolder(std::string& problem);

// Whether `folder` is a real folder (no link) owned by this user that nobody
// else may enter; `problem` says why not.
bool privateToUser(const std::filesystem::path& folder, std::string& problem);

// The folder every user's programs take the real instrument's locks in:
// $UFCS_LOCK_DIR when set, else /run/lock, else the temporary folder.
std::filesystem::path sharedLockFolder();

}  // namespace common
