#include "recorder/sample_document.h"

#include <algorithm>
#include <vector>

namespace recorder {

plot::SeriesExtremes newDocumentExtremes(int channel) {
    plot::SeriesExtremes extremes;
    if (channel == 2 || channel == 3) extremes.maximum = 1;
    if (channel == 3) extremes.minimum = 10000;
    return extremes;
}

void SampleDocument::reset() {
    for (int c = 0; c < kChannelCount; ++c) {
        channel(c).clear();
        channel(c).setExtremes(newDocumentExtremes(c));
    }
}

void SampleDocument::takeFrom(SampleDocument& other) {
    for (int c = 0; c < kChannelCount; ++c)
        channel(c).swap(other.channel(c));
    period = other.period;
    currentCalibrated = other.currentCalibrated;
    modified.store(other.modified.load());
    displayName = other.displayName;
}

ChannelFlags SampleDocument::channelsHoldingSamples() const {
    ChannelFlags holding{};
    for (int c = 0; c < kChannelCount; ++c)
        holding[static_cast<std::size_t>(c)] = channel(c).count() > 0;
    return holding;
}

uint32_t SampleDocument::largestCount() const {
    uint32_t largest = 0;
    for (const plot::SampledSeries& each : channels_)
        largest = std::max(largest, each.count());
    return largest;
}

uint32_t SampleDocument::displayedCount() const {
    const uint32_t n = largestCount();
    return n > 4 ? n - 2 : 0;
}

bool SampleDocument::appendSample(uint16_t millivolts, uint16_t milliamps,
                                  const ChannelFlags& enabled) {
    bool taken = true;
    if (enabled[kVoltageChannel]) taken = channel(kVoltageChannel).append(millivolts) && taken;
    if (enabled[kCurrentChannel]) taken = channel(kCurrentChannel).append(milliamps) && taken;
    modified.store(true, std::memory_order_relaxed);
    return taken;
}

std::unique_ptr<SampleDocument> documentPart(const SampleDocument& whole, SampleSpan span) {
    auto part = std::make_unique<SampleDocument>();
    part->period = whole.period;
    part->currentCalibrated = whole.currentCalibrated;
    bool any = false;
    std::vector<uint16_t> block;
    for (int index = 0; index < kChannelCount; ++index) {
        const plot::SampledSeries& from = whole.channel(index);
        const uint32_t end = std::min(span.end, from.count());
        if (span.first >= end) continue;
        plot::SampledSeries& to = part->channel(index);
        if (!to.reserve(end - span.first)) return nullptr;
        // Blocks leave the sum and extremes to the caller: the part's own, as a recorded test's.
        plot::SeriesExtremes extremes = newDocumentExtremes(index);
        double sum = 0;
        for (uint32_t at = span.first; at < end;) {
            const uint32_t take = std::min<uint32_t>(end - at, 1u << 16);
            block.resize(take);
            for (uint32_t i = 0; i < take; ++i) {
                block[i] = from.at(at + i);
                sum += block[i];
                extremes.maximum = std::max<int32_t>(extremes.maximum, block[i]);
                extremes.minimum = std::min<int32_t>(extremes.minimum, block[i]);
            }
            if (!to.appendBlock(block.data(), take)) return nullptr;
            at += take;
        }
        to.setSum(sum);
        to.setExtremes(extremes);
        any = true;
    }
    if (!any) return nullptr;
    part->modified = true;
    return part;
}

std::string displayNameOf(const std::filesystem::path& path) {
    const std::u8string name = path.filename().u8string();
    const std::string text(name.begin(), name.end());
    return text.substr(0, text.find('.'));
}

}  // namespace recorder
