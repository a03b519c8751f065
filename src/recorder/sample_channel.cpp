#include "recorder/sample_channel.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace recorder {

SampleChannel::~SampleChannel() {
    clear();
}

void SampleChannel::clear() {
    for (Table*& table : tables_) {
        if (!table) continue;
        for (uint16_t* chunk : table->chunks)
            delete[] chunk;
        delete table;
        table = nullptr;
    }
    reserved_ = 0;
    count_.store(0, std::memory_order_release);
    sum_.store(0, std::memory_order_relaxed);
}

void SampleChannel::swap(SampleChannel& other) {
    std::swap(tables_, other.tables_);
    std::swap(reserved_, other.reserved_);
    const uint32_t count = count_.load();
    count_.store(other.count_.load(), std::memory_order_release);
    other.count_.store(count, std::memory_order_release);
    const double sum = this->sum();
    setSum(other.sum());
    other.setSum(sum);
    const ChannelExtremes extremes = this->extremes();
    setExtremes(other.extremes());
    other.setExtremes(extremes);
}

void SampleChannel::setExtremes(ChannelExtremes extremes) {
    maximum_.store(extremes.maximum, std::memory_order_relaxed);
    minimum_.store(extremes.minimum, std::memory_order_relaxed);
}

uint16_t* SampleChannel::slotFor(uint32_t index) {
    Table*& table = tables_[index >> (kChunkBits + kTableBits)];
    if (!table) table = new (std::nothrow) Table;
    if (!table) return nullptr;
    uint16_t*& chunk = table->chunks[(index >> kChunkBits) & kTableMask];
    if (!chunk) chunk = new (std::nothrow) uint16_t[kChunkSize];
    if (!chunk) return nullptr;
    if (index >= reserved_) reserved_ = (index | kChunkMask) + 1;
    return chunk + (index & kChunkMask);
}

bool SampleChannel::reserve(uint32_t count) {
    const uint64_t end = uint64_t{count_.load(std::memory_order_relaxed)} + count;
    if (end > std::numeric_limits<uint32_t>::max()) return false;
    while (reserved_ < end) {
        if (!slotFor(reserved_)) return false;
    }
    return true;
}

bool SampleChannel::append(uint16_t sample) {
    const uint32_t index = count_.load(std::memory_order_relaxed);
    if (index == std::numeric_limits<uint32_t>::max()) return false;
    uint16_t* slot = slotFor(index);
    if (!slot) return false;
    *slot = sample;
    // One writer: plain read-modify-write of the atomics is enough.
    sum_.store(sum_.load(std::memory_order_relaxed) + sample, std::memory_order_relaxed);
    if (sample > maximum_.load(std::memory_order_relaxed))
        maximum_.store(sample, std::memory_order_relaxed);
    if (sample < minimum_.load(std::memory_order_relaxed))
        minimum_.store(sample, std::memory_order_relaxed);
    count_.store(index + 1, std::memory_order_release);
    return true;
}

bool SampleChannel::appendBlock(const uint16_t* samples, uint32_t count) {
    if (!reserve(count)) return false;
    uint32_t index = count_.load(std::memory_order_relaxed);
    while (count > 0) {
        const uint32_t room = kChunkSize - (index & kChunkMask);
        const uint32_t taken = std::min(room, count);
        std::memcpy(slotFor(index), samples, taken * sizeof(uint16_t));
        samples += taken;
        index += taken;
        count -= taken;
    }
    count_.store(index, std::memory_order_release);
    return true;
}

void SampleChannel::copy(uint32_t first, uint32_t count, uint16_t* out) const {
    while (count > 0) {
        const uint32_t room = kChunkSize - (first & kChunkMask);
        const uint32_t taken = std::min(room, count);
        std::memcpy(out, address(first), taken * sizeof(uint16_t));
        out += taken;
        first += taken;
        count -= taken;
    }
}

}  // namespace recorder
