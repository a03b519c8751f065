#pragma once
// The instrument as the programs see it: one 64-byte report per call; a read
// waits at most 300 ms (a write is bounded by the system's own USB time-out). Backends: the real
// instrument through hidapi, and the simulated one. Only one program can hold the instrument at a
// time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

// What open() says when another program holds the instrument.
inline constexpr const char* kBusyText = "仪器正被其它程序使用";
inline constexpr const char* kNotFoundText = "没有找到仪器";

// One attached instrument as the system lists it.
struct AttachedInstrument {
    std::string path;    // the system's name of its interface
    std::string serial;  // its USB serial number; empty when it tells none
    // How messages and titles name it.
    std::string name() const { return serial.empty() ? path : serial; }
    bool operator==(const AttachedInstrument&) const = default;
};

// Who calls what: one thread at a time (the instrument link's) opens, writes
// and closes; one reader thread reads. A read may overlap a write (each has
// its own handle or lock), but a close comes only after the reading has
// ended, so close never overlaps a read.
class HidDevice {
  public:
    virtual ~HidDevice() = default;

    // No reader running. Opens the instrument; false when it is absent or
    // held by another program.
    virtual bool open() = 0;
    // After the reading has ended. Safe to call when not open.
    virtual void close() = 0;
    // Any thread.
    virtual bool isOpen() const = 0;

    // The link's thread. Writes kLinkReportLength bytes from `buffer` (byte
    // 0 the report id 0).
    virtual int write(const uint8_t* buffer) = 0;
    // The reader (or the link's thread when nothing reads). Reads one report
    // into `buffer` (kLinkReportLength bytes, the report id at byte 0),
    // waiting at most kWaitMilliseconds.
    virtual int read(uint8_t* buffer) = 0;

    // Any thread. Why the last call returned kFailed, as the system words it.
    virtual std::string errorText() const = 0;

    // Any thread. The instrument open now, or opened last; empty when this
    // device never names one (a test's device).
    virtual AttachedInstrument identity() const { return {}; }
    // Any thread. Instruments the last successful open() passed over because
    // another program held them.
    virtual std::vector<AttachedInstrument> passedOver() const { return {}; }

    // Any thread (a link sets it as a test starts, while its thread may be
    // reading). Called once, on the thread whose read or write noticed that
    // the open device vanished.
    void setRemovalHandler(std::function<void()> handler) {
        std::lock_guard guard(removalMutex_);
        removalHandler_ = std::move(handler);
    }

  protected:
    void reportRemoval() const {
        std::function<void()> handler;
        {
            std::lock_guard guard(removalMutex_);
            handler = removalHandler_;
        }
        if (handler) handler();
    }

  private:
    mutable std::mutex removalMutex_;
    std::function<void()> removalHandler_;
};

// Sets `device`'s removal handler to run `onRemoved` on the owner's thread,
// through `post`; an empty `onRemoved` clears it.
inline void postRemovalsTo(HidDevice& device,
                           const std::function<void(std::function<void()>)>& post,
                           std::function<void()> onRemoved) {
    if (!onRemoved) {
        device.setRemovalHandler(nullptr);
        return;
    }
    device.setRemovalHandler([post, onRemoved = std::move(onRemoved)] { post(onRemoved); });
}

// What the real backends share: the last error's text, set by the thread that
// failed and read by any.
class ReportingDevice : public HidDevice {
  public:
    std::string errorText() const override {
        std::lock_guard guard(errorMutex_);
        return error_;
    }

  protected:
    bool fail(std::string text) {
        setError(std::move(text));
        return false;
    }
    int failWith(std::string text) {
        setError(std::move(text));
        return kFailed;
    }
    void setError(std::string text) {
        std::lock_guard guard(errorMutex_);
        error_ = std::move(text);
    }

  private:
    mutable std::mutex errorMutex_;
    std::string error_;
};

}  // namespace device
