#pragma once
// Holds the instrument for one program at a time: an exclusive advisory lock
// on a lock file, taken without waiting. A second holder, in this process or
// another, is refused until the first releases it or exits.
//
// The real instrument's lock files are shared by every user of the computer:
// made readable and writable by all, and taken through a read-only open when
// another user made the file, so no user can keep another out by owning it.

#include <string>

namespace device {

class ExclusiveLock {
  public:
    enum class Outcome {
        Taken,
        Busy,         // another program holds it
        Unavailable,  // the lock file cannot be made or opened (see problem())
    };

    ExclusiveLock() = default;
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;
    ~ExclusiveLock() { release(); }

    Outcome take(const std::string& path);
    // True when taken.
    bool acquire(const std::string& path) { return take(path) == Outcome::Taken; }
    void release();
    bool held() const;
    // Why the last take() found the lock unavailable.
    const std::string& problem() const { return problem_; }

  private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    std::string problem_;
};

// A lock file name made from any device path (only letters, digits, '-', '_', '.').
std::string lockFileName(const std::string& devicePath);

}  // namespace device
