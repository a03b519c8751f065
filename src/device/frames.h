#pragma once
// What every program and the simulated instrument agree on about the frames
// on the link: the 68-byte command frame with its 10-byte header, the command
// codes, the UFCS-send frames (codes and segments), the heads of the
// instrument's replies and the connect reply. Each program's own report
// bodies live with that program.

#include <array>
#include <cstddef>
#include <cstdint>

namespace device {

inline constexpr std::size_t kReportSize = 64;
// Report id byte 0, the 64 report bytes, and spare room the frames never use.
inline constexpr std::size_t kCommandFrameSize = 68;
using CommandFrame = std::array<uint8_t, kCommandFrameSize>;
using Report = std::array<uint8_t, kReportSize>;

// Byte 2 of a frame: what it carries.
inline constexpr uint8_t kFrameClassCommand = 0x11;  // an instrument command
inline constexpr uint8_t kFrameClassSend = 0x21;     // a UFCS message to send

enum class CommandCode : uint8_t {
    StartListening = 1,
    StopListening = 2,
    StatusPoll = 3,
    Connect = 4,
    StartChargingDevice = 7,
    StartChargingDeviceTypeC = 8,
    FirmwareBlock = 9,
};

// Byte 9 of start listening and the status poll: the operating mode.
inline constexpr uint8_t kModeListening = 1;
inline constexpr uint8_t kModeChargingDevice = 2;

// The instrument command frame: the 10-byte header with the code in byte 8
// and its parameter in byte 9; the rest zero.
CommandFrame commandFrame(CommandCode code, uint8_t param);

// UFCS-send frames: byte 1 0xFE (one report) or the number of reports, byte 2
// kFrameClassSend, byte 3 the send code, byte 4 the payload length, the
// payload from byte 5. A message longer than one report goes in segments:
// byte 5 numbers them from 1, and each carries the next kSegmentBytes message
// bytes from byte 6.
inline constexpr uint8_t kSingleReport = 0xFE;
inline constexpr std::size_t kSegmentBytes = 59;
inline constexpr std::size_t kSegmentOffset = 6;
namespace send_code {
inline constexpr uint8_t kSetBaudRate = 0x43;
inline constexpr uint8_t kPing = 0x45;
inline constexpr uint8_t kSoftReset = 0x46;
inline constexpr uint8_t kGetOutputCapabilities = 0x47;
inline constexpr uint8_t kRequest = 0x48;
inline constexpr uint8_t kGetSourceInfo = 0x49;
inline constexpr uint8_t kGetCableInfo = 0x4A;
inline constexpr uint8_t kGetDeviceInfo = 0x4B;
inline constexpr uint8_t kGetErrorInfo = 0x4C;
inline constexpr uint8_t kConfigWatchdog = 0x4D;
inline constexpr uint8_t kExitUfcsMode = 0x4E;
inline constexpr uint8_t kDetectCableInfo = 0x4F;
inline constexpr uint8_t kStartCableDetect = 0x50;
inline constexpr uint8_t kVerifyRequest = 0x51;
inline constexpr uint8_t kVerifyResponse = 0x52;
inline constexpr uint8_t kTestRequest = 0x53;
inline constexpr uint8_t kVendor = 0x54;
inline constexpr uint8_t kCustom = 0x55;
inline constexpr uint8_t kHardwareReset = 0x56;
}  // namespace send_code
// An empty single-report send frame for `sendCode` with `payloadLength` bytes.
CommandFrame sendFrame(uint8_t sendCode, uint8_t payloadLength);

// Replies of the instrument begin 0x55 0x12 and the reply's kind.
inline constexpr uint8_t kReplyMarker = 0x55;
inline constexpr uint8_t kReplyClass = 0x12;
// The connect reply is read right after its command, not told by its head.
enum class ReplyKind : uint8_t {
    Connect = 0x04,
    Status = 0x11,
    LiveValues = 0x22,
    Calibration = 0x33
};
bool isReply(const uint8_t* report, ReplyKind kind);
Report replyHead(ReplyKind kind);

// The reply to the connect command, read right after it.
struct ConnectReply {
    uint16_t calibrationValue = 0;  // units of 0.001; 0xFFFF: not calibrated
    uint16_t secondValue = 0;
    uint16_t currentRangeMa = 0;
};
ConnectReply parseConnectReply(const uint8_t* report);
// Bytes 20-25 of a connect reply (big-endian), for the simulated instrument.
void writeConnectReply(const ConnectReply& reply, uint8_t* report);

}  // namespace device
