#pragma once
// Holds the instrument for one program at a time: an exclusive advisory lock
// on a lock file, taken without waiting. A second holder, in this process or
// another, is refused until the first releases it or exits.

#include <string>

namespace device {

class ExclusiveLock {
  public:
    ExclusiveLock() = default;
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    ~ExclusiveLock() { release(); }

    // False when someone else holds the lock or the file cannot be made.
    bool acquire(const std::string& path);
    void release();
    bool held() const;

  private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// Where the lock files live: $UFCS_LOCK_DIR when set (created if missing; tests
// give each run its own), else the user's runtime folder, else the temporary folder.
inline constexpr const char* kLockFolderVariable = "UFCS_LOCK_DIR";
std::string defaultLockFolder();

// A lock file name made from any device path (only letters, digits, '-', '_', '.').
std::string lockFileName(const std::string& devicePath);

}  // namespace device
