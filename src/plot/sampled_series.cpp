#include "plot/sampled_series.h"

#include <cstring>
#include <new>

namespace plot {

template <typename T, unsigned C, unsigned B, unsigned P>
T* StableChunks<T, C, B, P>::slotFor(uint64_t index) {
    if (index >= kCapacity) return nullptr;
    Table*& table = tables_[index >> (C + B)];
    if (!table) table = new (std::nothrow) Table;
    if (!table) return nullptr;
    T*& chunk = table->chunks[(index >> C) & kTableMask];
    if (!chunk) chunk = new (std::nothrow) T[kChunkSize];
    if (!chunk) return nullptr;
    return chunk + (index & kChunkMask);
}

template <typename T, unsigned C, unsigned B, unsigned P>
void StableChunks<T, C, B, P>::clear() {
    for (Table*& table : tables_) {
        if (!table) continue;
        for (T* chunk : table->chunks)
            delete[] chunk;
        delete table;
        table = nullptr;
    }
}

template <typename T, unsigned C, unsigned B, unsigned P>
std::size_t StableChunks<T, C, B, P>::bytes() const {
    std::size_t total = 0;
    for (const Table* table : tables_) {
        if (!table) continue;
        for (const T* chunk : table->chunks)
            total += chunk ? kChunkSize * sizeof(T) : 0;
    }
    return total;
}

// The two layouts the series uses.
template class StableChunks<uint16_t, 16, 8, 8>;
template class StableChunks<SampleRange, 12, 8, 7>;

void SampledSeries::clear() {
    samples_.clear();
    for (Blocks& level : levels_)
        level.clear();
    for (std::atomic<uint32_t>& count : levelCounts_)
        count.store(0, std::memory_order_release);
    reserved_ = 0;
    summarised_ = 0;
    summaryStalled_ = false;
    blockSummaryTime_ = {};
    count_.store(0, std::memory_order_release);
    sum_.store(0, std::memory_order_relaxed);
}

void SampledSeries::swap(SampledSeries& other) {
    samples_.swap(other.samples_);
    for (unsigned level = 0; level < kLevels; ++level) {
        levels_[level].swap(other.levels_[level]);
        const uint32_t blocks = levelCounts_[level].load();
        levelCounts_[level].store(other.levelCounts_[level].load(), std::memory_order_release);
        other.levelCounts_[level].store(blocks, std::memory_order_release);
    }
    std::swap(reserved_, other.reserved_);
    std::swap(summarised_, other.summarised_);
    std::swap(summaryStalled_, other.summaryStalled_);
    std::swap(blockSummaryTime_, other.blockSummaryTime_);
    const uint32_t count = count_.load();
    count_.store(other.count_.load(), std::memory_order_release);
    other.count_.store(count, std::memory_order_release);
    const double sum = this->sum();
    setSum(other.sum());
    other.setSum(sum);
    const SeriesExtremes extremes = this->extremes();
    setExtremes(other.extremes());
    other.setExtremes(extremes);
}

void SampledSeries::setExtremes(SeriesExtremes extremes) {
    maximum_.store(extremes.maximum, std::memory_order_relaxed);
    minimum_.store(extremes.minimum, std::memory_order_relaxed);
}

bool SampledSeries::reserve(uint32_t count) {
    const uint64_t end = uint64_t{count_.load(std::memory_order_relaxed)} + count;
    if (end >= kCapacity) return false;
    while (reserved_ < end) {
        if (!samples_.slotFor(reserved_)) return false;
        reserved_ = (reserved_ | (Samples::kChunkSize - 1)) + 1;
    }
    return true;
}

bool SampledSeries::append(uint16_t sample) {
    const uint32_t index = count_.load(std::memory_order_relaxed);
    if (index == std::numeric_limits<uint32_t>::max()) return false;
    uint16_t* slot = samples_.slotFor(index);
    if (!slot) return false;
    reserved_ = std::max<uint64_t>(reserved_, (uint64_t{index} | (Samples::kChunkSize - 1)) + 1);
    *slot = sample;
    // One writer: plain read-modify-write of the atomics is enough.
    sum_.store(sum_.load(std::memory_order_relaxed) + sample, std::memory_order_relaxed);
    if (sample > maximum_.load(std::memory_order_relaxed))
        maximum_.store(sample, std::memory_order_relaxed);
    if (sample < minimum_.load(std::memory_order_relaxed))
        minimum_.store(sample, std::memory_order_relaxed);
    count_.store(index + 1, std::memory_order_release);
    summariseUpTo(index + 1);
    return true;
}

bool SampledSeries::appendBlock(const uint16_t* samples, uint32_t count) {
    if (!reserve(count)) return false;
    uint32_t index = count_.load(std::memory_order_relaxed);
    while (count > 0) {
        const uint32_t room = Samples::kChunkSize - (index & (Samples::kChunkSize - 1));
        const uint32_t taken = std::min(room, count);
        std::memcpy(samples_.slotFor(index), samples, taken * sizeof(uint16_t));
        samples += taken;
        index += taken;
        count -= taken;
    }
    count_.store(index, std::memory_order_release);
    const auto start = std::chrono::steady_clock::now();
    summariseUpTo(index);
    blockSummaryTime_ += std::chrono::steady_clock::now() - start;
    return true;
}

void SampledSeries::summariseUpTo(uint32_t count) {
    constexpr uint32_t kBlock = 1u << kFirstBlockBits;
    while (!summaryStalled_ && count - summarised_ >= kBlock) {
        // A block never straddles a chunk: its samples lie side by side.
        const uint16_t* sample = &samples_.at(summarised_);
        SampleRange block;
        for (uint32_t i = 0; i < kBlock; ++i)
            block.take(sample[i]);
        addBlock(0, block);
        summarised_ += kBlock;
    }
}

void SampledSeries::addBlock(unsigned level, SampleRange block) {
    const uint32_t index = levelCounts_[level].load(std::memory_order_relaxed);
    SampleRange* slot = levels_[level].slotFor(index);
    if (!slot) {
        summaryStalled_ = true;  // readers fall back to the samples beyond what is summarised
        return;
    }
    *slot = block;
    levelCounts_[level].store(index + 1, std::memory_order_release);
    // Each completed pair makes a block of the next level.
    if (index % 2 == 1 && level + 1 < kLevels) {
        SampleRange pair = levels_[level].at(index - 1);
        pair.take(block);
        addBlock(level + 1, pair);
    }
}

SampleRange SampledSeries::range(uint32_t first, uint32_t last) const {
    SampleRange result;
    uint64_t at = first;
    while (at < last) {
        // The largest summarised block that starts here and ends in time.
        int chosen = -1;
        for (unsigned level = 0; level < kLevels; ++level) {
            const uint64_t size = uint64_t{1} << (kFirstBlockBits + level);
            if (at % size != 0 || at + size > last ||
                at / size >= levelCounts_[level].load(std::memory_order_acquire))
                break;
            chosen = static_cast<int>(level);
        }
        if (chosen < 0) {
            result.take(samples_.at(at));
            ++at;
            continue;
        }
        const uint64_t size = uint64_t{1} << (kFirstBlockBits + chosen);
        result.take(levels_[static_cast<std::size_t>(chosen)].at(at / size));
        at += size;
    }
    return result;
}

void SampledSeries::copy(uint32_t first, uint32_t count, uint16_t* out) const {
    while (count > 0) {
        const uint32_t room = Samples::kChunkSize - (first & (Samples::kChunkSize - 1));
        const uint32_t taken = std::min(room, count);
        std::memcpy(out, &samples_.at(first), taken * sizeof(uint16_t));
        out += taken;
        first += taken;
        count -= taken;
    }
}

std::size_t SampledSeries::summaryBytes() const {
    std::size_t total = 0;
    for (const Blocks& level : levels_)
        total += level.bytes();
    return total;
}

}  // namespace plot
