#include <ostream>

#include "cli/capture_loading.h"
#include "cli/cli.h"
#include "recorder/osa_file.h"
#include "sharing/pcapng.h"
#include "sharing/summary.h"

namespace cli {

int runSummary(const std::vector<std::string>& args, bool, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed =
        parseArguments(args, {"summary", {"--markdown"}, {}, {"FILE"}}, err);
    if (!parsed) return 2;
    const std::string& name = parsed->positional[0];
    const std::filesystem::path path = pathArgument(name);
    const sharing::SummaryStyle style =
        parsed->has("--markdown") ? sharing::SummaryStyle::Markdown : sharing::SummaryStyle::Text;
    const std::string shown = common::displayPath(path.filename());
    if (path.extension() == ".osa") {
        const recorder::OsaLoad load = recorder::loadOsa(path);
        if (!load.document) {
            err << load.message << '\n';
            return 1;
        }
        out << sharing::recordingSummary(*load.document, shown, style);
    } else {
        const std::optional<LoadedCapture> capture = loadCapture(name, err);
        if (!capture) return 1;
        const ufcs::SequenceReport report =
            ufcs::checkCapture(*capture->store, {}, capture->lineFindings);
        out << sharing::captureSummary(*capture->store, report, shown, style);
    }
    out.flush();
    return out ? 0 : 1;
}

int runExportPcapng(const std::vector<std::string>& args, std::ostream&, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(
        args,
        {"export-pcapng", {}, {{"-o"}, {"--dp"}, {"--dm"}, {"--vbus"}, {"--ibus"}}, {"CAPTURE"}},
        err);
    if (!parsed) return 2;
    if (!parsed->values.count("-o")) {
        reportBadArgument("export-pcapng", "-o OUT.pcapng is required", err);
        return 2;
    }
    const std::optional<LogicLines> lines = logicLinesOption(*parsed, "export-pcapng", err);
    if (!lines) return 2;
    const std::optional<LoadedCapture> capture = loadCapture(parsed->positional[0], err, *lines);
    if (!capture) return 1;
    const std::filesystem::path output = pathArgument(parsed->value("-o"));
    const ufcs::SequenceReport report =
        ufcs::checkCapture(*capture->store, {}, capture->lineFindings);
    const common::FileResult written = sharing::writePcapng(*capture->store, report, output);
    if (!written.ok) {
        err << written.message << '\n';
        return 1;
    }
    err << "已导出 " << (capture->store->count() > 0 ? capture->store->count() - 1 : 0)
        << " 条记录到 " << common::displayPath(output) << '\n';
    return 0;
}

}  // namespace cli
