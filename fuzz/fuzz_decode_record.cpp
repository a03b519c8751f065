// The decoder and the row builder on any 320 bytes a record slot may hold.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ufcs/decoder.h"
#include "ufcs/list_row.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::array<uint8_t, ufcs::kRecordSize> raw{};
    std::memcpy(raw.data(), data, size < raw.size() ? size : raw.size());
    const uint32_t index = size > ufcs::kRecordSize ? data[ufcs::kRecordSize] * 257u : 1;

    // As stored, before any row was built.
    std::array<uint8_t, ufcs::kRecordSize> decoded = raw;
    ufcs::decodeRecord(ufcs::CaptureRecord(decoded.data()), index);

    // As a user sees it: the row is built first, then the row is clicked.
    std::array<uint8_t, ufcs::kRecordSize> marked = raw;
    ufcs::BuildListRow(ufcs::CaptureRecord(marked.data()), index);
    const ufcs::DecodeResult result = ufcs::decodeRecord(ufcs::CaptureRecord(marked.data()), index);
    if (result.warnings.size() > 130) std::abort();
    return 0;
}
