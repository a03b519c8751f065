#pragma once
// 另存为CSV格式: the voltage and current samples as comma-separated text,
// one row per chosen number of seconds (the samples are taken as ten a
// second) or one per sample, of the whole test or a part of it, in the units
// the user picks, with a computed power column. The header's Chinese words
// are GBK unless UTF-8 (with a byte-order mark) is asked for.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/file_save.h"
#include "plot/sampled_series.h"
#include "recorder/sample_document.h"
#include "recorder/settings.h"

namespace recorder {

inline constexpr uint64_t kMostCsvRows = 1'000'000;
inline constexpr std::string_view kTooManyCsvRows = "数据太多，可以考虑增大采样周期减少数据量!";
inline constexpr std::string_view kCsvCannotCreate = "文件建立错误！请确认文件没有被其它程序占用!";

// ceil(n / (10 P)).
uint64_t csvRowCount(uint64_t samples, int periodSeconds);

// The samples a row stands for: 1 for every sample, else ten a second of the period.
uint64_t csvStep(const CsvOptions& options);
// The indexes of the rows' samples in `span` of `samples`: from the first
// whole second in the range (the first sample when every sample is written),
// one per step.
struct CsvRows {
    uint64_t first = 0;
    uint64_t count = 0;
};
CsvRows csvRows(uint32_t samples, const CsvOptions& options, SampleSpan span);
// The header line, in the encoding the options ask for (with the byte-order mark for UTF-8).
std::string csvHeader(const CsvOptions& options);

// One row's values as the export computes them: voltage and current held as
// single-precision floats in the chosen units, power from their float
// product scaled to the power unit.
struct CsvValues {
    float volts;
    float amps;
    float power;
};
CsvValues csvValues(uint16_t millivolts, uint16_t milliamps, const CsvOptions& options);

// Appends one row ("h:mm:ss,v,i,p\r\n") at `out`, exactly as printf's
// "%d:%02d:%02d," and "%.3f,%.3f,%.0f\r\n" (power in mW) or
// "%.3f,%.3f,%.3f\r\n" (W) write it; with `tenth` (0-9) the time is
// "h:mm:ss.t". Returns the bytes written (at most kMostCsvRowBytes).
inline constexpr std::size_t kMostCsvRowBytes = 96;
std::size_t formatCsvRow(char* out, uint64_t seconds, const CsvValues& values, bool milliwatts,
                         int tenth = -1);

// Writes the export through the suite's save helper: nothing is written when
// there are too many rows, and a failed write leaves no half file.
common::FileResult exportCsv(const plot::SampledSeries& voltage, const plot::SampledSeries& current,
                             const CsvOptions& options, const std::filesystem::path& path,
                             SampleSpan span = {});

}  // namespace recorder
