#include "ufcs/wire_format.h"

#include "ufcs/crc8.h"

namespace ufcs {
namespace {

std::vector<uint8_t> startMessage(DeviceAddress receiver, uint8_t messageNumber, uint8_t type) {
    return {kTrainingByte, headerByte0(static_cast<uint8_t>(receiver), messageNumber),
            headerByte1(kProtocolVersion1, type)};
}

std::vector<uint8_t> finishMessage(std::vector<uint8_t> message) {
    message.push_back(Crc8(message.data() + 1, static_cast<unsigned>(message.size() - 1)));
    return message;
}

}  // namespace

std::vector<uint8_t> encodeControlMessage(DeviceAddress receiver, uint8_t messageNumber,
                                          uint8_t command) {
    std::vector<uint8_t> message = startMessage(receiver, messageNumber, 0);
    message.push_back(command);
    return finishMessage(std::move(message));
}

std::vector<uint8_t> encodeDataMessage(DeviceAddress receiver, uint8_t messageNumber,
                                       uint8_t command, std::span<const uint8_t> data) {
    std::vector<uint8_t> message = startMessage(receiver, messageNumber, 1);
    message.push_back(command);
    message.push_back(static_cast<uint8_t>(data.size()));
    message.insert(message.end(), data.begin(), data.end());
    return finishMessage(std::move(message));
}

std::vector<uint8_t> encodeVendorMessage(DeviceAddress receiver, uint8_t messageNumber,
                                         uint16_t vendorId, std::span<const uint8_t> data) {
    std::vector<uint8_t> message = startMessage(receiver, messageNumber, 2);
    message.push_back(static_cast<uint8_t>(vendorId >> 8));
    message.push_back(static_cast<uint8_t>(vendorId));
    message.push_back(static_cast<uint8_t>(data.size()));
    message.insert(message.end(), data.begin(), data.end());
    return finishMessage(std::move(message));
}

}  // namespace ufcs
