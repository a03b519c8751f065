#include "ufcs/capture_intake.h"

#include "ufcs/names.h"

namespace ufcs {

bool CaptureIntake::refused(ConstCaptureRecord record) const {
    // Only UFCS messages are refused: a line event (handshake, reset, decode
    // error) has zeros where a control message keeps its type and command.
    if (!isMessageKind(record.kind()) || record.messageType() != kTypeControl) return false;
    return (record.command() == control_command::kAck && refuseAck()) ||
           (record.command() == control_command::kPing && refusePing());
}

bool CaptureIntake::AddCapturedRecord() {
    const uint32_t slot = store_.count();
    if (slot >= CaptureStore::kCapacity) return false;
    CaptureRecord record = store_.record(slot);
    if (refused(record)) return false;  // the next record overwrites the slot
    if (!currentCalibrated()) record.setCurrent(0);
    record.setIndex(slot);
    store_.setCount(slot + 1);
    listener_.onRecordTaken(slot + 1);
    return true;
}

}  // namespace ufcs
