#pragma once
// The analyzer's UFCS vocabulary. Each table is indexed directly by the code
// it names; an empty entry is a code without a name. Callers test a code
// against the table's bound (or use the lookups below) before indexing.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ufcs {

struct CommandName {
    std::string_view english;
    std::string_view chinese;
};

// UFCS command numbers (the byte after the header), as the tables below name them.
namespace control_command {
inline constexpr uint8_t kPing = 0x00;
inline constexpr uint8_t kAck = 0x01;
inline constexpr uint8_t kNck = 0x02;
inline constexpr uint8_t kAccept = 0x03;
inline constexpr uint8_t kSoftReset = 0x04;
inline constexpr uint8_t kPowerReady = 0x05;
inline constexpr uint8_t kGetOutputCapabilities = 0x06;
inline constexpr uint8_t kGetSourceInfo = 0x07;
inline constexpr uint8_t kGetSinkInfo = 0x08;
inline constexpr uint8_t kGetCableInfo = 0x09;
inline constexpr uint8_t kGetDeviceInfo = 0x0A;
inline constexpr uint8_t kGetErrorInfo = 0x0B;
inline constexpr uint8_t kDetectCableInfo = 0x0C;
inline constexpr uint8_t kStartCableDetect = 0x0D;
inline constexpr uint8_t kEndCableDetect = 0x0E;
inline constexpr uint8_t kExitUfcsMode = 0x0F;
}  // namespace control_command
namespace data_command {
inline constexpr uint8_t kOutputCapabilities = 0x01;
inline constexpr uint8_t kRequest = 0x02;
inline constexpr uint8_t kSourceInformation = 0x03;
inline constexpr uint8_t kSinkInformation = 0x04;
inline constexpr uint8_t kCableInformation = 0x05;
inline constexpr uint8_t kDeviceInformation = 0x06;
inline constexpr uint8_t kErrorInformation = 0x07;
inline constexpr uint8_t kConfigWatchdog = 0x08;
inline constexpr uint8_t kRefuse = 0x09;
inline constexpr uint8_t kVerifyRequest = 0x0A;
inline constexpr uint8_t kVerifyResponse = 0x0B;
inline constexpr uint8_t kPowerChange = 0x0C;
inline constexpr uint8_t kTestRequest = 0xFF;
}  // namespace data_command

// By the 3-bit message type of header byte H1.
inline constexpr std::array<std::string_view, 8> MessageTypeNames = {"控制", "数据", "自定义", "",
                                                                     "",     "",     "",       ""};

// By the 3-bit receiver address of header byte H0; only 1-3 are valid.
inline constexpr std::array<std::string_view, 8> DeviceAddressNames = {
    "", "供电设备", "充电设备", "线缆", "", "", "", ""};

// By the control command byte, 0x00-0x0F.
inline constexpr std::array<CommandName, 16> ControlMessageNames = {{
    {"Ping", "Ping"},
    {"ACK", "正常接收"},
    {"NCK", "接收错误"},
    {"Accept", "接受请求"},
    {"Soft_Reset", "软启动"},
    {"Power_Ready", "电压调整完毕"},
    {"Get_Output_Capabilities", "获取电源输出能力"},
    {"Get_Source_Info", "获取供电设备信息"},
    {"Get_Sink_Info", "获取充电设备信息"},
    {"Get_Cable_Info", "获取电缆信息"},
    {"Get_Device_Info", "获取设备信息"},
    {"Get_Error_Info", "获取异常信息"},
    {"Detect_Cable_Info", "委托测试电缆信息"},
    {"Start_Cable_Detect", "开始电缆测试"},
    {"End_Cable_Detect", "电缆测试结束"},
    {"Exit_UFCS_Mode", "退出UFCS模式"},
}};

// Row 0 is empty, rows 1-12 are data commands 0x01-0x0C, row 13 is command 0xFF.
inline constexpr std::array<CommandName, 14> DataMessageNames = {{
    {"", ""},
    {"Output_Capabilities", "列举供电设备输出模式"},
    {"Request", "请求"},
    {"Source_Information", "供电设备信息"},
    {"Sink_Information", "充电设备信息"},
    {"Cable_Information", "电缆信息"},
    {"Device_Information", "设备信息"},
    {"Error_Information", "错误信息"},
    {"Config_Watchdog", "配置看门狗"},
    {"Refuse", "拒绝"},
    {"Verify_Request", "验证请求"},
    {"Verify_Response", "验证响应"},
    {"Power_Change", "功率变化"},
    {"Test_Request", "测试请求"},
}};

// By the reason byte of a Refuse message, 0-5.
inline constexpr std::array<std::string_view, 6> RefuseReasonNames = {
    "",
    "无法识别的命令或数据",
    "不支持的命令或数据",
    "设备忙，暂无法响应",
    "请求的输出电压、电流或功率超出范围",
    "其它原因",
};

// By the analyzer's operating mode; entry 0 is empty.
inline constexpr std::array<std::string_view, 6> OperatingModeNames = {
    "", "监听模式", "充电设备", "充电设备+线缆标签", "供电设备", "供电设备+线缆标签"};

// The send dialog's message list; the composer gives each position its frame.
inline constexpr std::array<std::string_view, 20> SendMenuEntries = {
    "Ping",
    "Soft_Reset",
    "Get_Output_Capabilities",
    "Get_Source_Info",
    "Get_Sink_Info",
    "Get_Device_Info",
    "Get_Error_Info",
    "Detect_Cable_Info",
    "Start_Cable_Detect",
    "Exit_UFCS_Mode",
    "Request",
    "Config_Watchdog",
    "Verify_Request",
    "Verify_Response",
    "Test_Request",
    "厂商消息",
    "设置波特率",
    "定制发送",
    "Get_Cable_Info",
    "硬件复位",
};

inline constexpr unsigned kTestRequestCommand = data_command::kTestRequest;
inline constexpr std::size_t kTestRequestRow = 13;

// Row of DataMessageNames for a data command byte: 0x01-0x0C their own row,
// 0xFF row 13. Other commands have no row, 0x00 among them: the standard
// leaves it undefined (row 0 is empty).
constexpr std::optional<std::size_t> dataMessageRow(unsigned command) {
    if (command >= data_command::kOutputCapabilities && command <= data_command::kPowerChange)
        return command;
    if (command == kTestRequestCommand) return kTestRequestRow;
    return std::nullopt;
}

// Entry `code` of `table`, or "" when the code lies past its end.
template <std::size_t N>
constexpr std::string_view nameOrEmpty(const std::array<std::string_view, N>& table,
                                       unsigned code) {
    return code < N ? table[code] : std::string_view{};
}

}  // namespace ufcs
