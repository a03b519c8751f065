#include "ufcs/record_assembler.h"

#include <cstring>

namespace ufcs {

RecordAssembler::Result RecordAssembler::addPage(const uint8_t* page, CaptureStore& store) {
    if (received_ == 0) {
        // A page count of 0 or above 5 cannot start a record: treated like a lost page.
        const bool firstPage = page[0] == kFirstPageMarker && page[1] >= 1 && page[1] <= kMaxPages;
        if (!firstPage) return Result::LostStep;
        std::memcpy(buffer_.data(), page, kPageSize);
        expected_ = page[1];
        received_ = 1;
        return expected_ == 1 ? complete(kPageSize, store) : Result::Pending;
    }
    std::memcpy(buffer_.data() + received_ * kPageSize, page, kPageSize);
    ++received_;
    return received_ == expected_ ? complete(kRecordSize, store) : Result::Pending;
}

RecordAssembler::Result RecordAssembler::complete(std::size_t bytes, CaptureStore& store) {
    received_ = 0;
    const uint32_t slot = store.count();
    if (slot >= CaptureStore::kCapacity) return Result::NoRoom;
    std::memcpy(store.recordBytes(slot), buffer_.data(), bytes);
    return Result::Completed;
}

}  // namespace ufcs
