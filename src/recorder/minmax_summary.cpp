#include "recorder/minmax_summary.h"

namespace recorder {

void MinMaxSummary::clear() {
    levels_.clear();
}

void MinMaxSummary::catchUp(const SampleChannel& channel) {
    constexpr uint32_t kBlock = 1u << kFirstBlockBits;
    if (levels_.empty()) levels_.emplace_back();
    const uint32_t blocks = channel.count() / kBlock;
    while (levels_[0].size() < blocks) {
        const auto first = static_cast<uint32_t>(levels_[0].size() * kBlock);
        SampleRange block;
        for (uint32_t i = first; i < first + kBlock; ++i)
            block.take(channel.at(i));
        levels_[0].push_back(block);
        // Each completed pair makes a block of the next level.
        for (std::size_t level = 0; levels_[level].size() % 2 == 0; ++level) {
            if (level + 1 == levels_.size()) levels_.emplace_back();
            SampleRange pair = levels_[level][levels_[level].size() - 2];
            pair.take(levels_[level].back());
            levels_[level + 1].push_back(pair);
        }
    }
}

SampleRange MinMaxSummary::range(const SampleChannel& channel, uint32_t first,
                                 uint32_t last) const {
    SampleRange result;
    uint64_t at = first;
    while (at < last) {
        // The largest summarised block that starts here and ends in time.
        int chosen = -1;
        for (std::size_t level = 0; level < levels_.size(); ++level) {
            const uint64_t size = uint64_t{1} << (kFirstBlockBits + level);
            if (at % size != 0 || at + size > last || at / size >= levels_[level].size()) break;
            chosen = static_cast<int>(level);
        }
        if (chosen < 0) {
            result.take(channel.at(static_cast<uint32_t>(at)));
            ++at;
            continue;
        }
        const uint64_t size = uint64_t{1} << (kFirstBlockBits + chosen);
        result.take(levels_[static_cast<std::size_t>(chosen)][at / size]);
        at += size;
    }
    return result;
}

std::size_t MinMaxSummary::bytes() const {
    std::size_t total = 0;
    for (const auto& level : levels_)
        total += level.capacity() * sizeof(SampleRange);
    return total;
}

}  // namespace recorder
