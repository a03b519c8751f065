#include <ostream>

#include "cli/capture_loading.h"
#include "cli/cli.h"
#include "cli/json.h"
#include "cli/output.h"
#include "ufcs/row_export.h"

namespace cli {
namespace {

void printTabbed(const ufcs::CaptureList& list, std::ostream& out) {
    for (std::size_t i = 0; i < list.rowCount(); ++i) {
        printRowTabbed(list.rowTexts(i), out);
    }
}

void printJson(const ufcs::CaptureList& list, std::ostream& out) {
    static constexpr const char* kKeys[ufcs::kListColumns] = {
        "index", "type", "receiver", "message", "summary", "voltage", "time", "baud"};
    out << '[';
    for (std::size_t i = 0; i < list.rowCount(); ++i) {
        const ufcs::ListRow row = list.rowTexts(i);
        out << (i == 0 ? "\n" : ",\n") << "{\"" << kKeys[0] << "\":" << list.recordAt(i);
        for (std::size_t column = 1; column < ufcs::kListColumns; ++column) {
            out << ",\"" << kKeys[column] << "\":" << jsonString(row.columns[column]);
        }
        out << ",\"color\":" << jsonString(colourText(row.colour));
        const ufcs::RowValues values = ufcs::listedRowValues(list, i);
        out << ",\"time_us\":" << jsonNumber(values.timeUs)
            << ",\"delta_us\":" << jsonNumber(values.deltaUs)
            << ",\"voltage_mv\":" << jsonNumber(values.millivolts)
            << ",\"current_ma\":" << jsonNumber(values.milliamps)
            << ",\"bytes\":" << jsonString(values.bytesHex) << '}';
    }
    out << "\n]\n";
}

}  // namespace

int runRows(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed =
        parseArguments(args,
                       {"rows",
                        {"--json", "--csv", "--utf8", "--relative"},
                        {{"--dp"}, {"--dm"}, {"--vbus"}, {"--ibus"}},
                        {"FILE"}},
                       err);
    if (!parsed) return 2;
    const std::optional<LogicLines> lines = logicLinesOption(*parsed, "rows", err);
    if (!lines) return 2;
    if (parsed->has("--json") && parsed->has("--csv")) {
        reportBadArgument("rows", "--json and --csv do not go together", err);
        return 2;
    }
    if (parsed->has("--utf8") && !parsed->has("--csv")) {
        reportBadArgument("rows", "--utf8 goes with --csv", err);
        return 2;
    }
    const std::optional<LoadedCapture> capture = loadCapture(parsed->positional[0], err, *lines);
    if (!capture) return 1;
    if (parsed->has("--relative"))
        capture->list->setTimeOrigin(ufcs::CaptureList::TimeOrigin::CaptureStart);
    if (parsed->has("--json"))
        printJson(*capture->list, out);
    else if (parsed->has("--csv"))
        out << ufcs::exportRows(*capture->list, parsed->has("--utf8")
                                                    ? ufcs::RowExportFormat::CsvUtf8
                                                    : ufcs::RowExportFormat::CsvGbk);
    else
        printTabbed(*capture->list, out);
    out.flush();
    return out ? 0 : 1;
}

}  // namespace cli
