#include "ufcs/decoder.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "common/format.h"
#include "ufcs/names.h"

namespace ufcs {
namespace {

using common::format;

constexpr std::size_t kMaxWarnings = 130;
constexpr const char* kLengthMismatch = "注意：数据长度不符!\r\n";

constexpr std::array<std::string_view, 8> kLineSignalTexts = {
    "\r\n D+ 握手信号",
    "\r\n 供电设备应答握手信号",
    "\r\n D- 握手信号",
    "\r\n 充电设备回复握手信号",
    "\r\n D+发出充电设备硬件复位命令",
    "\r\n D-发出供电设备硬件复位命令",
    "\r\n D+发出线缆硬件复位命令",
    "\r\n D-发出线缆硬件复位命令",
};

struct ErrorFlag {
    uint8_t dataByte;
    uint8_t bit;
    const char* name;
    const char* whenSet;
};

constexpr std::array<ErrorFlag, 15> kErrorFlags = {{
    {2, 6, "看门狗:%d", "  溢出"},
    {2, 5, "CRC:%d", "  错误"},
    {2, 4, "输入掉电:%d", "  报错"},
    {2, 3, "漏电流:%d", "  超标"},
    {2, 2, "输入UVP欠压保护:%d", "  触发"},
    {2, 1, "输入OVP过压保护:%d", "  触发"},
    {2, 0, "D+OVP过压保护:%d", "  触发"},
    {3, 7, "D-OVP过压保护:%d", "  触发"},
    {3, 6, "CCOVP过压保护:%d", "  触发"},
    {3, 5, "设备内部/电池OTP过温保护:%d", "  触发"},
    {3, 4, "USB接口OTP过温保护:%d", "  触发"},
    {3, 3, "输出SCP短路保护:%d", "  触发"},
    {3, 2, "输出OCP过流保护:%d", "  触发"},
    {3, 1, "输出UVP欠压保护:%d", "  触发"},
    {3, 0, "输出OVP过压保护:%d", "  触发"},
}};

void appendHexBytes(std::string& out, const uint8_t* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.reserve(out.size() + count * 3);
    for (std::size_t i = 0; i < count; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
        out += ' ';
    }
}

// One decode. The tree is kept flat while it grows (items refer to their
// parent by position) and nested at the end.
class Decoder {
  public:
    Decoder(ConstCaptureRecord record, uint32_t index) : record_(record), index_(index) {}

    DecodeResult run();

  private:
    static constexpr int kNoParent = -1;
    struct FlatItem {
        std::string text;
        int parent;
        bool visible;
    };

    // Record bytes: wire byte w is record byte 15 + w; data byte d of a data message is 20 + d.
    uint8_t wire(std::size_t offset) const { return record_.at(kWireOffset + offset); }
    uint8_t data(std::size_t offset) const { return record_.at(20 + offset); }
    uint16_t dataBe16(std::size_t offset) const {
        return static_cast<uint16_t>((data(offset) << 8) | data(offset + 1));
    }
    uint8_t address() const { return wire(1) >> 5; }

    void show(std::string_view text) { append(PaneType::Normal, text); }
    void append(PaneType type, std::string_view text);
    void warn(Severity severity, std::string text);
    void showWarnings();

    int addItem(int parent, std::string text);
    void makeVisible(int item) { items_[static_cast<std::size_t>(item)].visible = true; }
    void clearTree() { items_.clear(); }
    std::vector<TreeItem> nestedTree() const;

    bool decodeEvent();
    void decodeHeader();
    bool headerTypeValid();
    void decodeControl();
    void decodeData();
    void decodeVendor();
    void bodyLengthError();

    // Data commands; each returns the last field item it added.
    int outputCapabilities(int parent, unsigned length);
    int request(int parent);
    int sourceOrSinkInformation(int parent, bool source);
    int cableInformation(int parent);
    int deviceInformation(int parent);
    int errorInformation(int parent);
    int configWatchdog(int parent);
    int refuse(int parent);
    int verifyRequest(int parent);
    int verifyResponse(int parent);
    int powerChange(int parent, unsigned length);
    int testRequest(int parent);
    // Adds the field items as children of `parent`, each also a detail line.
    int fieldsWithDetail(int parent, const std::vector<std::string>& lines);

