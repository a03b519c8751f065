#pragma once
// The instrument as the programs see it: one 64-byte report per call; a read
// waits at most 300 ms (a write is bounded by the system's own USB time-out). Backends: the real
// instrument through hidapi, and the simulated one. Only one program can hold the instrument at a
// time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace device {

inline constexpr uint16_t kInstrumentVendorId = 0x5478;
inline constexpr uint16_t kInstrumentProductId = 0x2480;
// A report on the link: the report id byte, then the 64 report bytes.
inline constexpr std::size_t kLinkReportLength = 65;
inline constexpr int kWaitMilliseconds = 300;

// Results of write and read.
inline constexpr int kWritten = 0;         // the write completed
inline constexpr int kTimedOut = 258;      // nothing within the 300 ms wait
inline constexpr int kDataRead = 0x55555;  // a report was read
inline constexpr int kFailed = -1;         // the call failed; errorText() says why
inline constexpr int kRemoved = -2;        // the device has gone; the removal handler was called

class HidDevice {
  public:
    virtual ~HidDevice() = default;

    // Finds and opens the instrument; false when it is absent or held by another program.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Writes kLinkReportLength bytes from `buffer` (byte 0 the report id 0).
    virtual int write(const uint8_t* buffer) = 0;
    // Reads one report into `buffer` (kLinkReportLength bytes, the report id at byte 0).
    virtual int read(uint8_t* buffer) = 0;

    // Why the last call returned kFailed, as the system words it.
    virtual std::string errorText() const = 0;

    // Called (on the thread whose call noticed it) when the open device vanishes.
    void setRemovalHandler(std::function<void()> handler) { removalHandler_ = std::move(handler); }

  protected:
    void reportRemoval() const {
        if (removalHandler_) removalHandler_();
    }

  private:
    std::function<void()> removalHandler_;
};

// The real instrument, through hidapi; `lockFolder` holds the per-device lock files.
std::unique_ptr<HidDevice> makeHidapiDevice(const std::string& lockFolder);

}  // namespace device
