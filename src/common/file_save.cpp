#include "common/file_save.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "common/clock.h"
#include "common/format.h"

#ifdef _WIN32
#include <io.h>

#include <cstdio>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace common {
namespace {

namespace fs = std::filesystem;

using namespace std::chrono_literals;

constexpr int kMostLinksFollowed = 40;
constexpr std::size_t kSinkBuffer = 64 * 1024;
constexpr auto kWaitStep = 50ms;
constexpr const char* kSaveCancelled = "保存被中断";

[[maybe_unused]] long long wholeSeconds(std::chrono::milliseconds duration) {
    return static_cast<long long>((duration.count() + 999) / 1000);
}

SaveOutcome failed(std::string reason) {
    return SaveOutcome{false, std::move(reason)};
}

std::string systemReason(int error) {
    return std::generic_category().message(error);
}

fs::path folderOf(const fs::path& path) {
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

#ifndef _WIN32
// A link is followed only when it is the user's, or the folder's owner's: one
// planted by another user in a shared folder is never followed (the rule of
// the system's protected_symlinks, kept everywhere).
std::optional<std::string> plantedLink(const fs::path& link) {
    struct stat linkStat {};
    struct stat folderStat {};
    if (lstat(link.c_str(), &linkStat) != 0 || stat(folderOf(link).c_str(), &folderStat) != 0)
        return systemReason(errno);
    if (linkStat.st_uid == geteuid() || linkStat.st_uid == folderStat.st_uid) return std::nullopt;
    return format("%s 是另一个用户 (uid %u) 的链接，不跟随它保存", displayPath(link).c_str(),
                  static_cast<unsigned>(linkStat.st_uid));
}

// In a shared (sticky) folder, a file of another user is theirs: never written into.
std::optional<std::string> othersFileInSharedFolder(const fs::path& file) {
    struct stat fileStat {};
    struct stat folderStat {};
    if (lstat(file.c_str(), &fileStat) != 0 || stat(folderOf(file).c_str(), &folderStat) != 0)
        return std::nullopt;
    if (fileStat.st_uid == geteuid() || (folderStat.st_mode & S_ISVTX) == 0) return std::nullopt;
    return format("%s 属于另一个用户 (uid %u)，共享文件夹里不写入别人的文件",
                  displayPath(file).c_str(), static_cast<unsigned>(fileStat.st_uid));
}
#endif

// Follows symbolic links at the end of `target` to the path that is really
// written, and finds what is there (`not_found` for a file yet to be made).
SaveOutcome resolveTarget(const fs::path& target, fs::path& resolved, fs::file_type& type) {
    resolved = target;
    for (int followed = 0;; ++followed) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(resolved, error);
        if (error && status.type() != fs::file_type::not_found) return failed(error.message());
        if (status.type() != fs::file_type::symlink) {
            type = status.type();
#ifndef _WIN32
            if (type == fs::file_type::regular) {
                if (const auto refused = othersFileInSharedFolder(resolved))
                    return failed(*refused);
            }
#endif
            return {};
        }
        if (followed == kMostLinksFollowed) return failed(systemReason(ELOOP));
#ifndef _WIN32
        if (const auto refused = plantedLink(resolved)) return failed(*refused);
#endif
        const fs::path link = fs::read_symlink(resolved, error);
        if (error) return failed(error.message());
        resolved = link.is_absolute() ? link : folderOf(resolved) / link;
    }
}

SaveOutcome refusedKind(fs::file_type type) {
    return failed(type == fs::file_type::directory ? "这是一个文件夹，不能当作文件保存"
                                                   : "这不是普通文件，不能替换");
}

bool isWrittenThrough(fs::file_type type) {
    return type == fs::file_type::character || type == fs::file_type::fifo;
}

// 0 when the process may write `path`, else the system's error number.
int writeAccessError(const fs::path& path, bool folder) {
#ifdef _WIN32
    (void)folder;
    return _waccess(path.c_str(), 2) == 0 ? 0 : errno;
#else
    return access(path.c_str(), folder ? (W_OK | X_OK) : W_OK) == 0 ? 0 : errno;
#endif
}

std::string temporaryName(const fs::path& path, unsigned attempt) {
    static std::random_device random;
    return "." + path.filename().string() + ".saving-" + std::to_string(random() ^ attempt);
}

#ifdef _WIN32

// Windows: no links, modes or FIFOs to keep; the temporary file is renamed over the target.
class StdioSink final : public ByteSink {
  public:
    explicit StdioSink(std::FILE* file) : file_(file) {}
    bool write(const void* data, std::size_t size) override {
        if (error_ == 0 && std::fwrite(data, 1, size, file_) != size) error_ = errno ? errno : EIO;
        return error_ == 0;
    }
    int finish(bool sync) {
        if (error_ == 0 && std::fflush(file_) != 0) error_ = errno;
        if (error_ == 0 && sync && _commit(_fileno(file_)) != 0) error_ = errno;
        if (std::fclose(file_) != 0 && error_ == 0) error_ = errno;
        return error_;
    }

