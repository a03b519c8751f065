#pragma once
// The instrument a program opens: the real one through hidapi, or, with
// `--simulate`, a simulated one of its own; traced report by report when
// asked. Every program and command chooses through this one function.

#include <cstdint>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "device/hid_device.h"

namespace simulator {

struct InstrumentChoice {
    bool simulate = false;
    std::ostream* trace = nullptr;  // every report written and read, when set
    uint32_t seed = static_cast<uint32_t>(std::time(nullptr));  // the simulated traffic's
    std::vector<std::string> faults =
        {};  // for the simulated instrument, as applyFault() takes them
};

std::unique_ptr<device::HidDevice> chooseInstrument(const InstrumentChoice& choice);

}  // namespace simulator
