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
    const std::array<uint8_t, ufcs::kRecordSize> beforeDecode = marked;
    const ufcs::DecodeResult result = ufcs::decodeRecord(ufcs::CaptureRecord(marked.data()), index);

    // The decoder writes nothing but the byte count of a handshake or reset event.
    for (std::size_t i = 0; i < marked.size(); ++i) {
        if ((i == 8 || i == 9) && ufcs::isLineSignalKind(marked[2])) continue;
        if (marked[i] != beforeDecode[i]) std::abort();
    }
    if (result.warnings.size() > 130) std::abort();
    return 0;
}
