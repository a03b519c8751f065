#pragma once
// The recovery journal of a test while its document holds unsaved samples:
// an append-only file that a crash, a kill or a power loss leaves behind with
// at most the last second missing, and that recoverJournal() turns back into
// a document.
//
// Each running test has a journal of its own, locked while its test (or the
// recovered document it came back as) lives, so another recorder neither
// offers it for recovery nor deletes it.
//
// Layout (little-endian): "OSAJRNL1", version 2, the sampling period
// (double), then blocks: the marker B7 4A, kind (1 = samples of one channel,
// 2 = the calibration of the test that follows), channel, count (16-bit, at
// most 4096), the index in its channel of the first sample (32-bit), the
// payload (count 16-bit samples, or the 16-bit calibration flag), and a
// 32-bit FNV-1a checksum of the block. A damaged block is skipped: recovery
// finds the next one by its marker and checksum, and its samples' places by
// their index. Version 1 (no marker, no index) is still read.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "recorder/byte_source.h"
#include "recorder/sample_document.h"

namespace recorder {

inline constexpr std::string_view kJournalExtension = ".osa.journal";

// The file operations a journal writes with; tests replace them to fill the
// disk, fail a sync or see which thread syncs. Each returns 0 or an error number.
struct JournalFileOps {
    std::function<int(int fd, const uint8_t* bytes, std::size_t size)> write;
    std::function<int(int fd)> sync;
    std::function<int(int fd, uint64_t size)> cutBack;  // truncates, and writes go on from there
};
// The system's calls, which a journal uses for any left empty.
JournalFileOps systemJournalOps();

// A journal left behind, held (locked) while its samples are recovered and
// unsaved, so that no other recorder offers it too.
class JournalHold {
  public:
    // Nothing when a running test, or another holder, has it.
    static std::unique_ptr<JournalHold> take(const std::filesystem::path& path);
    ~JournalHold();
    JournalHold(const JournalHold&) = delete;
    JournalHold& operator=(const JournalHold&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Lets the file go: deleted, or kept for a later recovery.
    void release(bool remove);

  private:
    JournalHold(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    std::filesystem::path path_;
    int fd_;
};

class Journal {
  public:
    // Creates the journal of `document` at `path`, a file that must not exist
    // yet (a journal is never overwritten); its samples so far are written by
    // the first flush. Nothing, and `error` says why, when the file cannot be made.
    static std::unique_ptr<Journal> create(const std::filesystem::path& path,
                                           const SampleDocument& document, std::string& error,
                                           JournalFileOps ops = {});
    // A new journal in `folder` for a test starting now ("test-SECONDS.osa.journal").
    static std::unique_ptr<Journal> createIn(const std::filesystem::path& folder,
                                             const SampleDocument& document, std::string& error,
                                             JournalFileOps ops = {});
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // The recovered journal this one takes over from: deleted once this one
    // holds every sample on the disk.
    void replaces(std::unique_ptr<JournalHold> previous);
    // A test starts: notes its calibration, then flushes at once and every
    // `interval` on a thread of its own until pause().
    void resume(std::chrono::milliseconds interval);
    // The test ended: the thread makes a last flush and ends; this returns at once.
    void pause();
    // The document was saved or deliberately dropped: the file goes.
    void remove();
    // Writes what the channels gained since the last flush and syncs the file.
    // After a failed write or sync, the file is first cut back to what the last
    // good sync left, and everything since is written again. False on failure.
    bool flush();

    struct Health {
        bool failing = false;  // the last flush failed; the next one retries
        std::string error;     // the system's reason of the last failure
        uint64_t failures = 0;
    };
    Health health() const;
    const std::filesystem::path& path() const { return path_; }

  private:
    Journal(std::filesystem::path path, int fd, const SampleDocument& document, JournalFileOps ops);
    // What the file holds up to an offset: the samples written of each
    // channel, and a calibration block still to be written.
    struct Mark {
        uint64_t end = 0;
        std::array<uint32_t, kChannelCount> written{};
        std::optional<uint16_t> calibration;
    };
    int writeBlock(uint8_t kind, uint8_t channel, uint32_t first, const uint16_t* values,
                   uint16_t count);
    bool failed(int error);
    void flushLoop(std::chrono::milliseconds interval);
    void join();

    std::filesystem::path path_;
    int fd_;
    const SampleDocument& document_;
    JournalFileOps ops_;
    mutable std::mutex mutex_;  // flush() from the thread and the owner
    Mark synced_;               // on the disk for sure
    Mark current_;              // written since
    bool cutBackFirst_ = false;
    Health health_;
    std::unique_ptr<JournalHold> replaced_;
    std::thread thread_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

// Journals in `folder` that no running test holds, newest first.
std::vector<std::filesystem::path> leftoverJournals(const std::filesystem::path& folder);
// True while a test (or a recovered document) holds the journal at `path`.
bool journalInUse(const std::filesystem::path& path);

struct JournalRecovery {
    std::unique_ptr<SampleDocument> document;  // nothing when the bytes are no journal
    std::string message;      // why not; or what could not be read (a damaged block, a torn end)
    uint64_t samples = 0;     // samples recovered, counted once for all channels
    uint64_t unreadable = 0;  // samples lost to damaged blocks, counted the same way
};
// A document from a journal, marked modified: its sums and extremes are
// recomputed from the samples. Samples of a damaged block keep their time:
// the gap holds the sample before it.
JournalRecovery recoverJournal(const std::filesystem::path& path);
JournalRecovery recoverJournal(ByteSource& source, const std::string& name);

}  // namespace recorder
