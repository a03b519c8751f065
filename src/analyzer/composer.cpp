#include "analyzer/composer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "common/byte_order.h"
#include "common/format.h"
#include "common/integer_field.h"
#include "ufcs/names.h"

namespace analyzer {
namespace {

constexpr int kChargingDevice = 2;

// Send codes by position 0-19; 0 for an entry that is never sent (Get_Sink_Info).
namespace code = device::send_code;
constexpr std::array<uint8_t, 20> kSendCodes = {code::kPing,
                                                code::kSoftReset,
                                                code::kGetOutputCapabilities,
                                                code::kGetSourceInfo,
                                                0x00,
                                                code::kGetDeviceInfo,
                                                code::kGetErrorInfo,
                                                code::kDetectCableInfo,
                                                code::kStartCableDetect,
                                                code::kExitUfcsMode,
                                                code::kRequest,
                                                code::kConfigWatchdog,
                                                code::kVerifyRequest,
                                                code::kVerifyResponse,
                                                code::kTestRequest,
                                                code::kVendor,
                                                code::kSetBaudRate,
                                                code::kCustom,
                                                code::kGetCableInfo,
                                                code::kHardwareReset};

constexpr std::array<const char*, 3> kDeviceNames = {"供电设备", "充电设备", "线缆电子标签"};
constexpr std::array<const char*, 3> kTestTypeNames = {"控制消息", "数据消息", "自定义消息"};
constexpr const char* kSixteenBytes = "请输入16个十六进制数，注意数据用空格分开!";
constexpr std::array<int, 4> kBaudRates = {115200, 57600, 38400, 19200};

Frame emptySendFrame() {
    return device::sendFrame(0, 0);
}

void putRequest(Frame& frame, int mode, int current10mA, int voltage10mV) {
    frame[3] = device::send_code::kRequest;
    frame[4] = 8;
    common::writeLe16(frame.data() + 5, static_cast<uint16_t>(current10mA));
    common::writeLe16(frame.data() + 7, static_cast<uint16_t>(voltage10mV));
    frame[9] = static_cast<uint8_t>(mode);
}

// A message longer than one report: byte 1 counts the reports, byte 5 numbers
// them, and each carries the next 59 message bytes from byte 6; later bytes
// keep what the report before left there.
std::vector<Frame> segmented(Frame frame, const std::vector<uint8_t>& message,
                             std::size_t reports) {
    std::vector<Frame> frames;
    frame[1] = static_cast<uint8_t>(reports);
    for (std::size_t sent = 0, sequence = 1; sequence <= reports; ++sequence) {
        const std::size_t take = std::min(device::kSegmentBytes, message.size() - sent);
        frame[5] = static_cast<uint8_t>(sequence);
        std::memcpy(frame.data() + device::kSegmentOffset, message.data() + sent, take);
        sent += take;
        frames.push_back(frame);
    }
    return frames;
}

std::string hexList(const uint8_t* bytes, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        common::appendFormat(text, "%02X ", bytes[i]);
    return text;
}

std::string detailText(int position, const SendPages& pages) {
    switch (position) {
        case kSendRequest:
            return common::format("请求电压：%dmV\r\n请求电流：%dmA\r\n模式编号：%d\r\n",
                                  pages.requestMillivolts, pages.requestMilliamps,
                                  pages.requestMode);
        case kSendConfigWatchdog:
            return common::format("溢出时间：%dms\r\n", pages.watchdogMilliseconds);
        case kSendVerifyRequest:
            return common::format("密钥编号：%d \r\n随机数据：", pages.keyIndex) +
                   hexList(pages.verifyRandom.data(), 16) + "\r\n";
        case kSendVerifyResponse:
            return "加密数据：" + hexList(pages.encrypted.data(), 32) + "\r\n随机数据：" +
                   hexList(pages.responseRandom.data(), 16) + "\r\n";
        case kSendTestRequest:
            return std::string("电压精度测试模式：") + (pages.voltageAccuracy ? "使能" : "关闭") +
                   "\r\n消息类型：" +
                   kTestTypeNames[static_cast<std::size_t>(pages.testMessageType)] +
                   " \r\n设备地址：" + kDeviceNames[static_cast<std::size_t>(pages.testDevice)] +
                   common::format("\r\n命令编号：%d\r\n\r\n", pages.testCommand);
        case kSendVendor:
            return std::string("设备地址：") +
                   kDeviceNames[static_cast<std::size_t>(pages.vendorReceiver)] +
                   common::format("\r\n厂商ID：%04X",
                                  (pages.vendorId[0] << 8) | pages.vendorId[1]) +
                   "\r\n随机数据：" + hexList(pages.vendorData.data(), pages.vendorData.size()) +
                   "\r\n";
        case kSendBaudRate:
            return common::format("%d\r\n", pages.baudRate);
        case kSendCustom:
            return "数据：" + hexList(pages.customBytes.data(), pages.customBytes.size()) + "\r\n";
        default:
            return {};
    }
}

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::vector<Frame> composeSend(int position, int mode, const SendPages& pages,
                               const instrument::OutputCapabilityTable& table,
                               const PendingOutputRequest& pending) {
    if (mode != kChargingDevice) return {};
    Frame frame = emptySendFrame();
    if (position >= 0 && position < static_cast<int>(kSendCodes.size()))
        frame[3] = kSendCodes[position];
    switch (position) {
        case kSendRequest:
            putRequest(frame, pages.requestMode, pages.requestMilliamps / 10,
                       pages.requestMillivolts / 10);
            break;
        case kSendConfigWatchdog:
            frame[4] = 2;
            common::writeLe16(frame.data() + 5, static_cast<uint16_t>(pages.watchdogMilliseconds));
            break;
        case kSendVerifyRequest:
            frame[4] = 17;
            frame[5] = pages.keyIndex;
            std::copy(pages.verifyRandom.begin(), pages.verifyRandom.end(), frame.begin() + 6);
            break;
        case kSendVerifyResponse:
            frame[4] = 48;
            std::copy(pages.encrypted.begin(), pages.encrypted.end(), frame.begin() + 5);
            std::copy(pages.responseRandom.begin(), pages.responseRandom.end(), frame.begin() + 37);
            break;
        case kSendTestRequest:
            frame[4] = 4;
            frame[5] = static_cast<uint8_t>(pages.testMessageType);
            frame[6] = static_cast<uint8_t>(pages.testDevice);
            frame[7] = static_cast<uint8_t>(pages.voltageAccuracy);
            frame[8] = static_cast<uint8_t>(pages.testCommand);
            frame[9] = static_cast<uint8_t>(pages.testMode);
            break;
        case kSendVendor: {
            const std::size_t length = pages.vendorData.size();
            frame[4] = static_cast<uint8_t>(length);
            std::vector<uint8_t> message = {static_cast<uint8_t>(pages.vendorReceiver + 1), 0,
                                            pages.vendorId[0], pages.vendorId[1]};
            message.insert(message.end(), pages.vendorData.begin(), pages.vendorData.end());
            return segmented(frame, message, length <= 55 ? 1 : 2);
        }
        case kSendBaudRate:
            frame[4] = 2;
            common::writeLe16(frame.data() + 5, static_cast<uint16_t>(pages.baudRate & 0xFFFF));
            break;
        case kSendCustom: {
            const std::size_t count = pages.customBytes.size();
            frame[4] = static_cast<uint8_t>(count - 3);
            const std::size_t further =
                count <= device::kSegmentBytes
                    ? 0
                    : (count - device::kSegmentBytes + device::kSegmentBytes - 1) /
                          device::kSegmentBytes;
            return segmented(frame, pages.customBytes, std::min<std::size_t>(1 + further, 5));
        }
        case kSendPendingRequest:
            putRequest(frame, pending.mode, pending.milliamps / 10, pending.millivolts / 10);
            break;
        default:
            if (position >= kSendFirstOutputMode && position <= kSendLastOutputMode) {
                // The panel asks for a mode at its maximum voltage and current, as the table has
                // them.
                const instrument::OutputModeEntry entry =
                    table.entry(position - kSendFirstOutputMode);
                putRequest(frame, position - kSendFirstOutputMode + 1, entry.maxCurrent10mA,
                           entry.maxVoltage10mV);
            }
    }
    return {frame};
}

std::string sendLogEntry(int position, const SendPages& pages, bool written,
                         common::LocalTime time) {
    if (position < 0 || position >= static_cast<int>(ufcs::SendMenuEntries.size())) return {};
    std::string entry = common::format("%d:%02d:%02d  \r\n ", time.hour, time.minute, time.second);
    entry += ufcs::SendMenuEntries[static_cast<std::size_t>(position)];
    if (!written) return entry + "失败!!\r\n";
    if (position <= kSendExitUfcsMode) return entry + "\r\n\r\n";
    return entry + "\r\n" + detailText(position, pages) + "\r\n";
}

std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view text, std::size_t least,
                                                  std::size_t most) {
    std::vector<uint8_t> bytes;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text[at] == ' ') {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && text[end] != ' ') {
            if (!isHexDigit(text[end])) return std::nullopt;
            ++end;
        }
        if (end - at > 2) return std::nullopt;
        unsigned value = 0;
        std::from_chars(text.data() + at, text.data() + end, value, 16);
        bytes.push_back(static_cast<uint8_t>(value));
        if (bytes.size() > most) return std::nullopt;
        at = end;
    }
    if (bytes.size() < least) return std::nullopt;
    return bytes;
}

