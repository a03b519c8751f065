#pragma once
// Scale tables: what one division of an axis is worth (volts, amperes,
// samples or packets) and how the plot names it, and the one rule both plots
// fit their data with.

#include <cstddef>
#include <span>
#include <string_view>

namespace plot {

struct Scale {
    double perDivision;
    std::string_view label;
};

enum class Holding {
    AtMost,  // the value may reach the last division's line
    Below,   // the value must stay under it
};

// The index of the finest scale of `table` whose `divisions` divisions hold
// `extent`; the coarsest when none does. The table may run either way.
std::size_t finestHolding(std::span<const Scale> table, double extent, double divisions,
                          Holding holding = Holding::AtMost);

// One step along a table from `index`, kept within it; false when the end held it.
bool stepScale(std::span<const Scale> table, int& index, int delta);

}  // namespace plot
