// Any file offered to "打开文件": refused without touching the capture held
// before, or opened, listed and decoded.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "ufcs/capture_file.h"
#include "ufcs/capture_list.h"
#include "ufcs/decoder.h"

namespace {

constexpr uint32_t kEarlierCount = 2;

ufcs::CaptureStore& sharedStore() {
    static std::unique_ptr<ufcs::CaptureStore> store = ufcs::CaptureStore::create();
    if (!store) std::abort();
    return *store;
}

// A recognisable earlier capture in records 0 and 1.
void holdEarlierCapture(ufcs::CaptureStore& store) {
    std::memset(store.recordBytes(0), 0xA5, kEarlierCount * ufcs::kRecordSize);
    store.setCount(kEarlierCount);
}

bool earlierCaptureIntact(const ufcs::CaptureStore& store) {
    if (store.count() != kEarlierCount) return false;
    const uint8_t* bytes = store.recordBytes(0);
    for (std::size_t i = 0; i < kEarlierCount * ufcs::kRecordSize; ++i) {
        if (bytes[i] != 0xA5) return false;
    }
    return true;
}

const std::filesystem::path& scratchFile() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("fuzz_open_capture_" + std::to_string(getpid()) + ".ufcs_stream");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::FILE* file = std::fopen(scratchFile().c_str(), "wb");
        if (!file) std::abort();
        if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
        std::fclose(file);
    }
    ufcs::CaptureStore& store = sharedStore();
    holdEarlierCapture(store);
    const ufcs::FileResult result = ufcs::OpenCapture(store, scratchFile());
    if (!result.ok) {
        if (result.message.empty() || !earlierCaptureIntact(store)) std::abort();
        return 0;
    }
    if (size < 8 || store.count() != (size - 8) / ufcs::kRecordSize) std::abort();
    ufcs::CaptureList list(store);
    list.rebuild();
    for (std::size_t row = 0; row < list.rowCount(); ++row) {
        list.rowTexts(row);
        ufcs::decodeRecord(store.record(list.recordAt(row)), list.recordAt(row));
    }
    return 0;
}