  private:
    std::FILE* file_;
    int error_ = 0;
};

SaveOutcome writeFile(const fs::path& path, bool sync,
                      const std::function<bool(ByteSink&)>& produce,
                      const std::string& abandonReason, const SaveControl& = {}) {
    std::FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return failed(systemReason(errno));
    StdioSink sink(file);
    const bool produced = produce(sink);
    const int error = sink.finish(sync);
    // A write that failed (a full disk) is that failure, not the producer's choice.
    if (!produced && error == 0) return failed(abandonReason);
    return error ? failed(systemReason(error)) : SaveOutcome{};
}

SaveOutcome writeThrough(const fs::path& path, const std::function<bool(ByteSink&)>& produce,
                         const std::string& abandonReason, const SaveControl& control) {
    return writeFile(path, false, produce, abandonReason, control);
}

SaveOutcome replaceRegularFile(const fs::path& path, bool,
                               const std::function<bool(ByteSink&)>& produce,
                               const std::string& abandonReason) {
    const fs::path temporary = folderOf(path) / temporaryName(path, 0);
    SaveOutcome outcome = writeFile(temporary, true, produce, abandonReason);
    std::error_code error;
    if (outcome.ok) fs::rename(temporary, path, error);
    if (!outcome.ok || error) {
        fs::remove(temporary, error);
        return outcome.ok ? failed(error.message()) : outcome;
    }
    return {};
}

#else

// Buffers the bytes and writes them to a descriptor, keeping the first error.
// A descriptor that takes no more for now (a FIFO whose reader is slow) is
// waited for as `control` allows.
class DescriptorSink final : public ByteSink {
  public:
    explicit DescriptorSink(int fd, const SaveControl* control = nullptr)
        : fd_(fd), control_(control) {
        buffer_.reserve(kSinkBuffer);
    }
    bool write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const uint8_t*>(data);
        if (size >= kSinkBuffer && flush() == 0) return writeDirect(bytes, size);  // no copy
        while (error_ == 0 && size > 0) {
            const std::size_t taken = std::min(size, kSinkBuffer - buffer_.size());
            buffer_.insert(buffer_.end(), bytes, bytes + taken);
            bytes += taken;
            size -= taken;
            if (buffer_.size() == kSinkBuffer) flush();
        }
        return error_ == 0;
    }
    // Writes what is buffered; the first error number, or 0.
    int flush() {
        writeDirect(buffer_.data(), buffer_.size());
        buffer_.clear();
        return error_;
    }
    int error() const { return error_; }
    // Why the writes failed, for the user.
    std::string reason() const { return reason_.empty() ? systemReason(error_) : reason_; }

  private:
    bool writeDirect(const uint8_t* bytes, std::size_t size) {
        std::size_t done = 0;
        auto progressAt = std::chrono::steady_clock::now();
        while (error_ == 0 && done < size) {
            const ssize_t n = ::write(fd_, bytes + done, size - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                progressAt = std::chrono::steady_clock::now();
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && control_) {
                waitWritable(progressAt);
            } else if (n < 0 && errno != EINTR) {
                error_ = errno;
            }
        }
        return error_ == 0;
    }
    void waitWritable(std::chrono::steady_clock::time_point progressAt) {
        pollfd wanted{fd_, POLLOUT, 0};
        poll(&wanted, 1, static_cast<int>(kWaitStep.count()));
        if (control_->cancelled && control_->cancelled()) {
            error_ = ECANCELED;
            reason_ = kSaveCancelled;
        } else if (std::chrono::steady_clock::now() - progressAt > control_->stallLimit) {
            error_ = ETIMEDOUT;
            reason_ = format("写入停滞，%lld 秒没有进展", wholeSeconds(control_->stallLimit));
        }
    }