    ConstCaptureRecord record_;
    uint32_t index_;
    uint16_t byteCount_ = 0;
    DecodeResult result_;
    std::vector<FlatItem> items_;
};

void Decoder::append(PaneType type, std::string_view text) {
    if (!result_.pane.empty() && result_.pane.back().type == type) {
        result_.pane.back().text += text;
    } else {
        result_.pane.push_back(PaneText{type, std::string(text)});
    }
}

void Decoder::warn(Severity severity, std::string text) {
    if (result_.warnings.size() < kMaxWarnings) {
        result_.warnings.push_back(Warning{severity, std::move(text)});
    }
}

void Decoder::showWarnings() {
    for (std::size_t i = 0; i < result_.warnings.size(); ++i) {
        const Warning& warning = result_.warnings[i];
        const PaneType type =
            warning.severity == Severity::Error ? PaneType::Error : PaneType::Note;
        if (i == 0) append(type, "\r\n");
        append(type, warning.text);
    }
}

int Decoder::addItem(int parent, std::string text) {
    items_.push_back(FlatItem{std::move(text), parent, false});
    return static_cast<int>(items_.size() - 1);
}

std::vector<TreeItem> Decoder::nestedTree() const {
    // Parents always come before their children, so one backward pass can
    // hand each finished item to its parent.
    std::vector<TreeItem> nodes(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        nodes[i].text = items_[i].text;
        nodes[i].visible = items_[i].visible;
    }
    std::vector<std::vector<std::size_t>> childIds(items_.size());
    std::vector<std::size_t> rootIds;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].parent == kNoParent)
            rootIds.push_back(i);
        else
            childIds[static_cast<std::size_t>(items_[i].parent)].push_back(i);
    }
    for (std::size_t i = items_.size(); i-- > 0;) {
        for (std::size_t child : childIds[i])
            nodes[i].children.push_back(std::move(nodes[child]));
    }
    std::vector<TreeItem> roots;
    roots.reserve(rootIds.size());
    for (std::size_t id : rootIds)
        roots.push_back(std::move(nodes[id]));
    return roots;
}

DecodeResult Decoder::run() {
    if (decodeEvent()) return std::move(result_);
    byteCount_ = record_.byteCount();

    std::string dump = format("序号：%u \r\n", index_);
    dump += "数据信息(包括Training(0xAA)字符,消息头，消息主体及CRC)\r\n";
    // The record holds 305 captured bytes at most; a larger count is not the instrument's.
    appendHexBytes(dump, record_.wire(), std::min<std::size_t>(byteCount_, kMaxCapturedBytes));
    dump += "\r\n";
    show(dump);

    decodeHeader();
    if (headerTypeValid()) {
        switch (record_.messageType()) {
            case kTypeControl:
                decodeControl();
                break;
            case kTypeData:
                decodeData();
                break;
            default:
                decodeVendor();
                break;
        }
    }
    result_.roots = nestedTree();
    return std::move(result_);
}

bool Decoder::decodeEvent() {
    const uint8_t kind = record_.kind();
    if (isMessageKind(kind)) return false;
    if (isLineSignalKind(kind)) {
        std::string text = format("序号：%u \r\n", index_);
        text += kLineSignalTexts[kind - 0xF0];
        show(text);
    }
    return true;
}