std::vector<std::string> pageFieldNames(int position) {
    switch (position) {
        case kSendRequest:
            return {"mode-number", "voltage", "current"};
        case kSendConfigWatchdog:
            return {"ms"};
        case kSendVerifyRequest:
            return {"key-index", "random"};
        case kSendVerifyResponse:
            return {"encrypted", "random"};
        case kSendTestRequest:
            return {"test-mode", "voltage-accuracy", "message-type", "device", "command"};
        case kSendVendor:
            return {"receiver", "vendor-id", "data"};
        case kSendBaudRate:
            return {"baud"};
        case kSendCustom:
            return {"bytes"};
        default:
            return {};
    }
}

std::optional<PageProblem> requestOutsideModes(const SendPages& pages,
                                               const instrument::OutputCapabilityTable& table) {
    const int modes = table.countedEntries();
    if (pages.requestMode < 1 || pages.requestMode > modes) {
        return PageProblem{"mode-number", modes == 0
                                              ? std::string("充电器没有报告输出模式")
                                              : common::format("充电器的输出模式是 1-%d", modes)};
    }
    const instrument::OutputModeEntry entry = table.entry(pages.requestMode - 1);
    const int leastVolts = entry.minVoltage10mV * 10, mostVolts = entry.maxVoltage10mV * 10;
    if (pages.requestMillivolts < leastVolts || pages.requestMillivolts > mostVolts) {
        return PageProblem{"voltage", common::format("模式 %d 的电压范围是 %d-%d mV",
                                                     pages.requestMode, leastVolts, mostVolts)};
    }
    const int leastAmps = entry.minCurrent10mA * 10, mostAmps = entry.maxCurrent10mA * 10;
    if (pages.requestMilliamps < leastAmps || pages.requestMilliamps > mostAmps) {
        return PageProblem{"current", common::format("模式 %d 的电流范围是 %d-%d mA",
                                                     pages.requestMode, leastAmps, mostAmps)};
    }
    return std::nullopt;
}