    int fd_;
    const SaveControl* control_;
    std::vector<uint8_t> buffer_;
    int error_ = 0;
    std::string reason_;
};

// Runs `produce` into `fd` and flushes; the error number, or 0. `abandoned` is
// set when `produce` gave up.
int produceInto(int fd, const std::function<bool(ByteSink&)>& produce, bool& abandoned) {
    DescriptorSink sink(fd);
    // A write that failed (a full disk) is that failure, not the producer's choice.
    abandoned = !produce(sink) && sink.error() == 0;
    return abandoned ? 0 : sink.flush();
}

// Opened without blocking: a FIFO with no reader refuses at once (ENXIO), and
// is tried again until one comes, the wait is over or the caller ends it.
SaveOutcome writeThrough(const fs::path& path, const std::function<bool(ByteSink&)>& produce,
                         const std::string& abandonReason, const SaveControl& control) {
    const auto readerDeadline = std::chrono::steady_clock::now() + control.readerWait;
    int fd = -1;
    for (bool told = false;; told = true) {
        // The path was resolved just now: a link put there since is not followed.
        fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
        if (fd >= 0 || errno != ENXIO) break;
        if (!told && control.waitingForReader) control.waitingForReader();
        if (control.cancelled && control.cancelled()) return failed(kSaveCancelled);
        if (std::chrono::steady_clock::now() >= readerDeadline) {
            return failed(format("没有程序读取这个 FIFO（等待了 %lld 秒）",
                                 wholeSeconds(control.readerWait)));
        }
        std::this_thread::sleep_for(kWaitStep);
    }
    if (fd < 0) return failed(systemReason(errno));
    DescriptorSink sink(fd, &control);
    const bool abandoned = !produce(sink) && sink.error() == 0;
    int error = abandoned ? 0 : sink.flush();
    const std::string reason = sink.reason();
    if (close(fd) != 0 && error == 0) error = errno;
    if (abandoned) return failed(abandonReason);
    if (error == 0) return {};
    return failed(sink.error() ? reason : systemReason(error));
}

// Copies the finished `temporary` into `path` in place, for a file with other
// hard links. Only reached once the new bytes are safely on the disk.
int copyInPlace(const fs::path& temporary, const fs::path& path) {
    const int from = open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) return errno;
    const int to = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    int error = to < 0 ? errno : 0;
    if (error == 0) {
        DescriptorSink sink(to);
        std::vector<uint8_t> chunk(kSinkBuffer);
        for (;;) {
            const ssize_t n = read(from, chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) error = errno;
            if (n <= 0 || !sink.write(chunk.data(), static_cast<std::size_t>(n))) break;
        }
        if (error == 0) error = sink.flush();
        if (error == 0 && fsync(to) != 0) error = errno;
        if (close(to) != 0 && error == 0) error = errno;
    }
    close(from);
    return error;
}

void syncFolder(const fs::path& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);  // best effort: the rename itself is already atomic
    close(fd);
}

int createTemporaryBeside(const fs::path& path, fs::path& temporary) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary = folderOf(path) / temporaryName(path, attempt);
        const int fd =
            open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST) return fd < 0 ? -errno : fd;
    }
    return -EEXIST;
}

// Gives the finished temporary file the old one's owner and permission bits.
int keepOwnerAndMode(int fd, const struct stat& old) {
    if (fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) return errno;
    return fchmod(fd, old.st_mode & 07777) == 0 ? 0 : errno;
}