void Decoder::decodeHeader() {
    clearTree();
    addItem(kNoParent, format("序号：%u \r\n", index_));
    const uint8_t h0 = wire(1);
    const uint8_t h1 = wire(2);
    const int header = addItem(kNoParent, format("消息头：%.2X %.2X", h0, h1));
    const unsigned addr = address();
    const unsigned version = h1 >> 3;
    const unsigned type = h1 & 0x07;
    std::string receiver = format("接收设备: %.2X ", addr);
    if (addr >= 1 && addr <= 3) receiver += DeviceAddressNames[addr];
    addItem(header, std::move(receiver));
    addItem(header, format("消息编号: %.2X ", (h0 >> 1) & 0x0F));
    addItem(header, format("协议版本: %.2X ", version) + (version == 1 ? " V1.0" : ""));
    std::string typeText = format("消息类型: %.2X ", type);
    if (type <= kTypeVendor) typeText += MessageTypeNames[type];
    makeVisible(addItem(header, std::move(typeText)));

    const uint8_t kind = record_.kind();
    if (kind == static_cast<uint8_t>(EventKind::MessageDMinus) && addr == 2) {
        warn(Severity::Error, "注意：D-线发出充电设备接收命令!\r\n");
    }
    if (kind == static_cast<uint8_t>(EventKind::MessageDPlus) && addr == 1) {
        warn(Severity::Error, "注意：D+线发出供电设备接收命令!\r\n");
    }
    if (record_.status() & kCrcError) {
        warn(Severity::Error, format("注意：校验码错误！应为：0x%.2x\r\n", record_.computedCrc()));
    }
    if (addr == 0 || addr > 3) warn(Severity::Error, "注意：接收设备地址错误！\r\n");
}

bool Decoder::headerTypeValid() {
    if (record_.messageType() <= kTypeVendor) return true;
    warn(Severity::Error, "注意：消息类型错误！\r\n");
    showWarnings();
    return false;
}

void Decoder::bodyLengthError() {
    warn(Severity::Error, kLengthMismatch);
    clearTree();
    addItem(kNoParent, format("序号：%u \r\n", index_));
    makeVisible(addItem(kNoParent, "数据长度不符!\r\n"));
    showWarnings();
}

void Decoder::decodeControl() {
    const uint8_t command = wire(3);
    std::string text = format("命令: 0x%.2X  ", command);
    if (command < ControlMessageNames.size())
        text += ControlMessageNames[command].english;
    else
        warn(Severity::Error, "注意：控制命令错误！\r\n");
    makeVisible(addItem(kNoParent, std::move(text)));
    makeVisible(addItem(kNoParent, format("CRC: %.2X", wire(4))));
    if (byteCount_ < 5) {
        bodyLengthError();
        return;
    }
    if (byteCount_ > 5) warn(Severity::Note, kLengthMismatch);
    showWarnings();
}

void Decoder::decodeVendor() {
    makeVisible(addItem(kNoParent, format("厂商ID: 0x%.2X%.2X ", wire(3), wire(4))));
    const unsigned length = wire(5);
    const std::string lengthText = format("数据长度: 0x%.2X (%u)", length, length);
    makeVisible(addItem(kNoParent, lengthText));
    std::string detail = "\r\n" + lengthText;
    if (byteCount_ < length + 7) {
        bodyLengthError();
        return;
    }
    if (byteCount_ > length + 7) warn(Severity::Note, kLengthMismatch);
    if (byteCount_ > 7) {
        std::string dataText = "数据: ";
        appendHexBytes(dataText, record_.wire() + 6, length);
        detail += "\r\n" + dataText + "\r\n";
        makeVisible(addItem(kNoParent, std::move(dataText)));
        show(detail);
    }
    makeVisible(addItem(kNoParent, format("CRC: %.2X", wire(6 + length))));
    showWarnings();
}

