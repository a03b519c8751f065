// The real instrument through the Windows HID and SetupAPI calls, in place of
// hidapi on Windows. The only file that sees them.
//
// Found among the present interfaces of the HID class by vendor and product
// id (each match is one attached instrument), opened with share mode 0 so that one program
// holds it, and moved one report per call with overlapped I/O: a call waits
// 300 ms, then cancels what is still pending.

#include "device/hid_device.h"
#include "device/instrument_catalog.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: the HID and SetupAPI headers need its types. MinGW's HID
// headers declare C functions without saying so.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace device {
namespace {

std::string systemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (length > 0) {
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
        out.resize(std::size_t(bytes));
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), bytes, nullptr, nullptr);
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
            out.pop_back();
    }
    LocalFree(text);
    return out.empty() ? "error " + std::to_string(code) : out;
}

struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    Handle() = default;
    explicit Handle(HANDLE h) : value(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (value != INVALID_HANDLE_VALUE && value != nullptr) CloseHandle(value);
        value = h;
    }
    bool valid() const { return value != INVALID_HANDLE_VALUE && value != nullptr; }
};

// The device paths of the present HID interfaces, in enumeration order.
std::vector<std::string> hidInterfacePaths() {
    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    const HDEVINFO set =
        SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    std::vector<std::string> paths;
    if (set == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA interface {};
    interface.cbSize = sizeof(interface);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &interface);
         ++index) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &interface, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        std::vector<unsigned char> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &interface, detail, size, nullptr, nullptr))
            paths.emplace_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

// The instrument at `path`, when the interface is one. Asked without access
// rights and with sharing, so that no other device is held, even for a moment.
std::optional<AttachedInstrument> instrumentAt(const std::string& path) {
    const Handle probe(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    if (!probe.valid()) return std::nullopt;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (!HidD_GetAttributes(probe.value, &attributes) ||
        attributes.VendorID != kInstrumentVendorId || attributes.ProductID != kInstrumentProductId)
        return std::nullopt;
    AttachedInstrument instrument{path, {}};
    wchar_t serial[128] = {};
    if (HidD_GetSerialNumberString(probe.value, serial, sizeof(serial) - sizeof(wchar_t))) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, serial, -1, nullptr, 0, nullptr, nullptr);
        if (bytes > 1) {
            instrument.serial.resize(std::size_t(bytes));
            WideCharToMultiByte(CP_UTF8, 0, serial, -1, instrument.serial.data(), bytes, nullptr,
                                nullptr);
            instrument.serial.resize(std::size_t(bytes - 1));
        }
    }
    return instrument;
}

std::vector<AttachedInstrument> attachedInstruments() {
    std::vector<AttachedInstrument> instruments;
    for (const std::string& path : hidInterfacePaths()) {
        if (std::optional<AttachedInstrument> instrument = instrumentAt(path))
            instruments.push_back(std::move(*instrument));
    }
    return instruments;
}

bool stillAttached(const std::string& path) {
    for (const AttachedInstrument& instrument : attachedInstruments())
        if (instrument.path == path) return true;
    return false;
}

bool isRemovalError(DWORD code) {
    return code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_GEN_FAILURE ||
           code == ERROR_BAD_COMMAND || code == ERROR_FILE_NOT_FOUND ||
           code == ERROR_INVALID_HANDLE || code == ERROR_OPERATION_ABORTED;
}

class WindowsHidDevice final : public ReportingDevice {
  public:
    explicit WindowsHidDevice(AttachedInstrument instrument) : instrument_(std::move(instrument)) {}
    ~WindowsHidDevice() override { close(); }

