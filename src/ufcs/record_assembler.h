#pragma once
// Joins the instrument's 64-byte capture pages into 320-byte records. A first
// page has byte 0 = 1 and byte 1 = the record's page count (1-5); its
// continuation pages follow it immediately.

#include <array>
#include <cstdint>

#include "ufcs/capture_store.h"

namespace ufcs {

class RecordAssembler {
  public:
    enum class Result {
        Pending,    // more pages of the record are expected
        Completed,  // the record now stands in slot `count` of the store
        LostStep,   // a page without its first page; the store is left as it was
        NoRoom,     // the store has no slot left; the record was not written
    };

    // Takes one capture page (64 bytes).
    Result addPage(const uint8_t* page, CaptureStore& store);
    // Back to idle; a record half assembled is forgotten.
    void reset() { received_ = 0; }
    bool idle() const { return received_ == 0; }

  private:
    Result complete(std::size_t bytes, CaptureStore& store);

    // Pages beyond a record's own count keep what earlier records left there,
    // and a multi-page record copies all five: the instrument's records rely on it.
    std::array<uint8_t, kRecordSize> buffer_{};
    uint8_t expected_ = 0;
    uint8_t received_ = 0;
};

}  // namespace ufcs