void Decoder::decodeData() {
    const uint8_t command = wire(3);
    std::string commandText = format("命令: 0x%.2X  ", command);
    if (const auto row = dataMessageRow(command))
        commandText += DataMessageNames[*row].english;
    else
        warn(Severity::Error, "注意：数据命令无法识别!\r\n");
    makeVisible(addItem(kNoParent, std::move(commandText)));

    const unsigned length = wire(4);
    int parent = addItem(kNoParent, format("数据长度: 0x%.2X (%u)", length, length));
    makeVisible(parent);
    if (byteCount_ > 6) {
        std::string dataText = "数据: ";
        appendHexBytes(dataText, record_.wire() + 5, length);
        parent = addItem(kNoParent, std::move(dataText));
    }
    if (byteCount_ < length + 6) {
        bodyLengthError();
        return;
    }
    if (byteCount_ > length + 6) warn(Severity::Note, kLengthMismatch);

    auto requireLength = [&](bool ok) {
        if (!ok) bodyLengthError();
        return ok;
    };
    int lastField = kNoParent;
    switch (command) {
        case data_command::kOutputCapabilities:
            if (!requireLength(length % 8 == 0 && length >= 8 && length <= 56)) return;
            lastField = outputCapabilities(parent, length);
            break;
        case data_command::kRequest:
            if (!requireLength(length == 8)) return;
            lastField = request(parent);
            break;
        case data_command::kSourceInformation:
        case data_command::kSinkInformation:
            if (!requireLength(length == 8)) return;
            lastField =
                sourceOrSinkInformation(parent, command == data_command::kSourceInformation);
            break;
        case data_command::kCableInformation:
            if (!requireLength(length == 8)) return;
            lastField = cableInformation(parent);
            break;
        case data_command::kDeviceInformation:
            if (!requireLength(length == 8)) return;
            lastField = deviceInformation(parent);
            break;
        case data_command::kErrorInformation:
            if (!requireLength(length == 4)) return;
            lastField = errorInformation(parent);
            break;
        case data_command::kConfigWatchdog:
            if (!requireLength(length == 2)) return;
            lastField = configWatchdog(parent);
            break;
        case data_command::kRefuse:
            if (!requireLength(length == 4)) return;
            lastField = refuse(parent);
            break;
        case data_command::kVerifyRequest:
            if (!requireLength(length == 17)) return;
            lastField = verifyRequest(parent);
            break;
        case data_command::kVerifyResponse:
            if (!requireLength(length == 48)) return;
            lastField = verifyResponse(parent);
            break;
        case data_command::kPowerChange:
            if (!requireLength(length % 3 == 0 && length >= 3 && length <= 21)) return;
            lastField = powerChange(parent, length);
            break;
        case kTestRequestCommand:
            lastField = testRequest(parent);
            break;
        default:
            break;
    }
    if (lastField != kNoParent) makeVisible(lastField);
    makeVisible(addItem(kNoParent, format("CRC: %.2X", data(length))));
    showWarnings();
}

int Decoder::fieldsWithDetail(int parent, const std::vector<std::string>& lines) {
    int last = kNoParent;
    std::string detail;
    for (const std::string& line : lines) {
        last = addItem(parent, line);
        detail += "\r\n" + line;
    }
    show(detail);
    return last;
}

int Decoder::outputCapabilities(int parent, unsigned length) {
    int last = kNoParent;
    for (unsigned i = 0; i < length / 8; ++i) {
        const unsigned at = i * 8;
        const unsigned number = data(at) >> 4;
        const unsigned step = (data(at) >> 1) & 0x07;
        const unsigned maxVoltage = dataBe16(at + 1);
        const unsigned minVoltage = dataBe16(at + 3);
        const unsigned maxCurrent = dataBe16(at + 5);
        const unsigned minCurrent = data(at + 7);

        std::string modeText = format("输出模式%u: ", number);
        appendHexBytes(modeText, record_.bytes() + 20 + at, 8);
        const int mode = addItem(parent, std::move(modeText));
        addItem(mode, format("输出模式编号:%.2X (%u)", number, number));
        std::string stepText = format("电流调节步进:%.2X ", step);
        if (step <= 4) {
            stepText += format("%umA", (step + 1) * 10);
        } else {
            stepText += "保留";
            warn(Severity::Error, format("注意：输出模式%u 电流调节步进不在规定范围!\r\n", number));
        }
        addItem(mode, std::move(stepText));
        addItem(mode, (data(at) & 1) ? "电压调节最小步进:01 20mV" : "电压调节最小步进:00 10mV");
        addItem(mode, format("最大输出电压:%.4X %umV", maxVoltage, maxVoltage * 10));
        addItem(mode, format("最小输出电压:%.4X %umV", minVoltage, minVoltage * 10));
        addItem(mode, format("最大输出电流:%.4X %umA", maxCurrent, maxCurrent * 10));
        last = addItem(mode, format("最小输出电流:%.2X %umA", minCurrent, minCurrent * 10));
        if (number != i + 1) warn(Severity::Error, "注意：输出模式编号不符!\r\n");
        show(format("\r\n 输出模式%u: %g-%gV   %g-%gA", number, minVoltage * 0.01,
                    maxVoltage * 0.01, minCurrent * 0.01, maxCurrent * 0.01));
        makeVisible(last);
    }
    return last;
}