    bool open() override {
        close();
        const std::string& path = instrument_.path;
        // Share mode 0: while this handle is open no other program can open the instrument.
        handle_.reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (!handle_.valid()) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
                return fail(kNotFoundText);
            return fail(code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED
                            ? kBusyText
                            : "CreateFile " + path + ": " + systemText(code));
        }
        if (!readCapabilities()) {
            handle_.reset();
            return false;
        }
        path_ = path;
        removalReported_ = false;
        setError({});
        return true;
    }

    void close() override {
        handle_.reset();
        path_.clear();
    }

    bool isOpen() const override { return handle_.valid(); }
    AttachedInstrument identity() const override { return instrument_; }

    int write(const uint8_t* buffer) override {
        if (!handle_.valid()) return failWith("write: the instrument is not open");
        std::vector<uint8_t> report(buffer, buffer + kLinkReportLength);
        report.resize(std::max<std::size_t>(outputLength_, kLinkReportLength));
        return transfer("write", report.data(), outputLength_, false);
    }

    int read(uint8_t* buffer) override {
        if (!handle_.valid()) return failWith("read: the instrument is not open");
        std::vector<uint8_t> report(std::max<std::size_t>(inputLength_, kLinkReportLength));
        const int result = transfer("read", report.data(), inputLength_, true);
        if (result == kDataRead)
            std::copy(report.begin(), report.begin() + kLinkReportLength, buffer);
        return result;
    }

  private:
    bool readCapabilities() {
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!HidD_GetPreparsedData(handle_.value, &preparsed))
            return fail("HidD_GetPreparsedData: " + systemText(GetLastError()));
        HIDP_CAPS caps{};
        const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
        HidD_FreePreparsedData(preparsed);
        if (status != HIDP_STATUS_SUCCESS) return fail("HidP_GetCaps failed");
        inputLength_ = caps.InputReportByteLength;
        outputLength_ = caps.OutputReportByteLength;
        return true;
    }

    // One overlapped transfer with its own event, so that a read on the link
    // thread and a write on the owner's overlap safely.
    int transfer(const char* call, uint8_t* data, DWORD length, bool reading) {
        const Handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!event.valid()) return failWith(std::string(call) + ": " + systemText(GetLastError()));
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.value;
        const BOOL started = reading ? ReadFile(handle_.value, data, length, nullptr, &overlapped)
                                     : WriteFile(handle_.value, data, length, nullptr, &overlapped);
        if (!started && GetLastError() != ERROR_IO_PENDING)
            return afterFailure(call, GetLastError());
        if (WaitForSingleObject(event.value, kWaitMilliseconds) == WAIT_TIMEOUT) {
            CancelIo(handle_.value);
            DWORD ignored = 0;
            GetOverlappedResult(handle_.value, &overlapped, &ignored, TRUE);  // the cancel lands
            return kTimedOut;
        }
        DWORD moved = 0;
        if (!GetOverlappedResult(handle_.value, &overlapped, &moved, FALSE))
            return afterFailure(call, GetLastError());
        if (!reading) return kWritten;
        return moved > 0 ? kDataRead : kTimedOut;
    }

    int afterFailure(const char* call, DWORD code) {
        if (isRemovalError(code) && !stillAttached(path_)) {
            setError(std::string(call) + ": the instrument was removed");
            if (!removalReported_.exchange(true)) reportRemoval();
            return kRemoved;
        }
        return failWith(std::string(call) + ": " + systemText(code));
    }

    const AttachedInstrument instrument_;
    Handle handle_;
    std::string path_;
    DWORD inputLength_ = kLinkReportLength;
    DWORD outputLength_ = kLinkReportLength;
    std::atomic<bool> removalReported_{false};
};

class WindowsCatalog final : public InstrumentCatalog {
  public:
    std::vector<AttachedInstrument> attached() override { return attachedInstruments(); }
    std::unique_ptr<HidDevice> deviceFor(const AttachedInstrument& instrument) override {
        return std::make_unique<WindowsHidDevice>(instrument);
    }
};

}  // namespace

std::shared_ptr<InstrumentCatalog> makeInstrumentCatalog(const std::string&) {
    // Share mode 0 already keeps a second program out; no lock file is needed.
    return std::make_shared<WindowsCatalog>();
}

}  // namespace device
