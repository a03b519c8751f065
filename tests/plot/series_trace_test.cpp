#include "plot/series_trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

#include "plot/scales.h"

namespace {

// What a column shows: the first and last point drawn in it, and the span between its extremes.
struct ColumnLook {
    int first = 0, last = 0, low = 0, high = 0;
    bool operator==(const ColumnLook&) const = default;
};

std::map<int, ColumnLook> looksOf(const std::vector<plot::Point>& points) {
    std::map<int, ColumnLook> looks;
    for (const plot::Point& point : points) {
        auto [at, fresh] =
            looks.try_emplace(point.x, ColumnLook{point.y, point.y, point.y, point.y});
        if (fresh) continue;
        ColumnLook& look = at->second;
        look.last = point.y;
        look.low = std::min(look.low, point.y);
        look.high = std::max(look.high, point.y);
    }
    return looks;
}

// Every sample of [first, end) through a column reducer, with the nearest
// sample beyond each end of the column window: the plain way, to check against.
std::vector<plot::Point> plainTrace(const plot::SampledSeries& series, uint32_t first, uint32_t end,
                                    const plot::ColumnMapping& columns, int64_t from, int64_t to,
                                    int scale) {
    std::vector<int64_t> inside;
    for (uint32_t i = first; i < end; ++i) {
        if (columns.columnOf(i) >= from && columns.columnOf(i) < to) inside.push_back(i);
    }
    std::vector<plot::Point> points;
    plot::ColumnReducer reducer(points);
    auto add = [&](int64_t i) {
        reducer.add(static_cast<int>(columns.columnOf(static_cast<uint64_t>(i))),
                    series.at(static_cast<uint32_t>(i)) / scale);
    };
    int64_t before = -1, after = -1;
    for (uint32_t i = first; i < end; ++i) {
        if (columns.columnOf(i) < from) before = i;
        if (columns.columnOf(i) >= to && after < 0) after = i;
    }
    if (before >= 0) add(before);
    for (const int64_t i : inside)
        add(i);
    if (after >= 0) add(after);
    reducer.flush();
    return points;
}

TEST(SeriesTrace, ColumnsShowWhatEverySampleWouldShow) {
    std::mt19937 random(11);
    plot::SampledSeries series;
    for (int i = 0; i < 200'000; ++i)
        series.append(
            static_cast<uint16_t>(20'000 + 8'000 * std::sin(i / 5'000.0) + random() % 900));
    struct Case {
        const char* name;
        plot::ColumnMapping columns;
        uint32_t first, end;
        int64_t from, to;
    };
    const Case cases[] = {
        {"2H/DIV, whole series", {0, 0, 1.0 / 1200}, 0, 200'000, 0, 1170},
        {"30S/DIV scrolled by a fraction", {0, -197.99999999999997, 0.2}, 0, 200'000, 0, 1170},
        {"1S/DIV: samples six pixels apart", {0, -3'000.5, 6}, 0, 200'000, 0, 1170},
        {"two samples a pixel", {0, -10'000, 0.5}, 0, 200'000, 0, 1170},
        {"packets: 500 a division from record 1", {1, 0, 0.1}, 1, 11'001, 0, 1101},
        {"packets: 20 a division, scrolled", {6'000, 0, 2.5}, 6'000, 6'441, 0, 1101},
        {"a window past the end", {0, -50'000, 1}, 0, 200'000, 0, 1000},
        {"a window before the start", {0, 500, 1}, 0, 200'000, 0, 300},
        {"an empty range", {0, 0, 1}, 500, 500, 0, 1000},
    };
    for (const Case& c : cases) {
        std::vector<plot::Point> traced;
        plot::traceSeries(
            series, c.first, c.end, c.columns, c.from, c.to,
            [](uint16_t sample) { return sample / 7; }, traced);
        const std::vector<plot::Point> plain =
            plainTrace(series, c.first, c.end, c.columns, c.from, c.to, 7);
        EXPECT_EQ(looksOf(traced), looksOf(plain)) << c.name;
        // A column's extremes are all a trace adds: never more than four points a column.
        EXPECT_LE(traced.size(), 4 * looksOf(traced).size()) << c.name;
    }
}

TEST(SeriesTrace, FirstSampleFromAgreesWithColumnOf) {
    const plot::ColumnMapping mappings[] = {
        {0, 0, 1.0 / 1200}, {0, -197.99999999999997, 0.2}, {0, 12.5, 6}, {7, 3, 0.1}, {1, 50, 50}};
    for (const plot::ColumnMapping& columns : mappings) {
        for (int64_t column = -40; column < 1300; column += 7) {
            const uint64_t sample = columns.firstSampleFrom(column);
            EXPECT_GE(columns.columnOf(sample), column) << column;
            if (sample > 0) {
                EXPECT_LT(columns.columnOf(sample - 1), column) << column;
            }
        }
    }
}

TEST(Scales, TheFinestScaleThatHoldsTheExtent) {
    const plot::Scale rising[] = {{0.1, "0.1"}, {0.2, "0.2"}, {0.5, "0.5"}, {1, "1"}};
    const plot::Scale falling[] = {{600, "1M"}, {300, "30S"}, {60, "6S"}, {10, "1S"}};
    struct Case {
        std::span<const plot::Scale> table;
        double extent, divisions;
        plot::Holding holding;
        std::size_t expected;
    };
    const Case cases[] = {
        {rising, 0.0, 5, plot::Holding::AtMost, 0},
        {rising, 0.5, 5, plot::Holding::AtMost, 0},  // reaching the top line is enough
        {rising, 0.5, 5, plot::Holding::Below, 1},   // unless it must stay under it
        {rising, 0.51, 5, plot::Holding::AtMost, 1},
        {rising, 4.9, 5, plot::Holding::AtMost, 3},
        {rising, 900, 5, plot::Holding::AtMost, 3},    // nothing holds it: the coarsest
        {falling, 190, 19, plot::Holding::AtMost, 3},  // the table may run from coarse to fine
        {falling, 191, 19, plot::Holding::AtMost, 2},
        {falling, 1e9, 19, plot::Holding::AtMost, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plot::finestHolding(c.table, c.extent, c.divisions, c.holding), c.expected)
            << c.extent << " in " << c.divisions;

    int index = 0;
    EXPECT_FALSE(plot::stepScale(rising, index, -1));
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(plot::stepScale(rising, index, 3));
    EXPECT_FALSE(plot::stepScale(rising, index, 1));
    EXPECT_EQ(index, 3);
}

}  // namespace