int Decoder::request(int parent) {
    const unsigned number = data(0) >> 4;
    const unsigned voltage = dataBe16(4);
    const unsigned current = dataBe16(6);
    const std::string numberText = format("输出模式编号:0x%.2X (%u)", number, number);
    const std::string voltageText = format("请求输出电压:0x%.4X %umV", voltage, voltage * 10);
    const std::string currentText = format("请求输出电流:0x%.4X %umA", current, current * 10);
    addItem(parent, numberText);
    addItem(parent, voltageText);
    const int last = addItem(parent, currentText);
    show("\r\n请求" + numberText + "\r\n" + voltageText + "\r\n" + currentText);
    if (number > 7) warn(Severity::Error, "\r\n注意：请求输出模式编号超过7\r\n");
    return last;
}

int Decoder::sourceOrSinkInformation(int parent, bool source) {
    const unsigned first = data(2);
    const unsigned second = data(3);
    const unsigned voltage = dataBe16(4);
    const unsigned current = dataBe16(6);
    const int firstDegrees = static_cast<int>(first) - 50;
    const int secondDegrees = static_cast<int>(second) - 50;
    if (source) {
        if (address() == 1) warn(Severity::Error, "注意：此消息只能充电设备接收\r\n");
        return fieldsWithDetail(parent,
                                {format("当前供电设备内部温度:%.2X %d度", first, firstDegrees),
                                 format("当前供电设备USB接口温度:%.2X %d度", second, secondDegrees),
                                 format("当前输出电压:%.4X %umV", voltage, voltage * 10),
                                 format("当前输出电流:%.4X %umA", current, current * 10)});
    }
    if (address() == 2) warn(Severity::Error, "注意：此消息只能由供电设备接收\r\n");
    return fieldsWithDetail(parent,
                            {format("当前充电设备电池温度:%.2X %d度", first, firstDegrees),
                             format("当前充电设备USB接口温度:%.2X %d度", second, secondDegrees),
                             format("当前电池电压:%.4X %umV", voltage, voltage * 10),
                             format("当前充电电流:%.4X %umA", current, current * 10)});
}

int Decoder::cableInformation(int parent) {
    const unsigned impedance = dataBe16(4);
    return fieldsWithDetail(parent, {format("线缆阻抗:%.4X %u毫欧", impedance, impedance),
                                     format("最大承载电压:%.2X %uV", data(6), data(6)),
                                     format("最大承载电流:%.2X %uA", data(7), data(7))});
}

int Decoder::deviceInformation(int parent) {
    const unsigned hardware = dataBe16(4);
    const unsigned software = dataBe16(6);
    return fieldsWithDetail(parent, {format("设备硬件版本号:%.4X (%u)", hardware, hardware),
                                     format("设备软件版本号:%.4X (%u)", software, software)});
}

int Decoder::errorInformation(int parent) {
    int last = kNoParent;
    std::string detail;
    for (const ErrorFlag& flag : kErrorFlags) {
        const int set = (data(flag.dataByte) >> flag.bit) & 1;
        std::string line = format(flag.name, set);
        if (set) {
            line += flag.whenSet;
            detail += "\r\n" + line;
        }
        last = addItem(parent, std::move(line));
    }
    show(detail);
    return last;
}

int Decoder::configWatchdog(int parent) {
    const unsigned milliseconds = dataBe16(0);
    const std::string text = format("看门狗定时器溢出时间:%.4X %umS", milliseconds, milliseconds);
    const int item = addItem(parent, text);
    show("\r\n配置" + text);
    return item;
}

