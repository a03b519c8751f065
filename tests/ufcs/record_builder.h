#pragma once
// Capture records for tests: one 320-byte slot filled the way the instrument
// fills it (first-page marker, page count 1, kind, baud, time, voltage, byte
// count and the captured bus bytes from offset 15).

#include <array>
#include <cstdint>
#include <vector>

#include "common/byte_order.h"
#include "ufcs/capture_record.h"

namespace ufcs::test {

struct TestRecord {
    std::array<uint8_t, kRecordSize> bytes{};

    CaptureRecord view() { return CaptureRecord(bytes.data()); }
    ConstCaptureRecord view() const { return ConstCaptureRecord(bytes.data()); }

    void setByteCount(uint16_t count) { common::writeLe16(bytes.data() + 8, count); }
    void setTime(uint16_t coarse, uint16_t fine) {
        common::writeLe16(bytes.data() + 4, coarse);
        common::writeLe16(bytes.data() + 6, fine);
    }
    void setVoltage(uint16_t millivolts) { common::writeLe16(bytes.data() + 10, millivolts); }
};

// Fills the instrument's fields of `record` and copies `wire` (Training byte
// first) to offset 15; the byte count becomes the size of `wire`. Bytes not
// named here keep what `record` held.
inline void fillRecord(TestRecord& record, uint8_t kind, const std::vector<uint8_t>& wire,
                       uint8_t baud = kBaud115200, uint16_t millivolts = 5000) {
    record.bytes[0] = kFirstPageMarker;
    record.bytes[1] = 1;
    record.bytes[2] = kind;
    record.bytes[3] = baud;
    record.setVoltage(millivolts);
    record.setByteCount(static_cast<uint16_t>(wire.size()));
    for (std::size_t i = 0; i < wire.size() && kWireOffset + i < kRecordSize; ++i) {
        record.bytes[kWireOffset + i] = wire[i];
    }
}

inline TestRecord makeRecord(uint8_t kind, const std::vector<uint8_t>& wire,
                             uint8_t baud = kBaud115200, uint16_t millivolts = 5000) {
    TestRecord record;
    fillRecord(record, kind, wire, baud, millivolts);
    return record;
}

}  // namespace ufcs::test
