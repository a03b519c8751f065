#pragma once
// The recovery journal of a document while it holds unsaved samples: an
// append-only file that a crash, a kill or a power loss leaves behind with
// at most the last second missing, and that recoverJournal() turns back into
// a document.
//
// Layout (little-endian): "OSAJRNL1", version 1, the sampling period
// (double), then blocks: kind (1 = samples of one channel, 2 = the
// calibration of the test that follows), channel, count (16-bit), the
// payload (count 16-bit samples, or the 16-bit calibration flag), and a
// 32-bit FNV-1a checksum of the block. A torn last block is left out.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "recorder/byte_source.h"
#include "recorder/sample_document.h"

namespace recorder {

class Journal {
  public:
    // Creates (replacing) the journal of `document`; its samples so far are
    // written by the first flush. Nothing, and `error` says why, when the file
    // cannot be made.
    static std::unique_ptr<Journal> create(const std::filesystem::path& path,
                                           const SampleDocument& document, std::string& error);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // A test starts: notes its calibration, then flushes at once and every
    // `interval` on a thread of its own until pause(). False, with `error`,
    // when it cannot write.
    bool resume(std::chrono::milliseconds interval, std::string& error);
    // The test ended: a last flush, and the thread ends. The file stays.
    void pause();
    // The document was saved or deliberately dropped: the file goes.
    void remove();
    // Writes what the channels gained since the last flush and syncs the file.
    // False when a write failed (the reason in lastError()).
    bool flush();
    std::string lastError() const;
    const std::filesystem::path& path() const { return path_; }

  private:
    Journal(std::filesystem::path path, int fd, const SampleDocument& document);
    bool writeBlock(uint8_t kind, uint8_t channel, const uint16_t* values, uint16_t count);
    void flushLoop(std::chrono::milliseconds interval);

    std::filesystem::path path_;
    int fd_;
    const SampleDocument& document_;
    std::array<uint32_t, kChannelCount> written_{};
    mutable std::mutex mutex_;  // flush() from the thread and the owner
    std::string error_;
    std::thread thread_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

struct JournalRecovery {
    std::unique_ptr<SampleDocument> document;  // nothing when the bytes are no journal
    std::string message;                       // why not; or a note on a torn end
    uint64_t samples = 0;
};
// A document from a journal, marked modified: its sums and extremes are
// recomputed from the samples.
JournalRecovery recoverJournal(const std::filesystem::path& path);
JournalRecovery recoverJournal(ByteSource& source, const std::string& name);

}  // namespace recorder
