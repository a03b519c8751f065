#pragma once
// One channel of a recording: unsigned 16-bit samples in arrival order, with
// their running sum and the channel's extremes.
//
// One thread appends (the sampler) while another reads (the window): samples
// live in chunks that never move once written, and the count is published
// with release order after the sample is complete, so a reader that loads the
// count sees every sample below it without a lock. Clearing, and loading a
// whole file, happen only while nothing appends.

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>

namespace recorder {

struct ChannelExtremes {
    int32_t maximum = 0;
    int32_t minimum = std::numeric_limits<int32_t>::max();
};

class SampleChannel {
  public:
    static constexpr unsigned kChunkBits = 16;  // 65,536 samples (128 KiB) a chunk
    static constexpr unsigned kTableBits = 8;   // 256 chunks a table
    static constexpr uint64_t kCapacity = uint64_t{1} << (kChunkBits + 2 * kTableBits);

    SampleChannel() = default;
    ~SampleChannel();
    SampleChannel(const SampleChannel&) = delete;
    SampleChannel& operator=(const SampleChannel&) = delete;

    // Sampler thread. False when the channel is full or memory ran out; the
    // sample is then not counted.
    bool append(uint16_t sample);
    // Appends `count` samples at once, leaving the sum and extremes alone (a
    // loaded file brings its own). False when memory ran out.
    bool appendBlock(const uint16_t* samples, uint32_t count);
    // Makes room for `count` more samples ahead of time; false when it cannot.
    bool reserve(uint32_t count);
    // Owner thread, nothing appending: empties the channel and frees its memory.
    void clear();
    // Owner thread, nothing appending to either: exchanges the two channels' samples.
    void swap(SampleChannel& other);

    // Any thread.
    uint32_t count() const { return count_.load(std::memory_order_acquire); }
    // Sample `index` < count().
    uint16_t at(uint32_t index) const { return *address(index); }
    // Copies samples [first, first + count) into `out`.
    void copy(uint32_t first, uint32_t count, uint16_t* out) const;
    double sum() const { return sum_.load(std::memory_order_relaxed); }
    ChannelExtremes extremes() const {
        return {maximum_.load(std::memory_order_relaxed), minimum_.load(std::memory_order_relaxed)};
    }
    // A loaded file's or a new document's values.
    void setSum(double sum) { sum_.store(sum, std::memory_order_relaxed); }
    void setExtremes(ChannelExtremes extremes);

  private:
    static constexpr uint32_t kChunkSize = 1u << kChunkBits;
    static constexpr uint32_t kChunkMask = kChunkSize - 1;
    static constexpr uint32_t kTableMask = (1u << kTableBits) - 1;
    struct Table {
        std::array<uint16_t*, 1u << kTableBits> chunks{};
    };
    const uint16_t* address(uint32_t index) const {
        return tables_[index >> (kChunkBits + kTableBits)]
                   ->chunks[(index >> kChunkBits) & kTableMask] +
               (index & kChunkMask);
    }
    // Where sample `index` goes, made when it is the first of its chunk.
    uint16_t* slotFor(uint32_t index);

    std::array<Table*, 1u << kTableBits> tables_{};
    std::atomic<uint32_t> count_{0};
    uint32_t reserved_ = 0;  // samples with storage already made (sampler side)
    std::atomic<double> sum_{0};
    std::atomic<int32_t> maximum_{0};
    std::atomic<int32_t> minimum_{std::numeric_limits<int32_t>::max()};
};

}  // namespace recorder
