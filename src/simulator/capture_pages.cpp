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

}  // namespace simulator
