#include "simulator/simulated_device.h"

#include <chrono>
#include <filesystem>
#include <optional>

#include "common/user_folders.h"

namespace simulator {

SimulatedDevice::SimulatedDevice(std::shared_ptr<Instrument> instrument, std::string lockPath)
    : instrument_(std::move(instrument)), lockPath_(std::move(lockPath)) {}

std::string defaultSimulatorLockPath(std::string* problem) {
    std::string why;
    const std::optional<std::filesystem::path> folder = common::privateRuntimeFolder(why);
    if (problem) *problem = why;
    return folder ? (*folder / "ufcs-simulated-instrument.lock").string() : std::string();
}

bool SimulatedDevice::open() {
    close();
    if (!instrument_->plugged()) {
        setError("模拟仪器没有连接");
        return false;
    }
    if (lockPath_.empty()) {
        setError("没有只属于本用户的文件夹来放模拟仪器的锁文件");
        return false;
    }
    switch (lock_.take(lockPath_)) {
        case device::ExclusiveLock::Outcome::Taken:
            break;
        case device::ExclusiveLock::Outcome::Busy:
            setError("仪器正被其它程序使用");
            return false;
        case device::ExclusiveLock::Outcome::Unavailable:
            setError("无法使用仪器的锁文件：" + lock_.problem());
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
