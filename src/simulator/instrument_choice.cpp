#include "simulator/instrument_choice.h"

#include <charconv>

#include "common/user_folders.h"
#include "device/tracing_device.h"
#include "simulator/simulated_device.h"

namespace simulator {

std::unique_ptr<device::ChoosingDevice> chooseInstruments(const InstrumentChoice& choice) {
    if (!choice.simulate)
        return std::make_unique<device::ChoosingDevice>(
            device::makeInstrumentCatalog(common::sharedLockFolder().string()), choice.device);
    std::vector<std::shared_ptr<Instrument>> instruments;
    for (unsigned i = 0; i < std::max(1u, choice.simulatedCount); ++i) {
        InstrumentSettings settings;
        settings.seed = choice.seed + i;  // each instrument's traffic its own
        for (const std::string& fault : choice.faults)
            applyFault(fault, settings);
        instruments.push_back(std::make_shared<Instrument>(settings));
    }
    return std::make_unique<device::ChoosingDevice>(
        std::make_shared<SimulatedCatalog>(std::move(instruments), simulatorLockFolder()),
        choice.device);
}

std::unique_ptr<device::ChoosingDevice> chooseInstruments(bool simulate, unsigned simulatedCount,
                                                          const std::string& device) {
    InstrumentChoice choice;
    choice.simulate = simulate;
    choice.simulatedCount = simulatedCount;
    choice.device = device;
    return chooseInstruments(choice);
}

std::unique_ptr<device::HidDevice> chooseInstrument(const InstrumentChoice& choice) {
    std::unique_ptr<device::HidDevice> device = chooseInstruments(choice);
    if (!choice.trace) return device;
    return std::make_unique<device::TracingDevice>(std::move(device), *choice.trace);
}

std::optional<unsigned> simulatedCountOf(const std::string& argument) {
    const std::string flag = "--simulate";
    if (argument == flag) return 1;
    if (!argument.starts_with(flag + "=")) return std::nullopt;
    const char* first = argument.data() + flag.size() + 1;
    const char* last = argument.data() + argument.size();
    unsigned count = 0;
    const auto [end, error] = std::from_chars(first, last, count);
    if (error != std::errc() || end != last || first == last || count < 1 ||
        count > kMostSimulatedInstruments)
        return std::nullopt;
    return count;
}

}  // namespace simulator
