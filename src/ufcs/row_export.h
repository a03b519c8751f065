#pragma once
// The listed rows with their numbers as well as their texts: time and the
// time since the row before, voltage, current and the captured bytes. Used by
// the 间隔 column, `ufcs rows --json/--csv` and the window's 导出.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "common/file_save.h"
#include "ufcs/capture_list.h"

namespace ufcs {

struct RowValues {
    std::optional<int64_t> timeUs;   // none for the capture header
    std::optional<int64_t> deltaUs;  // since the row before that has a time
    std::optional<uint16_t> millivolts, milliamps;
    std::string bytesHex;  // "AA 41 0A 00 C3"; empty for events
};

// Row `row` of the list, its delta taken from the listed row before it.
RowValues listedRowValues(const CaptureList& list, std::size_t row);
// Only the delta, for the 间隔 column.
std::optional<int64_t> listedRowDeltaUs(const CaptureList& list, std::size_t row);

enum class RowExportFormat { CsvUtf8, CsvGbk, Text };
inline constexpr const char* kRowsSavedFailed = "导出失败：";

// The listed rows as CSV (UTF-8 with a byte-order mark, or GBK) or as
// TAB-separated text, one line per row, a title line first.
std::string exportRows(const CaptureList& list, RowExportFormat format);
common::FileResult saveRows(const CaptureList& list, RowExportFormat format,
                            const std::filesystem::path& path);

}  // namespace ufcs
