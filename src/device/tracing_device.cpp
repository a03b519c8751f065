#include "device/tracing_device.h"

#include <string>

namespace device {

TracingDevice::TracingDevice(HidDevice& inner, std::ostream& out)
    : inner_(inner), out_(out.rdbuf()) {
    inner_.setRemovalHandler([this] { reportRemoval(); });
}

TracingDevice::TracingDevice(std::unique_ptr<HidDevice> inner, std::ostream& out)
    : owned_(std::move(inner)), inner_(*owned_), out_(out.rdbuf()) {
    inner_.setRemovalHandler([this] { reportRemoval(); });
}

void TracingDevice::trace(const char* direction, const uint8_t* bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string line = direction;
    for (std::size_t i = 0; i < kLinkReportLength; ++i) {
        line += kDigits[bytes[i] >> 4];
        line += kDigits[bytes[i] & 0x0F];
        line += i + 1 < kLinkReportLength ? ' ' : '\n';
    }
    std::lock_guard lock(mutex_);
    out_.write(line.data(), static_cast<std::streamsize>(line.size()));
    out_.flush();
}

int TracingDevice::write(const uint8_t* buffer) {
    trace("> ", buffer);
    return inner_.write(buffer);
}

int TracingDevice::read(uint8_t* buffer) {
    const int result = inner_.read(buffer);
    if (result == kDataRead) trace("< ", buffer);
    return result;
}

}  // namespace device
