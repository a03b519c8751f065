#include "instrument/meter_frames.h"

#include "common/byte_order.h"

namespace instrument {

device::CommandFrame meterRequest(MeterCommand command) {
    const uint8_t param = command == MeterCommand::StartMeasuring ? 0x01 : 0x00;
    device::CommandFrame frame =
        device::commandFrame(static_cast<device::CommandCode>(command), param);
    if (command == MeterCommand::ReadSample) frame[5] = kSampleRequestClass;
    return frame;
}

device::CommandFrame outputSwitchRequest(uint8_t state) {
    device::CommandFrame frame{};
    frame[0] = 0x01;
    frame[1] = 0x01;
    frame[2] = 0x11;
    frame[3] = 0x04;
    frame[4] = 0x03;
    frame[5] = state;
    return frame;
}

device::CommandFrame moduleStatusQuery() {
    device::CommandFrame frame{};
    frame[0] = 0x01;
    frame[1] = 0x10;
    frame[2] = 0x01;
    return frame;
}

std::optional<MeterSample> parseSampleReply(const uint8_t* reply) {
    if (reply[0] != kSampleReplyMarker || reply[6] != kSampleReplyCode) return std::nullopt;
    return MeterSample{common::readLe16(reply + 10), common::readLe16(reply + 12)};
}

bool isStartAccepted(const uint8_t* reply) {
    return reply[6] == kStartAcceptedCode;
}

uint16_t calibrationWord(const uint8_t* reply) {
    return device::parseConnectReply(reply).calibrationValue;
}

device::Report sampleReply(MeterSample sample, uint8_t code) {
    device::Report report{};
    report[0] = kSampleReplyMarker;
    report[6] = code;
    common::writeLe16(report.data() + 10, sample.millivolts);
    common::writeLe16(report.data() + 12, sample.milliamps);
    return report;
}

}  // namespace instrument
