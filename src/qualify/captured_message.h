#pragma once
// A capture's UFCS messages as the qualification and the summaries read
// them: who sent it, its type, command and number, the bus at its moment.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ufcs/capture_store.h"
#include "ufcs/names.h"

namespace qualify {

struct CapturedMessage {
    uint32_t index = 0;
    bool fromSource = false;  // on D+
    uint8_t type = 0, command = 0, number = 0;
    uint16_t millivolts = 0, milliamps = 0;
    ufcs::ConstCaptureRecord record;
    bool is(uint8_t wantedType, uint8_t wantedCommand) const {
        return type == wantedType && command == wantedCommand;
    }
    bool isAck() const {
        return type == ufcs::kTypeControl &&
               (command == ufcs::control_command::kAck || command == ufcs::control_command::kNck);
    }
    // A big-endian 16-bit value `offset` bytes into the message's data.
    uint16_t dataBe16(std::size_t offset) const {
        return static_cast<uint16_t>(record.at(20 + offset) << 8 | record.at(21 + offset));
    }
};

// The messages among records [from, end).
std::vector<CapturedMessage> capturedMessages(const ufcs::CaptureStore& store, uint32_t from,
                                              uint32_t end);

// "硬件版本 0102，软件版本 0310" from the first Device_Information among
// `messages`; nothing when none came whole.
std::optional<std::string> deviceInformation(const std::vector<CapturedMessage>& messages);

}  // namespace qualify
