#include "common/user_folders.h"

#include <cstdlib>
#include <system_error>

#include "common/file_save.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace common {
namespace {

namespace fs = std::filesystem;

std::optional<fs::path> fromVariable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return fs::path(value);
}

}  // namespace

#ifdef _WIN32

bool privateToUser(const fs::path& folder, std::string& problem) {
    std::error_code error;
    if (fs::is_directory(folder, error)) return true;
    problem = displayPath(folder) + " 不是文件夹";
    return false;
}

std::optional<fs::path> privateRuntimeFolder(std::string& problem) {
    std::error_code error;
    if (const auto chosen = fromVariable(kLockFolderVariable)) {
        fs::create_directories(*chosen, error);
        return chosen;
    }
    // The user's profile is theirs alone.
    fs::path folder;
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        folder = fs::path(local) / "ufcs-suite" / "run";
    else
        folder = fs::temp_directory_path(error) / "ufcs-suite-run";
    fs::create_directories(folder, error);
    if (!privateToUser(folder, problem)) return std::nullopt;
    return folder;
}

fs::path sharedLockFolder() {
    if (const auto chosen = fromVariable(kLockFolderVariable)) return *chosen;
    std::error_code error;
    return fs::temp_directory_path(error);
}

#else

bool privateToUser(const fs::path& folder, std::string& problem) {
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) {
        problem = displayPath(folder) + "：" + std::generic_category().message(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        problem = displayPath(folder) + " 不是文件夹（或是一个链接）";
        return false;
    }
    if (st.st_uid != geteuid()) {
        problem = displayPath(folder) + " 属于另一个用户 (uid " + std::to_string(st.st_uid) + ")";
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        problem = displayPath(folder) + " 其他用户也可以进入";
        return false;
    }
    return true;
}

std::optional<fs::path> privateRuntimeFolder(std::string& problem) {
    std::error_code error;
    if (const auto chosen = fromVariable(kLockFolderVariable)) {
        fs::create_directories(*chosen, error);
        return chosen;
    }
    std::string runtimeProblem;
    if (const auto runtime = fromVariable("XDG_RUNTIME_DIR");
        runtime && runtime->is_absolute() && privateToUser(*runtime, runtimeProblem))
        return runtime;
    const fs::path folder = fs::temp_directory_path(error) / ("ufcs-" + std::to_string(geteuid()));
    // Made by nobody else first: mkdir fails on anything already there, which is then checked.
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = displayPath(folder) + "：" + std::generic_category().message(errno);
        return std::nullopt;
    }
    if (!privateToUser(folder, problem)) return std::nullopt;
    return folder;
}

fs::path sharedLockFolder() {
    if (const auto chosen = fromVariable(kLockFolderVariable)) return *chosen;
    std::error_code error;
    if (fs::is_directory("/run/lock", error) && access("/run/lock", W_OK | X_OK) == 0)
        return "/run/lock";
    return fs::temp_directory_path(error);
}

#endif

}  // namespace common
