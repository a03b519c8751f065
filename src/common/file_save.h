#pragma once
// Saving a file the user named, for every program of the suite (captures,
// recordings, exports). The rules:
// - a symbolic link is followed (the file it points to is replaced) only when
//   it is the user's own or the owner's of the folder it is in: a link that
//   another user planted in a shared folder is refused, and the file found is
//   opened without following any link put there since;
// - a file of another user in a shared (sticky) folder is never written into;
// - a regular file is replaced atomically: the new bytes go to a file beside
//   it, are flushed to the disk, and take its place by a rename; the new file
//   keeps the old one's permission bits (and owner, where the process may set
//   it); a file with more than one hard link has the finished bytes copied
//   into it instead, so every name keeps seeing it; a file the process may
//   not write is left alone;
// - a character device or a FIFO is written straight through (/dev/null
//   discards, /dev/full reports its error), never blocking without a way
//   out: a FIFO nobody reads is waited for a bounded time, a write that
//   makes no progress gives up, and the caller may end either wait; a
//   folder or any other kind of file is never touched;
// - any failure is reported with the system's reason, and an earlier file is
//   left as it was. What could not be saved goes to a fallback file in the
//   user's own data folder (saveToFallback), so it is never lost.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace common {

// Receives a file's bytes in order. After a failed write, the rest is ignored.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual bool write(const void* data, std::size_t size) = 0;
    bool write(std::string_view text) { return write(text.data(), text.size()); }
};

// What opening or saving a file came to: the message for the user when not ok.
struct FileResult {
    bool ok = true;
    std::string message;
};

struct SaveOutcome {
    bool ok = true;
    std::string reason;  // why not, for the user (UTF-8), when not ok
};

// How long a save written straight through (a FIFO, a device) may wait.
struct SaveControl {
    // Asked while waiting: true ends the wait (a command line's Ctrl+C).
    std::function<bool()> cancelled;
    // Told once when the save starts to wait for a FIFO's reader.
    std::function<void()> waitingForReader;
    std::chrono::milliseconds readerWait{10'000};  // for a FIFO to get a reader
    std::chrono::milliseconds stallLimit{30'000};  // for a write that makes no progress
};

// A window cannot wait: a FIFO with no reader is refused at once, and a write
// that makes no progress is given up after 3 seconds.
inline SaveControl windowSaveControl() {
    return {nullptr, nullptr, std::chrono::milliseconds(0), std::chrono::milliseconds(3000)};
}

// Writes what `produce` gives into `target`. `produce` returns false to give up
// (the target is then left as it was, and `reason` is its `abandonReason`).
SaveOutcome saveFile(const std::filesystem::path& target,
                     const std::function<bool(ByteSink&)>& produce,
                     const std::string& abandonReason = "写入被中止",
                     const SaveControl& control = {});

// Whether saving to `target` could succeed, found without writing anything:
// its folder exists and may be written, and the target itself, if it exists,
// is a writable regular file, character device or FIFO.
SaveOutcome checkSaveTarget(const std::filesystem::path& target);

// The path as UTF-8, for messages.
std::string displayPath(const std::filesystem::path& path);

// Where data goes that could not be saved where the user asked: the user's
// own data folder ($XDG_DATA_HOME, else ~/.local/share; %LOCALAPPDATA% on
// Windows), in "ufcs-suite/unsaved".
std::filesystem::path fallbackFolder();

// After a failed save: `save` writes the same data to a new file in the
// fallback folder, named from `stem` and `extension`. The message tells the
// failure (`failure`), then where the data is now, or that this failed too.
struct FallbackSave {
    std::optional<std::filesystem::path> path;  // where the data went, when it went
    std::string message;
};
FallbackSave saveToFallback(const std::string& failure, std::string_view stem,
                            std::string_view extension,
                            const std::function<FileResult(const std::filesystem::path&)>& save);

}  // namespace common
