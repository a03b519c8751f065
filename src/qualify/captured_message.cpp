#include "qualify/captured_message.h"

#include <algorithm>

#include "common/format.h"

namespace qualify {

std::vector<CapturedMessage> capturedMessages(const ufcs::CaptureStore& store, uint32_t from,
                                              uint32_t end) {
    std::vector<CapturedMessage> messages;
    end = std::min(end, store.count());
    for (uint32_t index = from; index < end; ++index) {
        const ufcs::ConstCaptureRecord record = store.record(index);
        if (!ufcs::isMessageKind(record.kind()) || record.byteCount() < 5) continue;
        messages.push_back({index,
                            record.kind() == static_cast<uint8_t>(ufcs::EventKind::MessageDPlus),
                            record.messageType(), record.command(),
                            static_cast<uint8_t>((record.at(16) >> 1) & 0x0F), record.voltage(),
                            record.current(), record});
    }
    return messages;
}

std::optional<std::string> deviceInformation(const std::vector<CapturedMessage>& messages) {
    for (const CapturedMessage& message : messages) {
        if (!message.fromSource ||
            !message.is(ufcs::kTypeData, ufcs::data_command::kDeviceInformation) ||
            message.record.byteCount() < 14)
            continue;
        return common::format("硬件版本 %.4X，软件版本 %.4X", message.dataBe16(4),
                              message.dataBe16(6));
    }
    return std::nullopt;
}

}  // namespace qualify
