#include "device/exclusive_lock.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace device {

#ifdef _WIN32

bool ExclusiveLock::acquire(const std::string& path) {
    release();
    // Share mode 0: nobody else may open the file while we hold it.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    handle_ = handle;
    return true;
}

void ExclusiveLock::release() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool ExclusiveLock::held() const {
    return handle_ != nullptr;
}

#else

bool ExclusiveLock::acquire(const std::string& path) {
    release();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    // flock locks belong to the open file, so a second open in this same process is refused too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void ExclusiveLock::release() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the lock; the file stays for the next holder
    fd_ = -1;
}

bool ExclusiveLock::held() const {
    return fd_ >= 0;
}

#endif

std::string lockFileName(const std::string& devicePath) {
    std::string name = "ufcs-instrument-";
    for (const char c : devicePath) {
        const bool plain =
            std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
        name += plain ? c : '_';
    }
    return name + ".lock";
}

std::string defaultLockFolder() {
    std::error_code error;
    const char* chosen = std::getenv(kLockFolderVariable);
    if (chosen && *chosen) {
        std::filesystem::create_directories(chosen, error);
        return chosen;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && std::filesystem::is_directory(runtime, error)) return runtime;
    const auto temp = std::filesystem::temp_directory_path(error);
    return error ? std::string(".") : temp.string();
}

}  // namespace device
