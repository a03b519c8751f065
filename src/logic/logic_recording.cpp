#include "logic/logic_recording.h"

#include <algorithm>

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
    const bool current = changes.size() % 2 == 0 ? initial : !initial;
    if (level == current) return;
    if (!changes.empty() && sample == changes.back()) {
        changes.pop_back();  // changed back at the same moment: no change at all
        return;
    }
    changes.push_back(sample);
}

}  // namespace logic
