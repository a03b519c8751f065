#pragma once
// All records of one capture, in one block allocated once for the whole run
// of the program, so capturing never allocates. The worker thread appends
// while the window thread reads: a record is complete before the count that
// covers it is published, and records below the count are never moved.

#include <atomic>
#include <cstdint>
#include <memory>

#include "ufcs/capture_record.h"

namespace ufcs {

class CaptureStore {
  public:
    static constexpr uint32_t kCapacity = 65536;
    // The block keeps four unused leading bytes before record 0.
    static constexpr std::size_t kBlockSize = 4 + static_cast<std::size_t>(kCapacity) * kRecordSize;

    // Allocates and zeroes the block; nullptr when the memory cannot be had.
    static std::unique_ptr<CaptureStore> create();

    CaptureStore(const CaptureStore&) = delete;
    CaptureStore& operator=(const CaptureStore&) = delete;

    CaptureRecord record(uint32_t index) { return CaptureRecord(recordBytes(index)); }
    ConstCaptureRecord record(uint32_t index) const {
        return ConstCaptureRecord(recordBytes(index));
    }
    uint8_t* recordBytes(uint32_t index) { return block_.get() + 4 + index * kRecordSize; }
    const uint8_t* recordBytes(uint32_t index) const {
        return block_.get() + 4 + index * kRecordSize;
    }

    // Records in use, the header record 0 included.
    uint32_t count() const { return count_.load(std::memory_order_acquire); }
    // Publishes a new count; every record below it must be complete.
    void setCount(uint32_t count) { count_.store(count, std::memory_order_release); }

  private:
    explicit CaptureStore(std::unique_ptr<uint8_t[]> block) : block_(std::move(block)) {}

    std::unique_ptr<uint8_t[]> block_;
    std::atomic<uint32_t> count_{0};
};

}  // namespace ufcs
