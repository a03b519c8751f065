#pragma once
// How a record becomes one row of the message list: its fault bits, computed
// CRC and colour (written back into the record), and its eight column texts.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ufcs/capture_record.h"

namespace ufcs {

inline constexpr std::size_t kListColumns = 8;
inline constexpr std::array<std::string_view, kListColumns> kListColumnTitles = {
    "序号", "类型", "接收者", "消息", "简析", "电压", "时间", "波特"};

struct ListRow {
    std::array<std::string, kListColumns> columns;  // column 0 is " %d" of the record index
    uint32_t colour = 0;                            // 0x00BBGGRR
};

// Colours that carry meaning.
inline constexpr uint32_t kColourFault = rgb(223, 52, 45);
inline constexpr uint32_t kColourTooLong = rgb(223, 116, 125);
inline constexpr uint32_t kColourRefusal = rgb(200, 100, 100);  // NCK and Refuse
inline constexpr uint32_t kColourUnknown = rgb(255, 255, 0);
inline constexpr uint32_t kColourHeader = rgb(160, 160, 250);
inline constexpr uint32_t kColourVendor = rgb(200, 150, 200);

// Names, summary and colour of the event kinds.
struct EventRowInfo {
    std::string_view message;
    std::string_view summary;
    uint32_t colour;
};
// nullptr for kinds without an entry (UFCS messages, the header and unknown kinds).
const EventRowInfo* eventRowInfo(uint8_t kind);

enum class DataCheck : uint8_t { WellFormed = 0, Malformed = 1, TooLong = 2 };
struct DataCheckResult {
    DataCheck verdict = DataCheck::WellFormed;
};
// Structural check of a data message: command, length and the command's own rules.
DataCheckResult DataMessageCheck(ConstCaptureRecord record);

// "%d:%02d:%02d.%.3d" of a time stamp in 10-second periods and 0.2 ms ticks.
std::string timeText(uint16_t coarse, uint16_t fine);
// The same for a span of time in microseconds.
std::string durationText(int64_t us);
// "12.4 ms" of a span of time in microseconds.
std::string millisecondsText(int64_t us);
// "%.2f" volts of a voltage in millivolts.
std::string voltageText(uint16_t millivolts);
// "115200" etc. for the four baud-rate codes, "" for any other.
std::string_view baudText(uint8_t code);

// Checks the record and writes its fault bits (byte 0), computed CRC
// (byte 1), zeroed event length (byte 8) and colour (byte 312). Returns the colour.
uint32_t markListRecord(CaptureRecord record);

// The column texts of a record that markListRecord has seen; the colour is taken from the record.
ListRow listRowTexts(ConstCaptureRecord record, uint32_t index);

// markListRecord followed by listRowTexts.
ListRow BuildListRow(CaptureRecord record, uint32_t index);

// For the capture header record: the device values it restores to the window.
std::optional<DeviceRanges> headerDeviceRanges(ConstCaptureRecord record);

}  // namespace ufcs
