#include "logic/logic_recording.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>

#include "common/format.h"

namespace logic {

bool DigitalChannel::levelAt(uint64_t sample) const {
    const auto passed = std::upper_bound(changes.begin(), changes.end(), sample) - changes.begin();
    return (passed % 2 == 0) == initial;
}

std::optional<uint64_t> DigitalChannel::nextChangeAfter(uint64_t sample) const {
    const auto next = std::upper_bound(changes.begin(), changes.end(), sample);
    if (next == changes.end()) return std::nullopt;
    return *next;
}

void DigitalChannel::see(uint64_t sample, bool level) {
    if (level == lastLevel()) return;
    if (!changes.empty() && sample == changes.back()) {
        changes.pop_back();  // changed back at the same moment: no change at all
        return;
    }
    changes.push_back(sample);
}

void DigitalChannel::driveAt(double sampleRate, double seconds, bool level) {
    const double position = std::round(seconds * sampleRate);
    uint64_t sample = position > 0 ? static_cast<uint64_t>(std::min(position, 1.8e19)) : 0;
    if (!changes.empty()) sample = std::max(sample, changes.back());
    see(sample, level);
}

std::optional<double> AnalogChannel::valueAt(double seconds) const {
    if (!(seconds >= 0) || points.empty()) return std::nullopt;
    const double position = seconds * pointsPerSecond;
    if (position >= static_cast<double>(points.size())) return std::nullopt;
    return points[static_cast<std::size_t>(position)];
}

bool ReadTally::add(uint64_t bytes) {
    constexpr uint64_t kTellEvery = 1 << 20;
    done_ += bytes;
    if (progress_ && !stopped_ && done_ - told_ >= kTellEvery) {
        told_ = done_;
        stopped_ = !progress_(done_, std::max(total_, done_));
    }
    return !stopped_;
}

std::optional<double> parseSampleRate(std::string_view text) {
    std::size_t used = 0;
    const std::optional<double> number = common::readNumber(text, &used);
    if (!number || !(*number > 0)) return std::nullopt;
    std::string_view unit = text.substr(used);
    while (!unit.empty() && std::isspace(static_cast<unsigned char>(unit.front())))
        unit.remove_prefix(1);
    while (!unit.empty() && std::isspace(static_cast<unsigned char>(unit.back())))
        unit.remove_suffix(1);
    static const std::map<std::string_view, double> kUnits = {
        {"Hz", 1}, {"kHz", 1e3}, {"MHz", 1e6}, {"GHz", 1e9}, {"", 1}};
    const auto found = kUnits.find(unit);
    if (found == kUnits.end()) return std::nullopt;
    const double rate = *number * found->second;
    if (rate > kHighestSampleRate) return std::nullopt;
    return rate;
}

}  // namespace logic
