#include "device/exclusive_lock.h"

#include <cctype>
#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace device {

#ifdef _WIN32

ExclusiveLock::Outcome ExclusiveLock::take(const std::string& path) {
    release();
    problem_.clear();
    // Share mode 0: nobody else may open the file while we hold it.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        handle_ = handle;
        return Outcome::Taken;
    }
    if (GetLastError() == ERROR_SHARING_VIOLATION) return Outcome::Busy;
    problem_ = std::system_category().message(static_cast<int>(GetLastError()));
    return Outcome::Unavailable;
}

void ExclusiveLock::release() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool ExclusiveLock::held() const {
    return handle_ != nullptr;
}

#else

ExclusiveLock::Outcome ExclusiveLock::take(const std::string& path) {
    release();
    problem_.clear();
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    // Made here: every user may take it after us, whatever our umask.
    if (fd >= 0) fchmod(fd, 0666);
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    // Another user's file: a lock needs no write access.
    if (fd < 0 && (errno == EACCES || errno == EPERM))
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        problem_ = path + "：" + std::generic_category().message(errno);
        return Outcome::Unavailable;
    }
    // flock locks belong to the open file, so a second open in this same process is refused too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return Outcome::Busy;
        problem_ = path + "：" + std::generic_category().message(error);
        return Outcome::Unavailable;
    }
    fd_ = fd;
    return Outcome::Taken;
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

}  // namespace device
