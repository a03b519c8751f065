#include "simulator/simulated_device.h"

#include <chrono>

namespace simulator {

SimulatedDevice::SimulatedDevice(std::shared_ptr<Instrument> instrument, std::string lockPath)
    : instrument_(std::move(instrument)), lockPath_(std::move(lockPath)) {}

std::string defaultSimulatorLockPath() {
    return device::defaultLockFolder() + "/ufcs-simulated-instrument.lock";
}

bool SimulatedDevice::open() {
    close();
    if (!instrument_->plugged()) {
        setError("the simulated instrument is unplugged");
        return false;
    }
    if (!lock_.acquire(lockPath_)) {
        setError("the simulated instrument is in use by another program");
        return false;
    }
    open_ = true;
    return true;
}

void SimulatedDevice::close() {
    open_ = false;
    lock_.release();
}

std::string SimulatedDevice::errorText() const {
    std::lock_guard lock(errorMutex_);
    return errorText_;
}

void SimulatedDevice::setError(std::string text) {
    std::lock_guard lock(errorMutex_);
    errorText_ = std::move(text);
}

int SimulatedDevice::checked(int result) {
    if (result == device::kRemoved) reportRemoval();
    return result;
}

int SimulatedDevice::write(const uint8_t* buffer) {
    if (!open_) {
        setError("write: the simulated instrument is not open");
        return device::kFailed;
    }
    return checked(instrument_->receive(buffer));
}

int SimulatedDevice::read(uint8_t* buffer) {
    if (!open_) {
        setError("read: the simulated instrument is not open");
        return device::kFailed;
    }
    return checked(
        instrument_->deliver(buffer, std::chrono::milliseconds(device::kWaitMilliseconds)));
}

}  // namespace simulator
