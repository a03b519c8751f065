// The real instrument through hidapi. The only file that sees hidapi.

#include "device/exclusive_lock.h"
#include "device/hid_device.h"
#include "device/instrument_catalog.h"

#include <hidapi.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace device {
namespace {

// hid_init, enumeration and opening share hidapi's global state (its global
// error text among it), so they run one at a time; reads and writes never take this.
std::mutex& hidapiMutex() {
    static std::mutex mutex;
    return mutex;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// hidapi words its errors as wchar_t: UTF-32 on Linux and macOS, UTF-16 on Windows.
std::string toUtf8(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        char32_t c = static_cast<char32_t>(*text);
        if constexpr (sizeof(wchar_t) == 2) {
            const char32_t next = static_cast<char32_t>(text[1]);
            if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                ++text;
            }
        }
        appendUtf8(out, c);
    }
    return out;
}

// hid_init once, under the hidapi lock; false, with the reason, when it fails.
bool hidapiReady(std::string& problem) {
    static bool initialised = false;
    if (!initialised && hid_init() != 0) {
        problem = "hid_init: " + toUtf8(hid_error(nullptr));
        return false;
    }
    initialised = true;
    return true;
}

// One interface of an instrument, at the path the enumeration gave.
class HidapiDevice final : public ReportingDevice {
  public:
    HidapiDevice(std::string lockFolder, AttachedInstrument instrument)
        : lockFolder_(std::move(lockFolder)), instrument_(std::move(instrument)) {}
    ~HidapiDevice() override { close(); }

    bool open() override {
        close();
        std::lock_guard guard(hidapiMutex());
        std::string problem;
        if (!hidapiReady(problem)) return fail(problem);
        const std::string& path = instrument_.path;
        // hidraw opens are shared, so the lock, named after the device, is what
        // keeps a second program (of any user) out.
        const auto lockPath = std::filesystem::path(lockFolder_) / lockFileName(path);
        switch (lock_.take(lockPath.string())) {
            case ExclusiveLock::Outcome::Taken:
                break;
            case ExclusiveLock::Outcome::Busy:
                return fail(kBusyText);
            case ExclusiveLock::Outcome::Unavailable:
                return fail("无法使用仪器的锁文件：" + lock_.problem());
        }
        // hidapi keeps one error text per handle and replaces it on every call, so
        // the worker's reads and the owner's writes each get a handle of their own.
        handle_ = hid_open_path(path.c_str());
        writeHandle_ = handle_ ? hid_open_path(path.c_str()) : nullptr;
        if (!writeHandle_) {
            const std::string why = toUtf8(hid_error(nullptr));
            closeHandles();
            return fail("hid_open_path " + path + ": " + why);
        }
        path_ = path;
        removalReported_ = false;
        setError({});
        return true;
    }

    AttachedInstrument identity() const override { return instrument_; }

    void close() override {
        closeHandles();
        path_.clear();
    }

    bool isOpen() const override { return handle_ != nullptr; }

    int write(const uint8_t* buffer) override {
        if (!writeHandle_) return failWith("write: the instrument is not open");
        if (hid_write(writeHandle_, buffer, kLinkReportLength) >= 0) return kWritten;
        return afterFailure("write", writeHandle_);
    }

    int read(uint8_t* buffer) override {
        if (!handle_) return failWith("read: the instrument is not open");
        const int count =
            hid_read_timeout(handle_, buffer + 1, kLinkReportLength - 1, kWaitMilliseconds);
        if (count > 0) {
            buffer[0] = 0;  // hidraw leaves out report id 0; callers expect it at byte 0
            return kDataRead;
        }
        if (count == 0) return kTimedOut;
        return afterFailure("read", handle_);
    }

  private:
    void closeHandles() {
        if (writeHandle_) hid_close(writeHandle_);
        if (handle_) hid_close(handle_);
        writeHandle_ = handle_ = nullptr;
        lock_.release();
    }

    // An unplug fails the reader and the writer alike; the handler hears of it once.
    int afterFailure(const char* call, hid_device* handle) {
        const std::string why = toUtf8(hid_error(handle));
        if (!stillAttached()) {
            setError(std::string(call) + ": the instrument was removed");
            if (!removalReported_.exchange(true)) reportRemoval();
            return kRemoved;
        }
        return failWith(std::string(call) + ": " + (why.empty() ? "unknown error" : why));
    }

    bool stillAttached() const {
        std::lock_guard guard(hidapiMutex());
        hid_device_info* found = hid_enumerate(kInstrumentVendorId, kInstrumentProductId);
        bool attached = false;
        for (const hid_device_info* info = found; info && !attached; info = info->next)
            attached = info->path && path_ == info->path;
        hid_free_enumeration(found);
        return attached;
    }

    const std::string lockFolder_;
    const AttachedInstrument instrument_;
    hid_device* handle_ = nullptr;       // read by the worker
    hid_device* writeHandle_ = nullptr;  // written by the owner
    std::string path_;
    ExclusiveLock lock_;
    std::atomic<bool> removalReported_{false};
};

// Every interface with the instrument's ids: an instrument another program
// holds through one interface may still be free through the next.
class HidapiCatalog final : public InstrumentCatalog {
  public:
    explicit HidapiCatalog(std::string lockFolder) : lockFolder_(std::move(lockFolder)) {}

    std::vector<AttachedInstrument> attached() override {
        std::lock_guard guard(hidapiMutex());
        std::vector<AttachedInstrument> instruments;
        std::string problem;
        if (!hidapiReady(problem)) return instruments;
        hid_device_info* found = hid_enumerate(kInstrumentVendorId, kInstrumentProductId);
        for (const hid_device_info* info = found; info; info = info->next) {
            if (info->path && *info->path)
                instruments.push_back({info->path, toUtf8(info->serial_number)});
        }
        hid_free_enumeration(found);
        return instruments;
    }

    std::unique_ptr<HidDevice> deviceFor(const AttachedInstrument& instrument) override {
        return std::make_unique<HidapiDevice>(lockFolder_, instrument);
    }

  private:
    const std::string lockFolder_;
};

}  // namespace

std::shared_ptr<InstrumentCatalog> makeInstrumentCatalog(const std::string& lockFolder) {
    return std::make_shared<HidapiCatalog>(lockFolder);
}

}  // namespace device
