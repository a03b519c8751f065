#include "ufcs/capture_record.h"

namespace ufcs {

void CaptureHeaderRecord::writeTo(CaptureRecord record) const {
    uint8_t* bytes = record.bytes();
    bytes[0] = mode;
    bytes[1] = currentUncalibrated ? 1 : 0;
    bytes[2] = static_cast<uint8_t>(EventKind::CaptureHeader);
    common::writeLe16(bytes + 10, secondValue);
    common::writeLe16(bytes + 12, currentRangeMa);
    bytes[14] = refusePing ? 1 : 0;
    bytes[15] = refuseAck ? 1 : 0;
}

CaptureHeaderRecord CaptureHeaderRecord::readFrom(ConstCaptureRecord record) {
    CaptureHeaderRecord header;
    header.mode = record.at(0);
    header.currentUncalibrated = record.at(1) == 1;
    header.secondValue = record.voltage();
    header.currentRangeMa = record.current();
    header.refusePing = record.at(14) != 0;
    header.refuseAck = record.at(15) != 0;
    return header;
}

double baudRate(uint8_t code) {
    switch (code) {
        case kBaud57600:
            return 57600;
        case kBaud38400:
            return 38400;
        case kBaud19200:
            return 19200;
        default:
            return 115200;
    }
}

int64_t wireDurationUs(std::size_t bytes, uint8_t baudCode) {
    if (bytes == 0) return 0;
    const double bits = static_cast<double>(bytes) * 11 - 1;
    return static_cast<int64_t>(bits * 1e6 / baudRate(baudCode) + 0.5);
}

}  // namespace ufcs
