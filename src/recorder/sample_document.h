#pragma once
// The recorder's document: the eight sample channels of one test (channel 0
// voltage in mV, channel 2 current in mA, the others empty in this program),
// the sampling period, whether the currents were calibrated, and whether it
// holds samples nobody saved.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "plot/sampled_series.h"

namespace recorder {

inline constexpr int kChannelCount = 8;
inline constexpr int kVoltageChannel = 0;
inline constexpr int kCurrentChannel = 2;
inline constexpr double kSamplingPeriodSeconds = 0.1;
using ChannelFlags = std::array<bool, kChannelCount>;

// Samples [first, end) of a test; the whole test by default.
struct SampleSpan {
    uint32_t first = 0;
    uint32_t end = UINT32_MAX;
};

// A new document's extremes: maxima 0 (channels 2 and 3: 1), minima the
// largest 32-bit value (channel 3: 10000).
plot::SeriesExtremes newDocumentExtremes(int channel);

class SampleDocument {
  public:
    SampleDocument() { reset(); }
    SampleDocument(const SampleDocument&) = delete;
    SampleDocument& operator=(const SampleDocument&) = delete;

    plot::SampledSeries& channel(int index) { return channels_[static_cast<std::size_t>(index)]; }
    const plot::SampledSeries& channel(int index) const {
        return channels_[static_cast<std::size_t>(index)];
    }

    // Owner thread, nothing sampling: empties every channel and resets the
    // extremes, as a new document.
    void reset();

    // Owner thread, nothing sampling: takes `other`'s samples and values (a
    // loaded or recovered document), leaving it this one's.
    void takeFrom(SampleDocument& other);

    // The largest sample count over the channels, n.
    uint32_t largestCount() const;
    // The channels that hold samples: a continued test records into these, so
    // they stay the same length (a loaded file's, whatever the settings say).
    ChannelFlags channelsHoldingSamples() const;
    // What the view and the test run show: n - 2 when n > 4, else 0 (the two
    // newest samples are never shown).
    uint32_t displayedCount() const;

    // Sampler thread: one sample into the enabled channels. False when a
    // channel could take no more (memory, or the 32-bit count).
    bool appendSample(uint16_t millivolts, uint16_t milliamps, const ChannelFlags& enabled);

    double period = kSamplingPeriodSeconds;
    uint16_t currentCalibrated = 1;
    std::atomic<bool> modified{false};
    std::string displayName = "无标题";

  private:
    std::array<plot::SampledSeries, kChannelCount> channels_;
};

// Samples [first, end) of every channel as a test of its own, with the period and the
// calibration of `whole`; nothing when the span holds no sample or memory runs out.
// Owner thread, nothing sampling.
std::unique_ptr<SampleDocument> documentPart(const SampleDocument& whole, SampleSpan span);

// The file name without its folder, cut at its first '.'.
std::string displayNameOf(const std::filesystem::path& path);

}  // namespace recorder
