#pragma once
// One sampled series (a recording's voltage or current): unsigned 16-bit
// samples in arrival order, their running sum and extremes, and minima and
// maxima over blocks of 2^k samples (32 and up), so a pixel column that
// covers many samples is drawn from a few blocks instead of every sample: a
// paint costs in proportion to the view's width, however long the series.
//
// One thread writes (the sampler, a file loader) while others read (the
// window): samples and block summaries live in chunks that never move, the
// writer keeps the summaries as it appends, and each count is published with
// release order after what it counts is complete. A reader loads the counts
// and sees every sample and block below them without a lock; a block not yet
// summarised is read from the level below or from its samples. Clearing,
// swapping and the sum and extremes of a loaded file belong to the owner
// while nothing writes.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace plot {

struct SeriesExtremes {
    int32_t maximum = 0;
    int32_t minimum = std::numeric_limits<int32_t>::max();
};

struct SampleRange {
    uint16_t minimum = 0xFFFF;
    uint16_t maximum = 0;
    void take(uint16_t value) {
        minimum = std::min(minimum, value);
        maximum = std::max(maximum, value);
    }
    void take(const SampleRange& other) {
        minimum = std::min(minimum, other.minimum);
        maximum = std::max(maximum, other.maximum);
    }
};

// Elements in chunks of 2^ChunkBits that never move once made, found through
// two fixed tables: appended by one writer, read by any thread below a count
// published elsewhere.
template <typename T, unsigned ChunkBits, unsigned TableBits, unsigned TopBits>
class StableChunks {
  public:
    static constexpr uint64_t kCapacity = uint64_t{1} << (ChunkBits + TableBits + TopBits);
    static constexpr uint32_t kChunkSize = 1u << ChunkBits;

    StableChunks() = default;
    ~StableChunks() { clear(); }
    StableChunks(const StableChunks&) = delete;
    StableChunks& operator=(const StableChunks&) = delete;

    const T& at(uint64_t index) const {
        return tables_[index >> (ChunkBits + TableBits)]
            ->chunks[(index >> ChunkBits) & kTableMask][index & kChunkMask];
    }
    // Where element `index` goes, its chunk made when needed; null when
    // memory ran out or `index` is beyond the capacity.
    T* slotFor(uint64_t index);
    void clear();
    void swap(StableChunks& other) { std::swap(tables_, other.tables_); }
    std::size_t bytes() const;

  private:
    static constexpr uint64_t kChunkMask = kChunkSize - 1;
    static constexpr uint64_t kTableMask = (uint64_t{1} << TableBits) - 1;
    struct Table {
        std::array<T*, (1u << TableBits)> chunks{};
    };
    std::array<Table*, (1u << TopBits)> tables_{};
};

class SampledSeries {
  public:
    static constexpr unsigned kFirstBlockBits = 5;  // the smallest summarised block: 32 samples
    static constexpr uint64_t kCapacity = uint64_t{1} << 32;
    static constexpr unsigned kLevels = 32 - kFirstBlockBits;  // blocks of 2^5 .. 2^31 samples

    SampledSeries() = default;
    SampledSeries(const SampledSeries&) = delete;
    SampledSeries& operator=(const SampledSeries&) = delete;

    // Writer. False when the series is full or memory ran out; the sample is
    // then not counted.
    bool append(uint16_t sample);
    // Appends `count` samples at once and summarises them, leaving the sum
    // and extremes alone (a loaded file brings its own). False when memory
    // ran out.
    bool appendBlock(const uint16_t* samples, uint32_t count);
    // Makes room for `count` more samples ahead of time; false when it cannot.
    bool reserve(uint32_t count);
    // Owner, nothing writing: empties the series and frees its memory.
    void clear();
    // Owner, nothing writing to either: exchanges the two series.
    void swap(SampledSeries& other);

    // Any thread.
    uint32_t count() const { return count_.load(std::memory_order_acquire); }
    // Sample `index` < count().
    uint16_t at(uint32_t index) const { return samples_.at(index); }
    // Copies samples [first, first + count) into `out`.
    void copy(uint32_t first, uint32_t count, uint16_t* out) const;
    // The least and greatest of samples [first, last), last <= count(), first < last.
    SampleRange range(uint32_t first, uint32_t last) const;
    double sum() const { return sum_.load(std::memory_order_relaxed); }
    SeriesExtremes extremes() const {
        return {maximum_.load(std::memory_order_relaxed), minimum_.load(std::memory_order_relaxed)};
    }
    // A loaded file's or a new document's values.
    void setSum(double sum) { sum_.store(sum, std::memory_order_relaxed); }
    void setExtremes(SeriesExtremes extremes);
    // The summaries' memory (about an eighth of the samples').
    std::size_t summaryBytes() const;
    // Writer: the time appendBlock() spent summarising (what a loader adds
    // to its reading; the sampler's single samples are not timed).
    std::chrono::nanoseconds blockSummaryTime() const { return blockSummaryTime_; }

  private:
    using Samples = StableChunks<uint16_t, 16, 8, 8>;    // 2^32 samples, 128 KiB chunks
    using Blocks = StableChunks<SampleRange, 12, 8, 7>;  // 2^27 blocks, 16 KiB chunks

    // Summarises the blocks of 32 completed below `count`, and their pairs upwards.
    void summariseUpTo(uint32_t count);
    void addBlock(unsigned level, SampleRange block);

    Samples samples_;
    std::atomic<uint32_t> count_{0};
    uint64_t reserved_ = 0;  // samples with storage already made (writer side)
    std::array<Blocks, kLevels> levels_;
    std::array<std::atomic<uint32_t>, kLevels> levelCounts_{};
    uint32_t summarised_ = 0;      // samples whose 32-blocks are summarised (writer side)
    bool summaryStalled_ = false;  // memory ran out for a block: readers use what is there
    std::chrono::nanoseconds blockSummaryTime_{0};
    std::atomic<double> sum_{0};
    std::atomic<int32_t> maximum_{0};
    std::atomic<int32_t> minimum_{std::numeric_limits<int32_t>::max()};
};

}  // namespace plot
