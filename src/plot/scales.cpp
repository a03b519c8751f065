#include "plot/scales.h"

namespace plot {

std::size_t finestHolding(std::span<const Scale> table, double extent, double divisions,
                          Holding holding) {
    std::size_t chosen = 0;
    bool found = false;
    std::size_t coarsest = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double reach = table[i].perDivision * divisions;
        const bool holds = holding == Holding::AtMost ? extent <= reach : extent < reach;
        if (holds && (!found || table[i].perDivision < table[chosen].perDivision)) {
            chosen = i;
            found = true;
        }
        if (table[i].perDivision > table[coarsest].perDivision) coarsest = i;
    }
    return found ? chosen : coarsest;
}

bool stepScale(std::span<const Scale> table, int& index, int delta) {
    const int next = index + delta;
    if (next < 0 || next >= static_cast<int>(table.size())) return false;
    index = next;
    return true;
}

}  // namespace plot
