#include "simulator/capture_pages.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace simulator {
std::vector<Report> capturePages(const BusEvent& event) {
    std::array<uint8_t, ufcs::kRecordSize> record{};
    const std::size_t length = std::min(event.wire.size(), ufcs::kMaxCapturedBytes);
    const std::size_t pages = std::max<std::size_t>(
        1, (ufcs::kWireOffset + length + ufcs::kPageSize - 1) / ufcs::kPageSize);
    record[0] = ufcs::kFirstPageMarker;
    record[1] = static_cast<uint8_t>(pages);
    record[2] = event.kind;
    record[3] = event.baudCode;
    common::writeLe16(record.data() + 4, static_cast<uint16_t>(event.ticks / kTicksPerPeriod));
    common::writeLe16(record.data() + 6, static_cast<uint16_t>(event.ticks % kTicksPerPeriod));
    common::writeLe16(record.data() + 8, static_cast<uint16_t>(length));
    common::writeLe16(record.data() + 10, event.millivolts);
    common::writeLe16(record.data() + 12, event.milliamps);
    if (length > 0) std::memcpy(record.data() + ufcs::kWireOffset, event.wire.data(), length);

    std::vector<Report> result(pages);
    for (std::size_t page = 0; page < pages; ++page) {
        std::memcpy(result[page].data(), record.data() + page * ufcs::kPageSize, ufcs::kPageSize);
    }
    return result;
}

Report replyHead(uint8_t kind) {
    Report report{};
    report[0] = 0x55;
    report[1] = 0x12;
    report[2] = kind;
    return report;
}

Report statusReply(uint8_t status, uint8_t modeCount, const uint8_t* tableHead56) {
    Report report = replyHead(0x11);
    report[6] = status;
    report[7] = modeCount;
    if (tableHead56) std::memcpy(report.data() + 8, tableHead56, 56);
    return report;
}

Report liveValuesReply(const device::LiveValues& values) {
    Report report = replyHead(0x22);
    common::writeLe16(report.data() + 10, values.busMillivolts);
    common::writeLe16(report.data() + 12, values.busMilliamps);
    common::writeLe16(report.data() + 14, values.requestedVoltage10mV);
    common::writeLe16(report.data() + 16, values.requestedCurrent10mA);
    report[18] = values.modeNumber;
    return report;
}

Report calibrationReply(uint16_t value, uint8_t index) {
    Report report = replyHead(0x33);
    common::writeBe16(report.data() + 7, value);
    report[11] = index;
    return report;
}

}  // namespace simulator
