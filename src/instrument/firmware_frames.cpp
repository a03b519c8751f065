#include "instrument/firmware_frames.h"

#include <algorithm>

#include "common/byte_order.h"

namespace instrument {
namespace {

constexpr uint8_t kFirmwareCommand = static_cast<uint8_t>(device::CommandCode::FirmwareBlock);

void writeBe32(uint8_t* at, uint32_t value) {
    common::writeBe16(at, static_cast<uint16_t>(value >> 16));
    common::writeBe16(at + 2, static_cast<uint16_t>(value));
}

// The command header with the page number in bytes 5-6.
device::CommandFrame pageFrame(uint32_t page) {
    device::CommandFrame frame = device::commandFrame(device::CommandCode::FirmwareBlock, 0);
    common::writeBe16(frame.data() + 5, static_cast<uint16_t>(page));
    frame[8] = kFirmwareCommand;
    return frame;
}

}  // namespace

uint32_t firmwarePageCount(std::size_t length) {
    return static_cast<uint32_t>((length + kFirmwarePageBytes - 1) / kFirmwarePageBytes);
}

uint32_t firmwareByteSum(std::span<const uint8_t> image) {
    uint32_t sum = 0;
    for (const uint8_t byte : image)
        sum += byte;
    return sum;
}

bool firmwareChecksumMatches(uint32_t byteSum, int serverChecksum) {
    return static_cast<int>(byteSum % 256) == serverChecksum;
}

device::CommandFrame firmwareHeaderFrame(std::span<const uint8_t> image, uint8_t hardwareHigh,
                                         uint8_t hardwareLow) {
    device::CommandFrame frame = pageFrame(0);
    writeBe32(frame.data() + 9, static_cast<uint32_t>(image.size()));
    common::writeBe16(frame.data() + 13, static_cast<uint16_t>(firmwarePageCount(image.size())));
    common::writeBe16(frame.data() + 15, static_cast<uint16_t>(firmwareByteSum(image)));
    frame[17] = hardwareHigh;
    frame[18] = hardwareLow;
    frame[19] = 1;
    return frame;
}

device::CommandFrame firmwareDataFrame(std::span<const uint8_t> image, uint32_t page) {
    device::CommandFrame frame = pageFrame(page);
    const std::size_t first = std::size_t{page - 1} * kFirmwarePageBytes;
    if (first < image.size()) {
        const std::size_t count = std::min(kFirmwarePageBytes, image.size() - first);
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(first), count, frame.begin() + 9);
    }
    return frame;
}

std::optional<uint8_t> pageAcknowledgement(const uint8_t* report) {
    if (report[0] != device::kReplyMarker || report[1] != device::kReplyClass ||
        report[2] != kFirmwarePageReply || report[6] != kFirmwareCommand)
        return std::nullopt;
    return report[7];
}

device::Report pageAcknowledgementReply(uint8_t status) {
    device::Report report{};
    report[0] = device::kReplyMarker;
    report[1] = device::kReplyClass;
    report[2] = kFirmwarePageReply;
    report[6] = kFirmwareCommand;
    report[7] = status;
    return report;
}

}  // namespace instrument
