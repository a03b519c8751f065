#include "analyzer/output_modes.h"

#include <algorithm>
#include <charconv>

#include "common/format.h"

namespace analyzer {

OutputLimits modeLimits(const instrument::OutputCapabilityTable& table, int index) {
    const instrument::OutputModeEntry e = table.entry(index);
    return {index + 1, e.minVoltage10mV, e.maxVoltage10mV, e.minCurrent10mA, e.maxCurrent10mA};
}

OutputLimits voltageOnlyLimits(const instrument::OutputCapabilityTable& table) {
    OutputLimits limits{1, 10000, 0, 10000, 0};
    for (int i = 0; i < table.countedEntries(); ++i) {
        const instrument::OutputModeEntry e = table.entry(i);
        limits.minVoltage10mV = std::min<int>(limits.minVoltage10mV, e.minVoltage10mV);
        limits.maxVoltage10mV = std::max<int>(limits.maxVoltage10mV, e.maxVoltage10mV);
        limits.minCurrent10mA = std::min<int>(limits.minCurrent10mA, e.minCurrent10mA);
        limits.maxCurrent10mA = std::max<int>(limits.maxCurrent10mA, e.maxCurrent10mA);
    }
    return limits;
}

PendingOutputRequest voltageOnlyRequest(const instrument::OutputCapabilityTable& table,
                                        int millivolts) {
    PendingOutputRequest request{1, millivolts, 0};
    for (int i = 0; i < table.countedEntries(); ++i) {
        const instrument::OutputModeEntry e = table.entry(i);
        if (e.maxVoltage10mV * 10 >= millivolts) {
            request.milliamps = e.maxCurrent10mA * 10;
            request.mode = i + 1;
            break;
        }
    }
    return request;
}

std::string outputModeRowText(const instrument::OutputModeEntry& entry) {
    const int maxVoltage = entry.maxVoltage10mV;
    const int minVoltage = entry.minVoltage10mV;
    const int maxCurrent = entry.maxCurrent10mA;
    const int minCurrent = entry.minCurrent10mA;
    std::string lead = minVoltage < 1000 ? "  " : "";
    int firstGap = maxVoltage >= 1000 ? 7 : 9;
    int secondGap = maxCurrent >= 1000 ? 7 : 9;
    if (minVoltage >= 1000 && maxVoltage < 1000) {
        firstGap = 5;
        secondGap = 7;
    }
    return lead + common::format("%.2lf-%.2lf", minVoltage * 0.01, maxVoltage * 0.01) +
           std::string(firstGap, ' ') +
           common::format("%.2lf-%.2lf", minCurrent * 0.01, maxCurrent * 0.01) +
           std::string(secondGap, ' ') + common::format("%d", entry.voltageStepMillivolts()) +
           std::string(12, ' ') + common::format("%d", entry.currentStepMilliamps()) +
           std::string(7, ' ');
}

std::array<std::string, 4> outputModeCells(const instrument::OutputModeEntry& entry) {
    return {common::format("%.2lf-%.2lf", entry.minVoltage10mV * 0.01, entry.maxVoltage10mV * 0.01),
            common::format("%.2lf-%.2lf", entry.minCurrent10mA * 0.01, entry.maxCurrent10mA * 0.01),
            common::format("%d", entry.voltageStepMillivolts()),
            common::format("%d", entry.currentStepMilliamps())};
}

}  // namespace analyzer
