#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logic/capture_import.h"
#include "ufcs/capture_list.h"
#include "ufcs/capture_store.h"
#include "ufcs/sequence_check.h"

namespace cli {

struct LoadedCapture {
    std::unique_ptr<ufcs::CaptureStore> store;
    std::unique_ptr<ufcs::CaptureList> list;
    std::vector<ufcs::SequenceNote> lineFindings;  // what a logic recording's lines showed
};

// Opens a capture file as the analyzer does: the store filled from the file,
// then the list rebuilt with every filter box ticked, so every record's row
// (fault bits, computed CRC, colour) is built. A logic analyzer's recording
// (.vcd, .csv) is imported, its D+ and D- lines found by name unless
// `lines` gives them. A refused file: the message on `err` and nothing returned.
using LogicLines = logic::LineRequest;
std::optional<LoadedCapture> loadCapture(const std::string& path, std::ostream& err,
                                         const LogicLines& lines = {});

struct Arguments;
// --dp N / --dm N, the lines of a logic recording by number, and --vbus NAME[*SCALE] /
// --ibus NAME[*SCALE], its analog lines of bus voltage and current; nothing (and a
// message) when one cannot be used.
std::optional<LogicLines> logicLinesOption(const Arguments& parsed, const char* command,
                                           std::ostream& err);

}  // namespace cli
