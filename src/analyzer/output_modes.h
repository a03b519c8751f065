#pragma once
// Requests for an output mode of the charger, decided without a window: the
// limits a set-voltage form checks against, the mode a voltage-only request
// goes to, the typed-number check both send forms share, and the panel's row
// text of a mode.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "instrument/replies.h"

namespace analyzer {

// Written by the set-voltage form just before it asks for the pending request.
struct PendingOutputRequest {
    int mode = 1;
    int millivolts = 0;
    int milliamps = 0;
};

// What a set-voltage form accepts, in 10 mV and 10 mA units.
struct OutputLimits {
    int mode = 1;
    int minVoltage10mV = 0;
    int maxVoltage10mV = 0;
    int minCurrent10mA = 0;
    int maxCurrent10mA = 0;
};
// The limits of mode `index` (0-based) of the table.
OutputLimits modeLimits(const instrument::OutputCapabilityTable& table, int index);
// Voltage only: from the lowest minimum to the highest maximum of all modes
// (starting from 100.00 V down and 0 up, as the instrument's form does).
OutputLimits voltageOnlyLimits(const instrument::OutputCapabilityTable& table);
// The request for a voltage alone: the first mode whose maximum reaches it, at
// that mode's maximum current; mode 1 and no current when none does.
PendingOutputRequest voltageOnlyRequest(const instrument::OutputCapabilityTable& table,
                                        int millivolts);

// The output-modes panel's text of one mode.
std::string outputModeRowText(const instrument::OutputModeEntry& entry);
// The same as four cells for a table: the voltage range (V), the current range (A),
// the voltage step (mV) and the current step (mA).
std::array<std::string, 4> outputModeCells(const instrument::OutputModeEntry& entry);
inline constexpr std::array<std::string_view, 5> kOutputModeColumns = {"编号", "电压(V)", "电流(A)",
                                                                       "步进(mV)", "步进(mA)"};

}  // namespace analyzer
