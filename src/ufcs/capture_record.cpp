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

}  // namespace ufcs
