#pragma once
// Explains one captured record: the field tree, the detail pane text and the
// warnings about everything that breaks the UFCS format. Returns data only;
// the analyzer window and `ufcs decode` render the same result.

#include <cstdint>
#include <string>
#include <vector>

#include "ufcs/capture_record.h"

namespace ufcs {

struct TreeItem {
    std::string text;
    bool visible = false;  // scrolled to, with its parents expanded
    std::vector<TreeItem> children;
};

// Pane colours: normal text cyan, errors red, notes yellow.
enum class PaneType : uint8_t { Normal = 0, Error = 1, Note = 2 };

struct PaneText {
    PaneType type = PaneType::Normal;
    std::string text;
};

enum class Severity : uint8_t { Error = 1, Note = 2 };

struct Warning {
    Severity severity = Severity::Error;
    std::string text;
};

struct DecodeResult {
    std::vector<TreeItem> roots;
    std::vector<PaneText> pane;  // appended in this order; neighbours of one type are joined
    std::vector<Warning> warnings;
};

// Decodes record `index`, as listed: the row builder has already rewritten
// what a listed record keeps (computed CRC, zeroed byte count of an event).
DecodeResult decodeRecord(ConstCaptureRecord record, uint32_t index);

// The pane's text as one string, in order.
std::string paneText(const DecodeResult& result);

}  // namespace ufcs
