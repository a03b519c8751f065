#include "ufcs/list_filter.h"

#include "common/format.h"

#include <algorithm>

#include "ufcs/names.h"

namespace ufcs {
namespace {

template <std::size_t N>
bool allOf(const std::array<bool, N>& boxes) {
    return std::all_of(boxes.begin(), boxes.end(), [](bool ticked) { return ticked; });
}

// Value of `code` among `codes` ticked in `boxes`; codes without a box pass.
template <std::size_t N>
bool tickedOrUnboxed(const std::array<bool, N>& boxes, const std::array<uint8_t, N>& codes,
                     uint8_t code) {
    for (std::size_t i = 0; i < N; ++i) {
        if (codes[i] == code) return boxes[i];
    }
    return true;
}

constexpr std::array<uint8_t, 4> kBaudCodes = {kBaud115200, kBaud57600, kBaud38400, kBaud19200};

}  // namespace

ListFilter::ListFilter() {
    controlCommands.fill(true);
    dataCommands.fill(true);
}

bool ListFilter::typesAllTicked() const {
    return allOf(types);
}
bool ListFilter::receiversAllTicked() const {
    return allOf(receivers);
}
bool ListFilter::baudsAllTicked() const {
    return allOf(bauds);
}

bool ListFilter::messagesAllTicked() const {
    // Data row 0 has no box.
    return allOf(controlCommands) &&
           std::all_of(dataCommands.begin() + 1, dataCommands.end(),
                       [](bool ticked) { return ticked; }) &&
           vendorMessages && allOf(resets) && allOf(handshakes);
}

bool ListFilter::allTicked() const {
    return typesAllTicked() && receiversAllTicked() && messagesAllTicked() && baudsAllTicked();
}

void ListFilter::setAllMessages(bool ticked) {
    controlCommands.fill(ticked);
    dataCommands.fill(ticked);
    vendorMessages = ticked;
    resets.fill(ticked);
    handshakes.fill(ticked);
}

bool ListFilter::passes(ConstCaptureRecord record, Pass pass) const {
    if (allTicked()) return true;
    const uint8_t kind = record.kind();
    if (kind >= 0xF0 && kind <= 0xF3) return handshakes[kind - 0xF0];
    if (kind >= 0xF4 && kind <= 0xF7) return resets[kind - 0xF4];
    if (!isMessageKind(kind)) return true;  // the header and other events

    if (!tickedOrUnboxed(bauds, kBaudCodes, record.baudCode())) return false;

    const uint8_t receiver = record.receiver();
    if (receiver == kReceiverSource && !receivers[0]) return false;
    if (receiver == kReceiverSink && !receivers[1]) return false;
    const bool cableBoxApplies =
        pass == Pass::Intake ? receiver == kReceiverCable : receiver >= kReceiverCable;
    if (cableBoxApplies && !receivers[2]) return false;

    const uint8_t type = record.messageType();
    if (type < types.size() && !types[type]) return false;

    switch (type) {
        case kTypeControl:
            return record.command() >= controlCommands.size() || controlCommands[record.command()];
        case kTypeData: {
            const auto row = dataMessageRow(record.command());
            return !row || *row == 0 || dataCommands[*row];
        }
        case kTypeVendor:
            return vendorMessages;
        default:
            return true;
    }
}

std::string filterStatusText(const ListFilter& filter) {
    std::string parts;
    auto add = [&parts](const std::string& part) { parts += (parts.empty() ? "" : "、") + part; };
    if (!filter.typesAllTicked()) add("类型");
    if (!filter.receiversAllTicked()) add("接收者");
    if (!filter.messagesAllTicked()) add("消息");
    if (!filter.baudsAllTicked()) add("波特");
    if (filter.records)
        add(common::format("序号 %u-%u", filter.records->first, filter.records->last));
    return parts.empty() ? parts : "过滤：" + parts;
}

}  // namespace ufcs
