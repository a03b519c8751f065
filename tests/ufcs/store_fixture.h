#pragma once
// A fresh capture store per test.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "ufcs/capture_store.h"

namespace testing_support {

using Page = std::array<uint8_t, ufcs::kPageSize>;

// A page filled with `fill`; a first page when `pageCount` is given.
inline Page makePage(uint8_t fill, int pageCount = -1) {
    Page page;
    page.fill(fill);
    if (pageCount >= 0) {
        page[0] = ufcs::kFirstPageMarker;
        page[1] = static_cast<uint8_t>(pageCount);
    }
    return page;
}

class StoreTest : public ::testing::Test {
  protected:
    // Made in the constructor so that members of derived fixtures can refer to it.
    StoreTest() : store(ufcs::CaptureStore::create()) {
        if (!store) throw std::bad_alloc();
        store->setCount(1);
    }
    // Fills the whole slot with one value, to see what a write leaves alone.
    void fillSlot(uint32_t index, uint8_t value) {
        std::memset(store->recordBytes(index), value, ufcs::kRecordSize);
    }
    const uint8_t* slot(uint32_t index) const { return store->recordBytes(index); }

    std::unique_ptr<ufcs::CaptureStore> store;
};

}  // namespace testing_support
