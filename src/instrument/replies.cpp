#include "instrument/replies.h"

#include <cstring>

#include "common/byte_order.h"

namespace instrument {

OutputModeEntry OutputModeEntry::parse(const uint8_t* bytes) {
    return OutputModeEntry{bytes[0], common::readLe16(bytes + 1), common::readLe16(bytes + 3),
                           common::readLe16(bytes + 5), bytes[7]};
}

void OutputModeEntry::writeTo(uint8_t* bytes) const {
    bytes[0] = stepCodes;
    common::writeLe16(bytes + 1, maxVoltage10mV);
    common::writeLe16(bytes + 3, minVoltage10mV);
    common::writeLe16(bytes + 5, maxCurrent10mA);
    bytes[7] = minCurrent10mA;
}

LiveValues parseLiveValues(const uint8_t* report) {
    return LiveValues{common::readLe16(report + 10), common::readLe16(report + 12),
                      common::readLe16(report + 14), common::readLe16(report + 16), report[18]};
}

CalibrationResult parseCalibrationResult(const uint8_t* report) {
    return CalibrationResult{common::readBe16(report + 7), report[11]};
}

device::Report statusReply(uint8_t status, uint8_t modeCount, const uint8_t* tableHead56) {
    device::Report report = device::replyHead(device::ReplyKind::Status);
    report[6] = status;
    report[7] = modeCount;
    if (tableHead56) std::memcpy(report.data() + 8, tableHead56, kTableHeadBytes);
    return report;
}

device::Report liveValuesReply(const LiveValues& values) {
    device::Report report = device::replyHead(device::ReplyKind::LiveValues);
    common::writeLe16(report.data() + 10, values.busMillivolts);
    common::writeLe16(report.data() + 12, values.busMilliamps);
    common::writeLe16(report.data() + 14, values.requestedVoltage10mV);
    common::writeLe16(report.data() + 16, values.requestedCurrent10mA);
    report[18] = values.modeNumber;
    return report;
}

device::Report calibrationReply(uint16_t value, uint8_t index) {
    device::Report report = device::replyHead(device::ReplyKind::Calibration);
    common::writeBe16(report.data() + 7, value);
    report[11] = index;
    return report;
}

}  // namespace instrument
