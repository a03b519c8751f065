#pragma once
// Minima and maxima of a channel over blocks of 2^k samples (32 and up), so a
// pixel column that covers many samples is drawn from a few blocks instead of
// every sample: a paint costs in proportion to the view's width, however long
// the recording. The window thread keeps it, catching up with the samples
// that arrived since its last paint; it costs about an eighth of the samples'
// own memory.

#include <cstdint>
#include <utility>
#include <vector>

#include "recorder/sample_channel.h"

namespace recorder {

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

class MinMaxSummary {
  public:
    static constexpr unsigned kFirstBlockBits = 5;

    // Summarises the blocks completed since the last call.
    void catchUp(const SampleChannel& channel);
    void clear();
    // Samples [first, last) of `channel` (last <= its count), first < last.
    SampleRange range(const SampleChannel& channel, uint32_t first, uint32_t last) const;
    std::size_t bytes() const;

  private:
    std::vector<std::vector<SampleRange>> levels_;  // level k: blocks of 2^(5+k) samples
};

}  // namespace recorder
