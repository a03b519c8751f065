#include "plot/series_trace.h"

namespace plot {

int64_t ColumnMapping::columnOf(uint64_t sample) const {
    const double steps = static_cast<double>(sample) - static_cast<double>(base);
    return static_cast<int64_t>(std::floor(offset + steps * pixelsPerSample));
}

uint64_t ColumnMapping::firstSampleFrom(int64_t column) const {
    // An estimate from the inverse, then made exact against columnOf, which
    // is what the drawing follows.
    const double estimate =
        static_cast<double>(base) + (static_cast<double>(column) - offset) / pixelsPerSample;
    constexpr double kLargest = 9.0e15;  // well inside a double's whole numbers
    uint64_t sample = static_cast<uint64_t>(std::clamp(std::ceil(estimate), 0.0, kLargest));
    while (sample > 0 && columnOf(sample - 1) >= column)
        --sample;
    while (columnOf(sample) < column)
        ++sample;
    return sample;
}

int plotUnits(double value) {
    return static_cast<int>(std::lround(std::clamp(value, -1.0e9, 1.0e9)));
}

}  // namespace plot
