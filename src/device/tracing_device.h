#pragma once
// A device that prints every report it writes ("> ") and reads ("< ") as hex
// bytes, report id first, one report a line, and passes everything through.
// It writes each line whole, through a stream object of its own over the
// given stream's buffer: the owner may write to that stream meanwhile, and a
// buffer that locks (cli::LockedStreambuf) keeps the lines whole.

#include <memory>
#include <mutex>
#include <ostream>

#include "device/hid_device.h"

namespace device {

class TracingDevice final : public HidDevice {
  public:
    TracingDevice(HidDevice& inner, std::ostream& out);
    // The same, owning the device it traces.
    TracingDevice(std::unique_ptr<HidDevice> inner, std::ostream& out);

    bool open() override { return inner_.open(); }
    void close() override { inner_.close(); }
    bool isOpen() const override { return inner_.isOpen(); }
    int write(const uint8_t* buffer) override;
    int read(uint8_t* buffer) override;
    std::string errorText() const override { return inner_.errorText(); }
    AttachedInstrument identity() const override { return inner_.identity(); }
    std::vector<AttachedInstrument> passedOver() const override { return inner_.passedOver(); }

  private:
    void trace(const char* direction, const uint8_t* bytes);

    std::unique_ptr<HidDevice> owned_;
    HidDevice& inner_;
    std::ostream out_;
    std::mutex mutex_;  // the worker reads while the owner writes
};

}  // namespace device
