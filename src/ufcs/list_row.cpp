#include "ufcs/list_row.h"

#include <algorithm>

#include "common/format.h"
#include "ufcs/crc8.h"
#include "ufcs/names.h"

namespace ufcs {
namespace {

constexpr unsigned kLastDataCommand = data_command::kPowerChange;

constexpr uint32_t kColourHandshakeDPlus = rgb(50, 200, 50);
constexpr uint32_t kColourDMinus = rgb(220, 220, 0);

struct EventEntry {
    uint8_t kind;
    EventRowInfo info;
};

constexpr std::array<EventEntry, 10> kEventRows = {{
    {0xF0, {"握手", "D+ 握手信号", kColourHandshakeDPlus}},
    {0xF1, {"握手应答", "供电设备应答握手信号", kColourHandshakeDPlus}},
    {0xF2, {"握手", "D- 握手信号", kColourDMinus}},
    {0xF3, {"握手应答", "充电设备回复握手信号", kColourDMinus}},
    {0xF4, {"复位信号", "D+发出充电设备硬件复位命令", kColourDMinus}},
    {0xF5, {"复位信号", "D-发出供电设备硬件复位命令", kColourDMinus}},
    {0xF6, {"复位信号", "D+发出线缆硬件复位命令", kColourDMinus}},
    {0xF7, {"复位信号", "D-发出线缆硬件复位命令", kColourDMinus}},
    {0x16, {"解码错误", "D+线 解码错误", kColourFault}},
    {0x17, {"解码错误", "D-线 解码错误", kColourFault}},
}};

// A message addressed to the side that sent it on that line.
bool lineMismatch(ConstCaptureRecord record) {
    return (record.kind() == static_cast<uint8_t>(EventKind::MessageDMinus) &&
            record.receiver() == kReceiverSink) ||
           (record.kind() == static_cast<uint8_t>(EventKind::MessageDPlus) &&
            record.receiver() == kReceiverSource);
}

uint8_t dataLength(ConstCaptureRecord record) {
    return record.at(19);
}
uint8_t vendorLength(ConstCaptureRecord record) {
    return record.at(20);
}
// Data byte i of a data message.
uint8_t dataByte(ConstCaptureRecord record, unsigned i) {
    return record.at(20 + i);
}

uint32_t markControl(CaptureRecord record) {
    bool fault = record.command() >= ControlMessageNames.size() || lineMismatch(record);
    uint32_t base = kColourUnknown;
    switch (record.receiver()) {
        case kReceiverSource:
            base = rgb(220, 220, 0);
            break;
        case kReceiverSink:
            base = rgb(50, 200, 50);
            break;
        case kReceiverCable:
            base = rgb(0, 250, 200);
            break;
        default:
            fault = true;
    }
    record.setComputedCrc(Crc8(record.bytes() + 16, 3));
    if (record.computedCrc() != record.at(19)) {
        record.setStatus(record.status() | kCrcError);
        fault = true;
    }
    const uint16_t length = record.byteCount();
    if (length < 5) {
        record.setStatus(record.status() | kLengthError);
        return kColourFault;
    }
    if (length > 5 && !fault) {
        record.setStatus(record.status() | kLengthError);
        return kColourTooLong;
    }
    if (fault) return kColourFault;
    if (record.command() == control_command::kNck) return kColourRefusal;
    return base;
}

uint32_t markData(CaptureRecord record) {
    const DataCheckResult check = DataMessageCheck(record);
    const unsigned n = dataLength(record);
    record.setComputedCrc(Crc8(record.bytes() + 16, n + 4u));
    bool fault = !dataMessageRow(record.command()).has_value();  // shown as "无法解析"
    // The CRC is compared whenever its byte was captured, whatever else is wrong
    // with the message: a bad field must not hide a bad CRC.
    const bool crcCaptured = record.byteCount() >= n + 6;
    if (crcCaptured && dataByte(record, n) != record.computedCrc()) {
        record.setStatus(record.status() | kCrcError);
        fault = true;
    }
    uint32_t colour;
    switch (record.receiver()) {
        case kReceiverSource:
            colour = rgb(180, 220, 180);
            break;
        case kReceiverSink:
            colour = rgb(50, 200, 50);
            break;
        case kReceiverCable:
            colour = rgb(0, 250, 200);
            break;
        default:
            return kColourFault;
    }
    if (fault || check.verdict == DataCheck::Malformed) return kColourFault;
    if (check.verdict == DataCheck::TooLong) return kColourTooLong;
    if (record.command() == data_command::kRefuse) return kColourRefusal;
    return colour;
}

uint32_t markVendor(CaptureRecord record) {
    const unsigned n = vendorLength(record);
    record.setComputedCrc(Crc8(record.bytes() + 16, n + 5));
    int fault = lineMismatch(record) ? 1 : 0;
    if (record.computedCrc() != record.at(21 + n)) {
        record.setStatus(record.status() | kCrcError);
        fault = 1;
    } else if (fault == 0) {
        const uint16_t length = record.byteCount();
        if (length < n + 7) {
            record.setStatus(record.status() | kLengthError);
            fault = 1;
        } else if (length > n + 7) {
            record.setStatus(record.status() | kLengthError);
            fault = 2;
        }
    }
    if (fault == 1) return kColourFault;
    if (fault == 2) return kColourTooLong;
    return kColourVendor;
}

uint32_t markEvent(CaptureRecord record) {
    record.setByteCount(0);
    if (record.kind() == static_cast<uint8_t>(EventKind::CaptureHeader)) return kColourHeader;
    const EventRowInfo* info = eventRowInfo(record.kind());
    return info ? info->colour : kColourUnknown;
}

std::string headerSummary(ConstCaptureRecord record) {
    std::string text = "说明：本次测试 ";
    if (record.at(0) == 2)
        text += "充电模式 ";
    else if (record.at(0) == 1)
        text += "监听模式 ";
    if (record.at(15)) text += "拒收ACK ";
    if (record.at(14)) text += "拒收Ping ";
    if (record.at(1) == 1) text += "未校准电流 ";
    return text;
}

void fillControlTexts(ConstCaptureRecord record, ListRow& row) {
    row.columns[1] = "控制";
    if (record.command() < ControlMessageNames.size()) {
        row.columns[3] = ControlMessageNames[record.command()].english;
        row.columns[4] = ControlMessageNames[record.command()].chinese;
    }
}

void fillDataTexts(ConstCaptureRecord record, ListRow& row) {
    row.columns[1] = "数据";
    const std::optional<std::size_t> name = dataMessageRow(record.command());
    if (!name) {
        row.columns[3] = "无法解析";
        return;
    }
    row.columns[3] = DataMessageNames[*name].english;
    row.columns[4] = DataMessageNames[*name].chinese;
    if (record.command() == data_command::kRequest) {
        const uint16_t voltage = common::readBe16(record.bytes() + 20 + 4);
        const uint16_t current = common::readBe16(record.bytes() + 20 + 6);
        common::appendFormat(row.columns[4], " 电压：%.3fV 电流：%.3fA", voltage * 0.01,
                             current * 0.01);
    }
}

void fillEventTexts(ConstCaptureRecord record, ListRow& row) {
    if (record.kind() == static_cast<uint8_t>(EventKind::CaptureHeader)) {
        row.columns[4] = headerSummary(record);
        return;
    }
    if (const EventRowInfo* info = eventRowInfo(record.kind())) {
        row.columns[3] = info->message;
        row.columns[4] = info->summary;
    }
}

}  // namespace

const EventRowInfo* eventRowInfo(uint8_t kind) {
    for (const EventEntry& entry : kEventRows) {
        if (entry.kind == kind) return &entry.info;
    }
    return nullptr;
}

DataCheckResult DataMessageCheck(ConstCaptureRecord record) {
    DataCheckResult result;
    const unsigned command = record.command();
    const unsigned n = dataLength(record);
    const unsigned length = record.byteCount();
    auto malformed = [&result] {
        result.verdict = DataCheck::Malformed;
        return result;
    };
    if (!dataMessageRow(command)) return malformed();
    if (length < n + 6) return malformed();
    if (length > n + 6) {
        result.verdict = DataCheck::TooLong;
        return result;
    }

    switch (command) {
        case data_command::kOutputCapabilities:  // 1-7 mode records of 8 bytes, numbered in order
            if (n % 8 != 0 || n < 8 || n > 56) return malformed();
            for (unsigned i = 1; i <= n / 8; ++i) {
                const uint8_t first = dataByte(record, (i - 1) * 8);
                if ((first >> 4) != i || (first & 0x0E) > 8) return malformed();
            }
            break;
        case data_command::kRequest:
            if (n != 8 || (dataByte(record, 0) >> 4) > 7) return malformed();
            break;
        case data_command::kSourceInformation:  // never sent on D-
            if (n != 8 || record.kind() == static_cast<uint8_t>(EventKind::MessageDMinus)) {
                return malformed();
            }
            break;
        case data_command::kSinkInformation:  // never sent on D+, never addressed to the sink
            if (n != 8 || record.kind() == static_cast<uint8_t>(EventKind::MessageDPlus) ||
                record.receiver() == kReceiverSink) {
                return malformed();
            }
            break;
        case data_command::kCableInformation:
        case data_command::kDeviceInformation:
            if (n != 8) return malformed();
            break;
        case data_command::kErrorInformation:
            if (n != 4) return malformed();
            break;
        case data_command::kConfigWatchdog:
            if (n != 2) return malformed();
            break;
        case data_command::kRefuse: {  // type, command and reason of the refused message
            if (n != 4) return malformed();
            const unsigned type = dataByte(record, 1) & 7;
            const unsigned refusedCommand = dataByte(record, 2);
            if (type > 2) return malformed();
            if (type == kTypeData && refusedCommand > kLastDataCommand &&
                refusedCommand != kTestRequestCommand) {
                return malformed();
            }
            if (type == kTypeControl && refusedCommand > 15) return malformed();
            if (dataByte(record, 3) > 5) return malformed();
            break;
        }
        case data_command::kVerifyRequest:
            if (n != 17) return malformed();
            break;
        case data_command::kVerifyResponse:
            if (n != 48) return malformed();
            break;
        case data_command::kPowerChange:  // 1-7 mode records of 3 bytes, numbered in order
            if (n % 3 != 0 || n < 3 || n > 21) return malformed();
            for (unsigned i = 1; i <= n / 3; ++i) {
                if ((dataByte(record, (i - 1) * 3) >> 4) != i) return malformed();
            }
            break;
        default:  // Test_Request: any length
            break;
    }
    return result;
}

std::string timeText(uint16_t coarse, uint16_t fine) {
    return durationText((static_cast<int64_t>(coarse) * 50000 + fine) * 200);
}

std::string millisecondsText(int64_t us) {
    return common::format("%.1f ms", static_cast<double>(us) / 1000.0);
}

std::string durationText(int64_t us) {
    const uint64_t tenths = static_cast<uint64_t>(std::max<int64_t>(0, us)) / 100;  // 0.1 ms units
    return common::format("%d:%02d:%02d.%.3d", static_cast<int>(tenths / 36000000),
                          static_cast<int>(tenths % 36000000 / 600000),
                          static_cast<int>(tenths % 600000 / 10000),
                          static_cast<int>(tenths % 10000 / 10));
}

std::string voltageText(uint16_t millivolts) {
    return common::format("%.2f", millivolts * 0.001);
}

std::string_view baudText(uint8_t code) {
    switch (code) {
        case kBaud115200:
            return "115200";
        case kBaud57600:
            return "57600";
        case kBaud38400:
            return "38400";
        case kBaud19200:
            return "19200";
        default:
            return {};
    }
}

uint32_t markListRecord(CaptureRecord record) {
    uint32_t colour;
    if (!isMessageKind(record.kind())) {
        colour = markEvent(record);
    } else {
        switch (record.messageType()) {
            case kTypeControl:
                colour = markControl(record);
                break;
            case kTypeData:
                colour = markData(record);
                break;
            case kTypeVendor:
                colour = markVendor(record);
                break;
            default:
                colour = kColourFault;
        }
    }
    record.setRowColour(colour);
    return colour;
}

ListRow listRowTexts(ConstCaptureRecord record, uint32_t index) {
    ListRow row;
    row.colour = record.rowColour();
    row.columns[0] = common::format(" %u", index);
    if (record.receiver() <= kReceiverCable) {
        row.columns[2] = DeviceAddressNames[record.receiver() >> 5];
    }
    if (record.kind() != static_cast<uint8_t>(EventKind::CaptureHeader)) {
        row.columns[5] = voltageText(record.voltage());
        row.columns[6] = timeText(record.timeCoarse(), record.timeFine());
    }
    if (!isMessageKind(record.kind())) {
        fillEventTexts(record, row);
        return row;
    }
    row.columns[7] = baudText(record.baudCode());
    switch (record.messageType()) {
        case kTypeControl:
            fillControlTexts(record, row);
            break;
        case kTypeData:
            fillDataTexts(record, row);
            break;
        case kTypeVendor:
            row.columns[1] = "厂商";
            row.columns[3] = "厂商自定";
            row.columns[4] = common::format("ID:0x%.2X%.2X", record.at(18), record.at(19));
            break;
        default:
            row.columns[3] = "无法解析";
    }
    return row;
}

ListRow BuildListRow(CaptureRecord record, uint32_t index) {
    markListRecord(record);
    return listRowTexts(record, index);
}

std::optional<DeviceRanges> headerDeviceRanges(ConstCaptureRecord record) {
    if (record.kind() != static_cast<uint8_t>(EventKind::CaptureHeader)) return std::nullopt;
    return DeviceRanges{record.voltage(), record.current()};
}

}  // namespace ufcs
