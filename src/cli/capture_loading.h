#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "ufcs/capture_list.h"
#include "ufcs/capture_store.h"

namespace cli {

struct LoadedCapture {
    std::unique_ptr<ufcs::CaptureStore> store;
    std::unique_ptr<ufcs::CaptureList> list;
};

// Opens a capture file as the analyzer does: the store filled from the file,
// then the list rebuilt with every filter box ticked, so every record's row
// (fault bits, computed CRC, colour) is built. A refused file: the analyzer's
// message on `err` and nothing returned.
std::optional<LoadedCapture> loadCapture(const std::string& path, std::ostream& err);

}  // namespace cli