std::optional<PageProblem> checkPage(int position, const std::vector<PageField>& fields,
                                     SendPages& pages) {
    SendPages checked = pages;
    auto given = [&](const std::string& name) -> const std::string* {
        for (const PageField& field : fields) {
            if (field.name == name) return &field.text;
        }
        return nullptr;
    };
    // A number field keeps its value when not given; a hex field starts empty.
    auto number = [&](const std::string& name, int& target, long long least,
                      long long most) -> std::optional<PageProblem> {
        const std::string* text = given(name);
        if (!text) return std::nullopt;
        const common::IntegerField field = common::checkIntegerField(*text, least, most);
        if (field.problem) return PageProblem{name, *field.problem};
        target = static_cast<int>(field.value);
        return std::nullopt;
    };
    auto hex = [&](const std::string& name, std::size_t least, std::size_t most) {
        const std::string* text = given(name);
        return parseHexBytes(text ? *text : std::string(), least, most);
    };
    std::optional<PageProblem> error;
    switch (position) {
        case kSendRequest:
            if ((error = number("mode-number", checked.requestMode, 1, 7))) return error;
            if ((error = number("voltage", checked.requestMillivolts, 10, 300000))) return error;
            if ((error = number("current", checked.requestMilliamps, 10, 100000))) return error;
            break;
        case kSendConfigWatchdog:
            if ((error = number("ms", checked.watchdogMilliseconds, 0, 65535))) return error;
            break;
        case kSendVerifyRequest: {
            const auto key = hex("key-index", 1, 1);
            if (!key) return PageProblem{"key-index", "请输入一个十六进制数!"};
            const auto random = hex("random", 16, 16);
            if (!random) return PageProblem{"random", kSixteenBytes};
            checked.keyIndex = (*key)[0];
            std::copy(random->begin(), random->end(), checked.verifyRandom.begin());
            break;
        }
        case kSendVerifyResponse: {
            const auto encrypted = hex("encrypted", 32, 32);
            if (!encrypted)
                return PageProblem{"encrypted", "请输入32个十六进制数，注意数据用空格分开!"};
            const auto random = hex("random", 16, 16);
            if (!random) return PageProblem{"random", kSixteenBytes};
            std::copy(encrypted->begin(), encrypted->end(), checked.encrypted.begin());
            std::copy(random->begin(), random->end(), checked.responseRandom.begin());
            break;
        }
        case kSendTestRequest:
            if ((error = number("test-mode", checked.testMode, 0, 1))) return error;
            if ((error = number("voltage-accuracy", checked.voltageAccuracy, 0, 1))) return error;
            if ((error = number("message-type", checked.testMessageType, 0, 2))) return error;
            if ((error = number("device", checked.testDevice, 0, 2))) return error;
            if ((error = number("command", checked.testCommand, -2147483647, 2147483647)))
                return error;
            break;
        case kSendVendor: {
            int receiver = checked.vendorReceiver + 1;
            if ((error = number("receiver", receiver, 1, 3))) return error;
            const auto id = hex("vendor-id", 2, 2);
            if (!id) return PageProblem{"vendor-id", "请输入2个十六进制数，数据用空格分开!"};
            const auto data = hex("data", 1, 58);
            if (!data) return PageProblem{"data", "请输入1-58个十六进制数，数据用空格分开!"};
            checked.vendorReceiver = receiver - 1;
            checked.vendorId = {(*id)[0], (*id)[1]};
            checked.vendorData = *data;
            break;
        }
        case kSendBaudRate: {
            int baud = checked.baudRate;
            if ((error = number("baud", baud, 19200, 115200))) return error;
            if (std::find(kBaudRates.begin(), kBaudRates.end(), baud) == kBaudRates.end()) {
                return PageProblem{"baud", "波特率只能是115200、57600、38400或19200"};
            }
            checked.baudRate = baud;
            break;
        }
        case kSendCustom: {
            const auto bytes = hex("bytes", 3, 258);
            if (!bytes) return PageProblem{"bytes", "请输入3-258个十六进制数，注意数据用空格分开!"};
            checked.customBytes = *bytes;
            break;
        }
        default:
            break;
    }
    pages = checked;
    return std::nullopt;
}

}  // namespace analyzer
