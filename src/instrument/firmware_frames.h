#pragma once
// The firmware image as the instrument takes it: a header command (length,
// page count, byte sum, hardware version), then pages of 56 bytes, each
// acknowledged; and the checksum test against the update server's value.

#include <cstdint>
#include <optional>
#include <span>

#include "device/frames.h"

namespace instrument {

inline constexpr std::size_t kFirmwarePageBytes = 56;
inline constexpr uint8_t kFirmwarePageReply = 0x34;  // byte 2 of an acknowledgement

uint32_t firmwarePageCount(std::size_t length);
// The sum of every byte, as unsigned values.
uint32_t firmwareByteSum(std::span<const uint8_t> image);
// The server's checksum is the byte sum modulo 256.
bool firmwareChecksumMatches(uint32_t byteSum, int serverChecksum);

// Page 0: the length, the page count, the byte sum modulo 65536 and the
// hardware version (connect reply bytes 14 and 13), all big-endian.
device::CommandFrame firmwareHeaderFrame(std::span<const uint8_t> image, uint8_t hardwareHigh,
                                         uint8_t hardwareLow);
// Page `page` (1 ... page count): its 56 bytes, zero after the image's last byte.
device::CommandFrame firmwareDataFrame(std::span<const uint8_t> image, uint32_t page);

// The status of a page acknowledgement (0x55 0x12 0x34, byte 6 = 9): 0
// refused, 1 last page received and burning, 2 burned; nothing when the
// report is no acknowledgement.
std::optional<uint8_t> pageAcknowledgement(const uint8_t* report);
// For the simulated instrument.
device::Report pageAcknowledgementReply(uint8_t status);

}  // namespace instrument
