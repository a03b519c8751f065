#include "device/frames.h"

#include "common/byte_order.h"

namespace device {

CommandFrame commandFrame(CommandCode code, uint8_t param) {
    CommandFrame frame{};
    frame[1] = 0x01;
    frame[2] = kFrameClassCommand;
    frame[3] = 0x11;
    frame[4] = 0x04;
    frame[5] = 0x01;
    frame[6] = 0x01;
    frame[7] = 0x64;
    frame[8] = static_cast<uint8_t>(code);
    frame[9] = param;
    return frame;
}

CommandFrame sendFrame(uint8_t sendCode, uint8_t payloadLength) {
    CommandFrame frame{};
    frame[1] = kSingleReport;
    frame[2] = kFrameClassSend;
    frame[3] = sendCode;
    frame[4] = payloadLength;
    return frame;
}

bool isReply(const uint8_t* report, ReplyKind kind) {
    return report[0] == kReplyMarker && report[1] == kReplyClass &&
           report[2] == static_cast<uint8_t>(kind);
}

Report replyHead(ReplyKind kind) {
    Report report{};
    report[0] = kReplyMarker;
    report[1] = kReplyClass;
    report[2] = static_cast<uint8_t>(kind);
    return report;
}

ConnectReply parseConnectReply(const uint8_t* report) {
    return ConnectReply{common::readBe16(report + 20), common::readBe16(report + 22),
                        common::readBe16(report + 24)};
}

void writeConnectReply(const ConnectReply& reply, uint8_t* report) {
    common::writeBe16(report + 20, reply.calibrationValue);
    common::writeBe16(report + 22, reply.secondValue);
    common::writeBe16(report + 24, reply.currentRangeMa);
}

}  // namespace device