int Decoder::refuse(int parent) {
    const unsigned number = data(0) & 0x0F;
    const unsigned type = data(1) & 0x07;
    const unsigned command = data(2);
    const unsigned reason = data(3);

    const std::string numberText = format("消息编号:%.2X (%u) ", number, number);
    std::string typeText = format("消息类型:%.2X (%u) ", type, type);
    if (type <= kTypeVendor)
        typeText += MessageTypeNames[type];
    else
        warn(Severity::Error, "注意：拒绝消息类型无法识别！\r\n");

    std::string commandText = format("命令编号:%.2X (%u) ", command, command);
    if (type == kTypeControl) {
        if (command < ControlMessageNames.size())
            commandText += ControlMessageNames[command].english;
        else
            warn(Severity::Error, "注意：拒绝命令编号无法识别！\r\n");
    } else if (type == kTypeData) {
        const auto row = dataMessageRow(command);
        if (row && *row != 0)
            commandText += DataMessageNames[*row].english;
        else
            warn(Severity::Error, "注意：拒绝命令编号无法识别！\r\n");
    }

    std::string reasonText = format("拒绝原因:%.2X (%u) ", reason, reason);
    const std::string_view reasonName = nameOrEmpty(RefuseReasonNames, reason);
    if (reason < RefuseReasonNames.size())
        reasonText += reasonName;
    else
        warn(Severity::Error, "注意：拒绝原因无法识别！\r\n");

    addItem(parent, numberText);
    addItem(parent, typeText);
    addItem(parent, commandText);
    const int last = addItem(parent, reasonText);
    show("\r\n拒绝" + numberText + "\r\n拒绝" + typeText + "\r\n拒绝" + commandText + "\r\n" +
         std::string(reasonName));
    return last;
}

int Decoder::verifyRequest(int parent) {
    std::string random = "随机数据:";
    appendHexBytes(random, record_.bytes() + 20 + 1, 16);
    return fieldsWithDetail(parent, {format("密钥编号:%.2X (%u) ", data(0), data(0)), random});
}

int Decoder::verifyResponse(int parent) {
    std::string encrypted = "加密数据:";
    appendHexBytes(encrypted, record_.bytes() + 20, 32);
    std::string random = "随机数据:";
    appendHexBytes(random, record_.bytes() + 20 + 32, 16);
    return fieldsWithDetail(parent, {encrypted, random});
}

int Decoder::powerChange(int parent, unsigned length) {
    show("\r\n功率改变:\r\n");
    int last = kNoParent;
    for (unsigned i = 0; i < length / 3; ++i) {
        const unsigned at = i * 3;
        const unsigned number = data(at) >> 4;
        const unsigned current = dataBe16(at + 1);
        std::string modeText = format("输出模式%u: ", number);
        appendHexBytes(modeText, record_.bytes() + 20 + at, 3);
        const int mode = addItem(parent, std::move(modeText));
        makeVisible(mode);
        addItem(mode, format("输出模式编号:%.2X %u", number, number));
        last = addItem(mode, format("最大输出电流:%.4X %umA", current, current * 10));
        if (number != i + 1) warn(Severity::Error, "注意：输出模式编号不符!\r\n");
        show(format("输出模式%u: 最大输出电流 %umA\r\n", number, current * 10));
        makeVisible(last);
    }
    return last;
}

int Decoder::testRequest(int parent) {
    const uint8_t flags = data(0);
    const unsigned testAddress = (flags >> 3) & 0x07;
    const unsigned type = flags & 0x07;
    std::string typeText = "消息类型:";
    if (type <= kTypeVendor) typeText += MessageTypeNames[type];
    return fieldsWithDetail(parent,
                            {(flags & 0x80) ? "测试模式:1 使能" : "测试模式:0 关闭",
                             (flags & 0x40) ? "电压精度测试模式:1 使能" : "电压精度测试模式:0 关闭",
                             format("设备地址:%.2X (%u) ", testAddress, testAddress), typeText,
                             format("命令编号:%.2X (%u) ", data(1), data(1))});
}

}  // namespace

DecodeResult decodeRecord(ConstCaptureRecord record, uint32_t index) {
    return Decoder(record, index).run();
}

std::string paneText(const DecodeResult& result) {
    std::string text;
    for (const PaneText& segment : result.pane)
        text += segment.text;
    return text;
}

}  // namespace ufcs
