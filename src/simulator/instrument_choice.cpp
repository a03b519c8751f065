#include "simulator/instrument_choice.h"

#include "common/user_folders.h"
#include "device/tracing_device.h"
#include "simulator/simulated_device.h"

namespace simulator {

std::unique_ptr<device::HidDevice> chooseInstrument(const InstrumentChoice& choice) {
    std::unique_ptr<device::HidDevice> device;
    if (choice.simulate) {
        InstrumentSettings settings;
        settings.seed = choice.seed;
        for (const std::string& fault : choice.faults)
            applyFault(fault, settings);
        device = std::make_unique<SimulatedDevice>(std::make_shared<Instrument>(settings),
                                                   defaultSimulatorLockPath());
    } else {
        device = device::makeInstrumentDevice(common::sharedLockFolder().string());
    }
    if (!choice.trace) return device;
    return std::make_unique<device::TracingDevice>(std::move(device), *choice.trace);
}

}  // namespace simulator
