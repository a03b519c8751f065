#pragma once
// The instrument a program opens: a real one through hidapi, or, with
// `--simulate[=N]`, one of N simulated instruments of its own; the one
// `--device` names, or else the first no other program holds; traced report
// by report when asked. Every program and command chooses through here.

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "device/hid_device.h"
#include "device/instrument_catalog.h"

namespace simulator {

using device::kMostSimulatedInstruments;

struct InstrumentChoice {
    bool simulate = false;
    unsigned simulatedCount = 1;    // how many simulated instruments are attached
    std::string device;             // a serial number or a path; empty: the first free one
    std::ostream* trace = nullptr;  // every report written and read, when set
    uint32_t seed = static_cast<uint32_t>(std::time(nullptr));  // the simulated traffic's
    std::vector<std::string> faults =
        {};  // for every simulated instrument, as applyFault() takes them
};

// The device a program holds, choosing among the attached instruments.
std::unique_ptr<device::ChoosingDevice> chooseInstruments(const InstrumentChoice& choice);
// The same for a window's command line: simulated or real, how many, which one.
std::unique_ptr<device::ChoosingDevice> chooseInstruments(bool simulate, unsigned simulatedCount,
                                                          const std::string& device);
// The same, traced when `choice.trace` is set.
std::unique_ptr<device::HidDevice> chooseInstrument(const InstrumentChoice& choice);

// How many simulated instruments `--simulate` or `--simulate=N` asks for;
// nothing for another word or a count outside 1...kMostSimulatedInstruments.
std::optional<unsigned> simulatedCountOf(const std::string& argument);

}  // namespace simulator
