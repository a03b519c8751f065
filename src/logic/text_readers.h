#pragma once
// Logic recordings written as text: a VCD (IEEE 1364 value change dump, as
// PulseView and many simulators and analyzers export it) and a CSV of
// samples or transitions (a time column in seconds, then one 0/1 column per
// channel, as common logic-analyzer software exports it). Both read a token
// or a line at a time: a file of any length costs only its edges, and a
// hostile one gets one message naming the file and what is wrong.

#include <istream>
#include <string>

#include "logic/logic_recording.h"

namespace logic {

// The one-bit variables become the channels, named by their reference (`D+`);
// the sample rate is one over the time scale. x and z keep a line's level.
LogicLoad readVcd(std::istream& in, const std::string& name);

// A first row of names (optional: else D0, D1, ...), lines starting with ';'
// or '#' skipped. Times may start anywhere (a trigger at 0 leaves earlier ones
// negative); they are kept to the nanosecond, counted from the first row.
LogicLoad readTransitionCsv(std::istream& in, const std::string& name);

}  // namespace logic
