#pragma once
// A series drawn across a plot's pixel columns: each column keeps its first,
// lowest, highest and last sample (read from the series' summaries when the
// column holds many), so a trace costs in proportion to the plot's width
// however many samples it spans, and covers the same pixels as a line through
// every sample.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "plot/plot_frame.h"
#include "plot/sampled_series.h"

namespace plot {

// Sample i lies in plot column floor(offset + (i - base) * pixelsPerSample).
struct ColumnMapping {
    uint64_t base = 0;
    double offset = 0;
    double pixelsPerSample = 1;  // > 0

    int64_t columnOf(uint64_t sample) const;
    // The first sample in `column` or right of it.
    uint64_t firstSampleFrom(int64_t column) const;
};

// Plot units are ints; a sample far off the plot is pinned well outside it.
int plotUnits(double value);

// The points of samples [first, end) of `series` that fall in columns
// [fromColumn, toColumn), with the nearest sample beyond each end so the line
// runs on to the plot's edges. `height` maps a sample to plot units and must
// not fall as the sample rises.
template <typename Height>
void traceSeries(const SampledSeries& series, uint32_t first, uint32_t end,
                 const ColumnMapping& columns, int64_t fromColumn, int64_t toColumn, Height height,
                 std::vector<Point>& out) {
    end = std::min(end, series.count());
    if (first >= end || fromColumn >= toColumn) return;
    const uint64_t from = std::max<uint64_t>(first, columns.firstSampleFrom(fromColumn));
    const uint64_t to = std::min<uint64_t>(end, columns.firstSampleFrom(toColumn));
    ColumnReducer reducer(out);
    auto add = [&](int64_t column, uint16_t sample) {
        reducer.add(static_cast<int>(std::clamp<int64_t>(column, -(1 << 30), 1 << 30)),
                    height(sample));
    };
    if (const uint64_t left = std::min<uint64_t>(from, end); left > first)
        add(columns.columnOf(left - 1), series.at(static_cast<uint32_t>(left - 1)));
    constexpr uint64_t kReadEach = 8;  // below this a column's samples are read one by one
    for (uint64_t sample = from; sample < to;) {
        const int64_t column = columns.columnOf(sample);
        const uint64_t next =
            std::clamp<uint64_t>(columns.firstSampleFrom(column + 1), sample + 1, to);
        if (next - sample <= kReadEach) {
            for (uint64_t i = sample; i < next; ++i)
                add(column, series.at(static_cast<uint32_t>(i)));
        } else {
            const SampleRange range =
                series.range(static_cast<uint32_t>(sample), static_cast<uint32_t>(next));
            add(column, series.at(static_cast<uint32_t>(sample)));
            add(column, range.minimum);
            add(column, range.maximum);
            add(column, series.at(static_cast<uint32_t>(next - 1)));
        }
        sample = next;
    }
    if (const uint64_t right = std::max(to, from); right < end)
        add(columns.columnOf(right), series.at(static_cast<uint32_t>(right)));
    reducer.flush();
}

}  // namespace plot
