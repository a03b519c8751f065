#pragma once
// A UFCS message as it travels on D+/D-: the Training byte 0xAA, header bytes
// H0 (receiver address, message number) and H1 (protocol version, message
// type), the body and a CRC-8 over everything after the Training byte.
// Numbers inside messages are big-endian.

#include <cstdint>
#include <span>
#include <vector>

namespace ufcs {

inline constexpr uint8_t kTrainingByte = 0xAA;
inline constexpr uint8_t kProtocolVersion1 = 1;

// Message types of header byte H1 bits 2-0.
inline constexpr uint8_t kTypeControl = 0;
inline constexpr uint8_t kTypeData = 1;
inline constexpr uint8_t kTypeVendor = 2;

// Receiver addresses of header byte H0 bits 7-5.
enum class DeviceAddress : uint8_t { Source = 1, Sink = 2, Cable = 3 };

constexpr uint8_t headerByte0(uint8_t address, uint8_t messageNumber) {
    return static_cast<uint8_t>(((address & 0x07) << 5) | ((messageNumber & 0x0F) << 1));
}
constexpr uint8_t headerByte1(uint8_t version, uint8_t messageType) {
    return static_cast<uint8_t>(((version & 0x1F) << 3) | (messageType & 0x07));
}

// Whole messages, Training byte and CRC included.
std::vector<uint8_t> encodeControlMessage(DeviceAddress receiver, uint8_t messageNumber,
                                          uint8_t command);
std::vector<uint8_t> encodeDataMessage(DeviceAddress receiver, uint8_t messageNumber,
                                       uint8_t command, std::span<const uint8_t> data);
std::vector<uint8_t> encodeVendorMessage(DeviceAddress receiver, uint8_t messageNumber,
                                         uint16_t vendorId, std::span<const uint8_t> data);

}  // namespace ufcs
