#pragma once
// Putting a new firmware image on the instrument over the HID link, without
// the capture worker: the connect exchange that reads the instrument's
// versions, then the start frames, the header, the pages one by one with
// their acknowledgements, and the wait while the instrument burns the image.
// It runs on one thread of its own; the window only hears about it.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/clock.h"
#include "device/hid_device.h"

namespace instrument {

// Bytes 13-19 of the instrument's connect reply.
struct InstrumentVersions {
    uint8_t hardware[3] = {};  // bytes 13, 14, 15
    uint8_t firmware[2] = {};  // bytes 16, 17
    uint8_t ufcs[2] = {};      // bytes 18, 19
};

// The connect command twice, 20 ms apart, then a read and up to six more
// while reports keep coming; nothing when the first read times out. The
// versions come from the last connect reply read.
std::optional<InstrumentVersions> readInstrumentVersions(device::HidDevice& device,
                                                         common::Clock& clock);

std::string firmwareVersion(const InstrumentVersions& versions);      // "1.5"
std::string currentFirmwareText(const InstrumentVersions& versions);  // 当前软件版本：
std::string hardwareVersionText(const InstrumentVersions& versions);  // 当前硬件版本：
std::string ufcsVersionText(const InstrumentVersions& versions);      // 当前UFCS协议版本：

enum class FirmwareOutcome { Burned, ChecksumMismatch, Failed, Cancelled };

inline constexpr std::string_view kFirmwareSending = "正在升级.....";
inline constexpr std::string_view kFirmwareBurning = "下传成功，正在烧写....";
inline constexpr std::string_view kFirmwareBurned = "升级成功!";
inline constexpr std::string_view kFirmwareFailed = "升级失败！";
inline constexpr std::string_view kFirmwareChecksumWrong = "升级文件校验码不对！";
inline constexpr std::string_view kFirmwareNotConnected = "设备未连接!";
inline constexpr std::string_view kFirmwareDownloadFailed = "下载文档出错！";

// What the status label shows for an outcome.
std::string_view firmwareOutcomeText(FirmwareOutcome outcome);

// Told on the transfer's thread.
class FirmwareTransferListener {
  public:
    virtual ~FirmwareTransferListener() = default;
    // From here on the transfer can no longer be cancelled.
    virtual void onHeaderSent() {}
    virtual void onStatusText(std::string_view /*text*/) {}
    // `done` of `pages` pages acknowledged (the bar's range is 0 ... pages).
    virtual void onProgress(uint32_t /*done*/, uint32_t /*pages*/) {}
};

struct FirmwareImage {
    std::span<const uint8_t> bytes;
    uint8_t hardwareHigh = 0;  // connect reply byte 14
    uint8_t hardwareLow = 0;   // connect reply byte 13
    int serverChecksum = 0;
};

// On an open device that no other thread reads. `cancel` is looked at only
// until the header goes out.
FirmwareOutcome transferFirmware(device::HidDevice& device, common::Clock& clock,
                                 const FirmwareImage& image, FirmwareTransferListener& listener,
                                 const std::atomic<bool>* cancel = nullptr);

// "剩余 12 秒": the time the remaining pages will take at the pace so far.
std::string timeLeftText(uint32_t done, uint32_t pages, std::chrono::milliseconds elapsed);

}  // namespace instrument
