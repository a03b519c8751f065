#include "ufcs/capture_store.h"

#include <new>

namespace ufcs {

std::unique_ptr<CaptureStore> CaptureStore::create() {
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kBlockSize]());
    if (!block) return nullptr;
    return std::unique_ptr<CaptureStore>(new (std::nothrow) CaptureStore(std::move(block)));
}

}  // namespace ufcs
