#pragma once
// Helpers for decoder tests: format the raw bytes a test chose, and flatten a
// DecodeResult so whole trees, panes and warning lists compare at once.

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ufcs/decoder.h"

namespace ufcs::test {

inline constexpr uint32_t kIndex = 42;  // the record index every decoder test decodes as
inline const std::string kSeq = "序号：42 \r\n";
inline constexpr uint8_t kPlain = 0;  // message kind without a line check
inline constexpr uint8_t kDPlus = 1;
inline constexpr uint8_t kDMinus = 2;
inline constexpr int kNormal = 0;  // pane type, and with kError/kNote also the warning severity
inline constexpr int kError = 1;
inline constexpr int kNote = 2;

using Lines = std::vector<std::string>;
using Segments = std::vector<std::pair<int, std::string>>;
using Warnings = std::vector<std::pair<int, std::string>>;

inline std::string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%.2X", value);
    return text;
}

inline std::string hexBytes(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t byte : bytes)
        text += hex2(byte) + " ";
    return text;
}

// The raw dump that opens the pane for every message record.
inline std::string dump(const std::vector<uint8_t>& wire) {
    return kSeq + "数据信息(包括Training(0xAA)字符,消息头，消息主体及CRC)\r\n" + hexBytes(wire) +
           "\r\n";
}

// One line per tree item, indented two spaces per level; " <v>" marks an
// item the decoder made visible.
inline void addOutline(Lines& lines, const std::vector<TreeItem>& items, std::size_t depth) {
    for (const TreeItem& item : items) {
        lines.push_back(std::string(2 * depth, ' ') + item.text + (item.visible ? " <v>" : ""));
        addOutline(lines, item.children, depth + 1);
    }
}

inline Lines outline(const std::vector<TreeItem>& items) {
    Lines lines;
    addOutline(lines, items, 0);
    return lines;
}

inline Segments pane(const DecodeResult& result) {
    Segments segments;
    for (const PaneText& part : result.pane)
        segments.emplace_back(static_cast<int>(part.type), part.text);
    return segments;
}

inline Warnings warnings(const DecodeResult& result) {
    Warnings list;
    for (const Warning& warning : result.warnings) {
        list.emplace_back(static_cast<int>(warning.severity), warning.text);
    }
    return list;
}

}  // namespace ufcs::test
