#include "recorder/csv_export.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "common/format.h"

namespace recorder {
namespace {

constexpr uint64_t kSamplesPerSecond = 10;
constexpr std::size_t kRowsPerWrite = 1000;

// Digits of `value` at `out`, at least `width` of them; returns the end.
char* writeUnsigned(char* out, uint64_t value, int width = 1) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char digits[24];
    char* at = digits + sizeof digits;
    while (value >= 100) {
        at -= 2;
        std::memcpy(at, kPairs + 2 * (value % 100), 2);
        value /= 100;
    }
    if (value >= 10) {
        at -= 2;
        std::memcpy(at, kPairs + 2 * value, 2);
    } else {
        *--at = static_cast<char>('0' + value);
    }
    while (digits + sizeof digits - at < width)
        *--at = '0';
    const auto count = static_cast<std::size_t>(digits + sizeof digits - at);
    std::memcpy(out, at, count);
    return out + count;
}

// `value` (not negative) with `decimals` (0 or 3) digits after the point,
// rounded as printf rounds the exact binary value: to nearest, ties to even.
char* writeFixed(char* out, float value, int decimals) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    const int exponent = static_cast<int>((bits >> 23) & 0xFF);
    uint64_t mantissa = bits & 0x7FFFFF;
    int shift = 0;  // value = mantissa * 2^-shift (or * 2^-shift with shift < 0)
    if (exponent == 0) {
        shift = 149;  // subnormal
    } else {
        mantissa |= 0x800000;
        shift = 150 - exponent;
    }
    const uint64_t scale = decimals == 3 ? 1000 : 1;
    uint64_t scaled = 0;
    if (shift <= 0) {
        scaled = (mantissa * scale) << -shift;  // the values here stay far below 2^64
    } else if (shift < 63) {
        const uint64_t whole = mantissa * scale;
        scaled = whole >> shift;
        const uint64_t rest = whole & ((uint64_t{1} << shift) - 1);
        const uint64_t half = uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (scaled & 1))) ++scaled;
    }
    out = writeUnsigned(out, scaled / scale);
    if (decimals == 3) {
        *out++ = '.';
        out = writeUnsigned(out, scaled % scale, 3);
    }
    return out;
}

}  // namespace

uint64_t csvRowCount(uint64_t samples, int periodSeconds) {
    const uint64_t step = kSamplesPerSecond * static_cast<uint64_t>(periodSeconds);
    return samples / step + (samples % step != 0 ? 1 : 0);
}

uint64_t csvStep(const CsvOptions& options) {
    return options.everySample ? 1
                               : kSamplesPerSecond * static_cast<uint64_t>(options.periodSeconds);
}

CsvRows csvRows(uint32_t samples, const CsvOptions& options, SampleSpan span) {
    const uint64_t end = std::min<uint64_t>(span.end, samples);
    uint64_t first = span.first;
    // Rows of whole seconds keep to whole seconds.
    if (!options.everySample && first % kSamplesPerSecond != 0)
        first += kSamplesPerSecond - first % kSamplesPerSecond;
    if (first >= end) return {first, 0};
    const uint64_t step = csvStep(options);
    return {first, (end - first + step - 1) / step};
}

std::string csvHeader(const CsvOptions& options) {
    const char* time = options.utf8 ? "时间" : "\xCA\xB1\xBC\xE4";
    const char* voltage = options.utf8 ? "电压" : "\xB5\xE7\xD1\xB9";
    const char* current = options.utf8 ? "电流" : "\xB5\xE7\xC1\xF7";
    const char* power = options.utf8 ? "功率" : "\xB9\xA6\xC2\xCA";
    std::string header = options.utf8 ? "\xEF\xBB\xBF" : "";
    if (options.everySample)
        header += common::format("%s(0.1s),", time);
    else
        header += common::format("%s(%ds),", time, options.periodSeconds);
    header += common::format("%s(%s),", voltage, options.millivolts ? "mV" : "V");
    header += common::format("%s(%s),", current, options.milliamps ? "mA" : "A");
    header += common::format("%s(%s)\r\n", power, options.milliwatts ? "mW" : "W");
    return header;
}

CsvValues csvValues(uint16_t millivolts, uint16_t milliamps, const CsvOptions& options) {
    const float volts = options.millivolts ? float(millivolts) : float(millivolts * 0.001);
    const float amps = options.milliamps ? float(milliamps) : float(milliamps * 0.001);
    const int milliUnits = (options.millivolts ? 1 : 0) + (options.milliamps ? 1 : 0);
    // Scale of V·A (milliUnits 0), mV·A (1) or mV·mA (2) to W; mW is a thousand times that.
    static constexpr double kToWatts[] = {1.0, 0.001, 1e-6};
    const double toUnit = kToWatts[milliUnits] * (options.milliwatts ? 1000.0 : 1.0);
    const float product = amps * volts;
    return {volts, amps, float(double(product) * toUnit)};
}

std::size_t formatCsvRow(char* out, uint64_t seconds, const CsvValues& values, bool milliwatts,
                         int tenth) {
    char* at = out;
    at = writeUnsigned(at, seconds / 3600);
    *at++ = ':';
    at = writeUnsigned(at, seconds % 3600 / 60, 2);
    *at++ = ':';
    at = writeUnsigned(at, seconds % 60, 2);
    if (tenth >= 0) {
        *at++ = '.';
        *at++ = static_cast<char>('0' + tenth % 10);
    }
    *at++ = ',';
    at = writeFixed(at, values.volts, 3);
    *at++ = ',';
    at = writeFixed(at, values.amps, 3);
    *at++ = ',';
    at = writeFixed(at, values.power, milliwatts ? 0 : 3);
    *at++ = '\r';
    *at++ = '\n';
    return static_cast<std::size_t>(at - out);
}

common::FileResult exportCsv(const plot::SampledSeries& voltage, const plot::SampledSeries& current,
                             const CsvOptions& options, const std::filesystem::path& path,
                             SampleSpan span) {
    const uint32_t currents = current.count();
    const CsvRows rows = csvRows(voltage.count(), options, span);
    if (rows.count > kMostCsvRows) return {false, std::string(kTooManyCsvRows)};
    const uint64_t step = csvStep(options);
    const common::SaveOutcome saved = common::saveFile(path, [&](common::ByteSink& sink) {
        if (!sink.write(csvHeader(options))) return false;
        std::vector<char> block(kRowsPerWrite * kMostCsvRowBytes);
        std::size_t used = 0;
        for (uint64_t row = 0; row < rows.count; ++row) {
            const auto index = static_cast<uint32_t>(rows.first + row * step);
            const uint16_t amps = index < currents ? current.at(index) : 0;
            used += formatCsvRow(block.data() + used, index / kSamplesPerSecond,
                                 csvValues(voltage.at(index), amps, options), options.milliwatts,
                                 options.everySample ? int(index % kSamplesPerSecond) : -1);
            if (block.size() - used < kMostCsvRowBytes) {
                if (!sink.write(block.data(), used)) return false;
                used = 0;
            }
        }
        return sink.write(block.data(), used);
    });
    if (saved.ok) return {};
    return {false, std::string(kCsvCannotCreate) + "\n" + saved.reason};
}

}  // namespace recorder
