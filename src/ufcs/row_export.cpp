#include "ufcs/row_export.h"

#include <algorithm>

#include "common/format.h"
#include "common/text_encoding.h"

namespace ufcs {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kNumberTitles[] = {"间隔(ms)", "时间(us)", "电压(mV)", "电流(mA)",
                                              "字节"};

std::string csvField(std::string_view text) {
    const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) return std::string(text);
    std::string field = "\"";
    for (char c : text) {
        if (c == '"') field += '"';
        field += c;
    }
    return field + '"';
}

template <typename T>
std::string optionalNumber(const std::optional<T>& value) {
    return value ? std::to_string(*value) : std::string();
}

std::string deltaField(const RowValues& values) {
    return values.deltaUs ? common::format("%.1f", static_cast<double>(*values.deltaUs) / 1000.0)
                          : std::string();
}

bool hasTime(ConstCaptureRecord record) {
    return record.kind() != static_cast<uint8_t>(EventKind::CaptureHeader);
}

}  // namespace

std::optional<int64_t> listedRowDeltaUs(const CaptureList& list, std::size_t row) {
    const ConstCaptureRecord record = list.store().record(list.recordAt(row));
    if (row == 0 || !hasTime(record)) return std::nullopt;
    const ConstCaptureRecord before = list.store().record(list.recordAt(row - 1));
    if (!hasTime(before)) return std::nullopt;
    return record.timeUs() - before.timeUs();
}

RowValues listedRowValues(const CaptureList& list, std::size_t row) {
    const ConstCaptureRecord record = list.store().record(list.recordAt(row));
    RowValues values;
    if (!hasTime(record)) return values;
    values.timeUs = record.timeUs() - list.timeOriginUs();
    values.deltaUs = listedRowDeltaUs(list, row);
    values.millivolts = record.voltage();
    values.milliamps = record.current();
    const std::size_t length = std::min<std::size_t>(record.byteCount(), kMaxCapturedBytes);
    for (std::size_t i = 0; i < length; ++i)
        common::appendFormat(values.bytesHex, i == 0 ? "%.2X" : " %.2X", record.wire()[i]);
    return values;
}

std::string exportRows(const CaptureList& list, RowExportFormat format) {
    const bool csv = format != RowExportFormat::Text;
    const char separator = csv ? ',' : '\t';
    const auto field = [&](std::string_view text) {
        return csv ? csvField(text) : std::string(text);
    };
    std::string out;
    const auto line = [&](const auto& fields) {
        bool first = true;
        for (const auto& text : fields) {
            if (!first) out += separator;
            out += field(text);
            first = false;
        }
        out += csv ? "\r\n" : "\n";
    };
    std::vector<std::string> fields;
    for (std::string_view title : kListColumnTitles)
        fields.emplace_back(title);
    for (std::string_view title : kNumberTitles)
        fields.emplace_back(title);
    line(fields);
    for (std::size_t row = 0; row < list.rowCount(); ++row) {
        ListRow texts = list.rowTexts(row);
        const RowValues values = listedRowValues(list, row);
        fields.assign(texts.columns.begin(), texts.columns.end());
        fields[0] = std::to_string(list.recordAt(row));
        fields.push_back(deltaField(values));
        fields.push_back(optionalNumber(values.timeUs));
        fields.push_back(optionalNumber(values.millivolts));
        fields.push_back(optionalNumber(values.milliamps));
        fields.push_back(values.bytesHex);
        line(fields);
    }
    if (format == RowExportFormat::CsvGbk) return common::utf8ToGbk(out);
    if (format == RowExportFormat::CsvUtf8) return std::string(kUtf8Mark) + out;
    return out;
}

common::FileResult saveRows(const CaptureList& list, RowExportFormat format,
                            const std::filesystem::path& path) {
    const std::string bytes = exportRows(list, format);
    const common::SaveOutcome saved =
        common::saveFile(path, [&](common::ByteSink& sink) { return sink.write(bytes); });
    if (saved.ok) return {};
    return {false, std::string(kRowsSavedFailed) + saved.reason};
}

}  // namespace ufcs
