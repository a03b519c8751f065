#pragma once
// The simulated instrument behind the device interface. It is held by one
// program at a time, like the real one, through its own lock file.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "device/exclusive_lock.h"
#include "device/hid_device.h"
#include "simulator/instrument.h"

namespace simulator {

class SimulatedDevice final : public device::HidDevice {
  public:
    SimulatedDevice(std::shared_ptr<Instrument> instrument, std::string lockPath);
    ~SimulatedDevice() override { close(); }

    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    int write(const uint8_t* buffer) override;
    int read(uint8_t* buffer) override;
    std::string errorText() const override;

    Instrument& instrument() { return *instrument_; }

  private:
    int checked(int result);
    void setError(std::string text);

    std::shared_ptr<Instrument> instrument_;
    std::string lockPath_;
    device::ExclusiveLock lock_;
    std::atomic<bool> open_{false};  // the worker reads it while the owner opens and closes
    mutable std::mutex errorMutex_;
    std::string errorText_;
};

// The lock file of the user's simulated instrument, in a folder that is theirs
// alone (each user simulates an instrument of their own); empty, with
// `problem` saying why, when there is no such folder.
std::string defaultSimulatorLockPath(std::string* problem = nullptr);

}  // namespace simulator