SaveOutcome replaceRegularFile(const fs::path& path, bool exists,
                               const std::function<bool(ByteSink&)>& produce,
                               const std::string& abandonReason) {
    struct stat old {};
    if (exists && stat(path.c_str(), &old) != 0) return failed(systemReason(errno));
    fs::path temporary;
    const int fd = createTemporaryBeside(path, temporary);
    if (fd < 0) return failed(systemReason(-fd));

    bool abandoned = false;
    int error = produceInto(fd, produce, abandoned);
    if (!abandoned && error == 0 && exists) error = keepOwnerAndMode(fd, old);
    if (!abandoned && error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (abandoned || error != 0) {
        unlink(temporary.c_str());
        return failed(abandoned ? abandonReason : systemReason(error));
    }

    if (exists && old.st_nlink > 1) {
        error = copyInPlace(temporary, path);
        if (error != 0) {
            return failed(systemReason(error) + "；新内容保存在 " + displayPath(temporary));
        }
        unlink(temporary.c_str());
        return {};
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
        unlink(temporary.c_str());
        return failed(systemReason(error));
    }
    syncFolder(folderOf(path));
    return {};
}

#endif

}  // namespace

std::string displayPath(const fs::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

SaveOutcome saveFile(const fs::path& target, const std::function<bool(ByteSink&)>& produce,
                     const std::string& abandonReason, const SaveControl& control) {
    fs::path path;
    fs::file_type type = fs::file_type::none;
    if (SaveOutcome resolved = resolveTarget(target, path, type); !resolved.ok) return resolved;
    // A file the user may not write is not replaced behind their back either.
    if (type == fs::file_type::regular) {
        if (const int error = writeAccessError(path, false)) return failed(systemReason(error));
    }
    if (type == fs::file_type::not_found || type == fs::file_type::regular)
        return replaceRegularFile(path, type == fs::file_type::regular, produce, abandonReason);
    if (isWrittenThrough(type)) return writeThrough(path, produce, abandonReason, control);
    return refusedKind(type);
}

SaveOutcome checkSaveTarget(const fs::path& target) {
    fs::path path;
    fs::file_type type = fs::file_type::none;
    if (SaveOutcome resolved = resolveTarget(target, path, type); !resolved.ok) return resolved;
    if (isWrittenThrough(type)) {
        const int error = writeAccessError(path, false);
        return error ? failed(systemReason(error)) : SaveOutcome{};
    }
    if (type != fs::file_type::not_found && type != fs::file_type::regular)
        return refusedKind(type);

    const fs::path folder = folderOf(path);
    std::error_code ignored;
    if (!fs::is_directory(folder, ignored))
        return failed("文件夹 " + displayPath(folder) + " 不存在");
    int error = writeAccessError(folder, true);
    if (error == 0 && type == fs::file_type::regular) error = writeAccessError(path, false);
    return error ? failed(systemReason(error)) : SaveOutcome{};
}

fs::path fallbackFolder() {
    fs::path base;
#ifdef _WIN32
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local) base = local;
#else
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        base = data;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = fs::path(home) / ".local" / "share";
    }
#endif
    std::error_code ignored;
    if (base.empty()) base = fs::temp_directory_path(ignored);
    return base / "ufcs-suite" / "unsaved";
}

FallbackSave saveToFallback(const std::string& failure, std::string_view stem,
                            std::string_view extension,
                            const std::function<FileResult(const fs::path&)>& save) {
    const fs::path folder = fallbackFolder();
    std::error_code error;
    fs::create_directories(folder, error);
    fs::permissions(folder, fs::perms::owner_all, error);  // the user's data, not the machine's
    const std::tm local = localCalendarTime(std::time(nullptr));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    fs::path path;
    for (int n = 1;; ++n) {
        path = folder / (std::string(stem) + "-" + stamp + (n > 1 ? "-" + std::to_string(n) : "") +
                         std::string(extension));
        if (!fs::exists(fs::symlink_status(path, error)) || n == 100) break;
    }
    const FileResult saved = save(path);
    if (saved.ok) return {path, failure + "\n数据已另存到 " + displayPath(path)};
    return {std::nullopt,
            failure + "\n另存到 " + displayPath(folder) + " 也失败：" + saved.message};
}

}  // namespace common
