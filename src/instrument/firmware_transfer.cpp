#include "instrument/firmware_transfer.h"

#include <cstring>

#include "common/format.h"
#include "device/frames.h"
#include "instrument/firmware_frames.h"

namespace instrument {
namespace {

using namespace std::chrono_literals;

constexpr int kMoreConnectReads = 6;
constexpr int kBurnReads = 15;
constexpr auto kPause = 20ms;
constexpr auto kBurnPause = 100ms;

using LinkBuffer = std::array<uint8_t, device::kCommandFrameSize>;

int writeFrame(device::HidDevice& device, const device::CommandFrame& frame) {
    return device.write(frame.data());
}

// One read; the report (without its id byte) when one came.
bool readReport(device::HidDevice& device, LinkBuffer& buffer) {
    buffer.fill(0);
    return device.read(buffer.data()) == device::kDataRead;
}

InstrumentVersions versionsOf(const uint8_t* report) {
    InstrumentVersions versions;
    std::memcpy(versions.hardware, report + 13, 3);
    std::memcpy(versions.firmware, report + 16, 2);
    std::memcpy(versions.ufcs, report + 18, 2);
    return versions;
}

class Transfer {
  public:
    Transfer(device::HidDevice& device, common::Clock& clock, const FirmwareImage& image,
             FirmwareTransferListener& listener)
        : device_(device), clock_(clock), image_(image), listener_(listener) {}

    FirmwareOutcome run(const std::atomic<bool>* cancel) {
        const uint32_t byteSum = firmwareByteSum(image_.bytes);
        if (!firmwareChecksumMatches(byteSum, image_.serverChecksum))
            return FirmwareOutcome::ChecksumMismatch;
        if (cancel && cancel->load()) return FirmwareOutcome::Cancelled;
        sendStartFrames();
        if (cancel && cancel->load()) return FirmwareOutcome::Cancelled;
        if (!sendHeader()) return FirmwareOutcome::Failed;
        listener_.onStatusText(kFirmwareSending);
        const uint32_t pages = firmwarePageCount(image_.bytes.size());
        uint8_t lastStatus = 0;
        for (uint32_t page = 1; page <= pages; ++page) {
            listener_.onProgress(page - 1, pages);
            const std::optional<uint8_t> status = sendPage(page);
            if (!status || *status == 0) return FirmwareOutcome::Failed;
            lastStatus = *status;
        }
        listener_.onProgress(pages, pages);
        if (lastStatus == 1) listener_.onStatusText(kFirmwareBurning);
        return awaitBurn();
    }

  private:
    void sendStartFrames() {
        const device::CommandFrame start =
            device::commandFrame(device::CommandCode::StartListening, device::kModeListening);
        writeFrame(device_, start);
        clock_.sleepFor(kPause);
        writeFrame(device_, start);
    }

    // The header twice; its replies are read and not examined.
    bool sendHeader() {
        const device::CommandFrame header =
            firmwareHeaderFrame(image_.bytes, image_.hardwareHigh, image_.hardwareLow);
        if (writeFrame(device_, header) != device::kWritten) return false;
        listener_.onHeaderSent();
        readReport(device_, buffer_);
        clock_.sleepFor(kPause);
        if (writeFrame(device_, header) != device::kWritten) return false;
        readReport(device_, buffer_);
        readReport(device_, buffer_);
        clock_.sleepFor(kPause);
        buffer_.fill(0);
        return device_.isOpen();
    }

    std::optional<uint8_t> sendPage(uint32_t page) {
        if (writeFrame(device_, firmwareDataFrame(image_.bytes, page)) != device::kWritten)
            return std::nullopt;
        if (!readReport(device_, buffer_)) return std::nullopt;
        return pageAcknowledgement(buffer_.data() + 1);
    }

    FirmwareOutcome awaitBurn() {
        for (int attempt = 0; attempt < kBurnReads; ++attempt) {
            clock_.sleepFor(kBurnPause);
            buffer_.fill(0);
            const int result = device_.read(buffer_.data());
            if (result == device::kRemoved || result == device::kFailed) break;
            if (result != device::kDataRead) continue;
            return pageAcknowledgement(buffer_.data() + 1) == 2 ? FirmwareOutcome::Burned
                                                                : FirmwareOutcome::Failed;
        }
        return FirmwareOutcome::Failed;
    }

    device::HidDevice& device_;
    common::Clock& clock_;
    const FirmwareImage& image_;
    FirmwareTransferListener& listener_;
    LinkBuffer buffer_{};
};

}  // namespace

std::optional<InstrumentVersions> readInstrumentVersions(device::HidDevice& device,
                                                         common::Clock& clock) {
    const device::CommandFrame connect = device::commandFrame(device::CommandCode::Connect, 0);
    writeFrame(device, connect);
    clock.sleepFor(kPause);
    writeFrame(device, connect);
    LinkBuffer buffer{};
    if (!readReport(device, buffer)) return std::nullopt;
    // The versions are bytes 13-19 of the last report that came, whatever it
    // begins with: an instrument whose reply looks different still tells them.
    LinkBuffer next{};
    for (int read = 0; read < kMoreConnectReads && readReport(device, next); ++read)
        buffer = next;
    return versionsOf(buffer.data() + 1);
}

std::string currentFirmwareText(const InstrumentVersions& versions) {
    return "当前软件版本：" + firmwareVersion(versions);
}

std::string firmwareVersion(const InstrumentVersions& versions) {
    return common::format("%x.%x", versions.firmware[0], versions.firmware[1]);
}

std::string hardwareVersionText(const InstrumentVersions& versions) {
    return common::format("当前硬件版本：%x.%x", versions.hardware[1], versions.hardware[2]);
}

std::string ufcsVersionText(const InstrumentVersions& versions) {
    return common::format("当前UFCS协议版本：%x.%x", versions.ufcs[0], versions.ufcs[1]);
}

std::string_view firmwareOutcomeText(FirmwareOutcome outcome) {
    switch (outcome) {
        case FirmwareOutcome::Burned:
            return kFirmwareBurned;
        case FirmwareOutcome::ChecksumMismatch:
            return kFirmwareChecksumWrong;
        case FirmwareOutcome::Cancelled:
            return "";
        case FirmwareOutcome::Failed:
            break;
    }
    return kFirmwareFailed;
}

FirmwareOutcome transferFirmware(device::HidDevice& device, common::Clock& clock,
                                 const FirmwareImage& image, FirmwareTransferListener& listener,
                                 const std::atomic<bool>* cancel) {
    return Transfer(device, clock, image, listener).run(cancel);
}

std::string timeLeftText(uint32_t done, uint32_t pages, std::chrono::milliseconds elapsed) {
    if (done == 0 || done >= pages) return {};
    const auto left = elapsed.count() * static_cast<long long>(pages - done) / done;
    return common::format("剩余 %lld 秒", (left + 999) / 1000);
}

}  // namespace instrument
