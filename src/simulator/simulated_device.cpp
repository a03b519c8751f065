#include "simulator/simulated_device.h"

#include <chrono>
#include <filesystem>
#include <optional>

#include "common/format.h"
#include "common/user_folders.h"

namespace simulator {

SimulatedDevice::SimulatedDevice(std::shared_ptr<Instrument> instrument, std::string lockPath,
                                 device::AttachedInstrument identity)
    : instrument_(std::move(instrument)),
      lockPath_(std::move(lockPath)),
      identity_(std::move(identity)) {}

std::string simulatedSerial(std::size_t number) {
    return common::format("SIM%04u", static_cast<unsigned>(number));
}

std::string simulatorLockFolder(std::string* problem) {
    std::string why;
    const std::optional<std::filesystem::path> folder = common::privateRuntimeFolder(why);
    if (problem) *problem = why;
    return folder ? folder->string() : std::string();
}

std::string simulatorLockPath(const std::string& folder, const std::string& serial) {
    if (folder.empty()) return {};
    return (std::filesystem::path(folder) / ("ufcs-simulated-" + serial + ".lock")).string();
}

std::string defaultSimulatorLockPath(std::string* problem) {
    return simulatorLockPath(simulatorLockFolder(problem), simulatedSerial(1));
}

SimulatedCatalog::SimulatedCatalog(std::vector<std::shared_ptr<Instrument>> instruments,
                                   std::string lockFolder)
    : instruments_(std::move(instruments)), lockFolder_(std::move(lockFolder)) {}

std::vector<device::AttachedInstrument> SimulatedCatalog::attached() {
    std::vector<device::AttachedInstrument> listed;
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
        if (instruments_[i]->plugged())
            listed.push_back({"simulated:" + std::to_string(i + 1), simulatedSerial(i + 1)});
    }
    return listed;
}

std::unique_ptr<device::HidDevice> SimulatedCatalog::deviceFor(
    const device::AttachedInstrument& instrument) {
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
        if (instrument.serial == simulatedSerial(i + 1))
            return std::make_unique<SimulatedDevice>(
                instruments_[i], simulatorLockPath(lockFolder_, instrument.serial), instrument);
    }
    // Not one of ours: a device that finds nothing.
    auto absent = std::make_shared<Instrument>();
    absent->unplug();
    return std::make_unique<SimulatedDevice>(absent, std::string(), instrument);
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
            setError(device::kBusyText);
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
