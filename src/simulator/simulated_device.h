#pragma once
// The simulated instrument behind the device interface. It is held by one
// program at a time, like the real one, through its own lock file.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/exclusive_lock.h"
#include "device/hid_device.h"
#include "device/instrument_catalog.h"
#include "simulator/instrument.h"

namespace simulator {

class SimulatedDevice final : public device::HidDevice {
  public:
    SimulatedDevice(std::shared_ptr<Instrument> instrument, std::string lockPath,
                    device::AttachedInstrument identity = {});
    ~SimulatedDevice() override { close(); }

    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    int write(const uint8_t* buffer) override;
    int read(uint8_t* buffer) override;
    std::string errorText() const override;
    device::AttachedInstrument identity() const override { return identity_; }

    Instrument& instrument() { return *instrument_; }

  private:
    int checked(int result);
    void setError(std::string text);

    std::shared_ptr<Instrument> instrument_;
    std::string lockPath_;
    const device::AttachedInstrument identity_;
    device::ExclusiveLock lock_;
    std::atomic<bool> open_{false};  // the worker reads it while the owner opens and closes
    mutable std::mutex errorMutex_;
    std::string errorText_;
};

// The serial number of the `number`th simulated instrument (from 1): "SIM0001".
std::string simulatedSerial(std::size_t number);

// The folder of the user's simulated instruments' locks, theirs alone (each
// user simulates instruments of their own); empty, with `problem` saying why,
// when there is no such folder.
std::string simulatorLockFolder(std::string* problem = nullptr);
// The lock file of the simulated instrument with `serial` in `folder`.
std::string simulatorLockPath(const std::string& folder, const std::string& serial);
// The lock of the user's first simulated instrument.
std::string defaultSimulatorLockPath(std::string* problem = nullptr);

// Simulated instruments as a catalog: each with its serial number and a
// lock of its own, so that programs running side by side, each simulating
// the same instruments, take different ones. An unplugged one is not listed.
class SimulatedCatalog final : public device::InstrumentCatalog {
  public:
    SimulatedCatalog(std::vector<std::shared_ptr<Instrument>> instruments, std::string lockFolder);

    std::vector<device::AttachedInstrument> attached() override;
    std::unique_ptr<device::HidDevice> deviceFor(
        const device::AttachedInstrument& instrument) override;

    std::size_t size() const { return instruments_.size(); }
    Instrument& instrument(std::size_t index) { return *instruments_.at(index); }

  private:
    const std::vector<std::shared_ptr<Instrument>> instruments_;
    const std::string lockFolder_;
};

}  // namespace simulator
