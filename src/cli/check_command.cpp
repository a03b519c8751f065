#include <algorithm>
#include <ostream>

#include "cli/capture_loading.h"
#include "cli/cli.h"
#include "cli/json.h"
#include "common/file_save.h"
#include "common/format.h"
#include "common/integer_field.h"
#include "common/junit_report.h"
#include "logic/capture_import.h"
#include "ufcs/row_export.h"
#include "ufcs/sequence_check.h"

namespace cli {
namespace {

std::string numberOrNull(std::optional<double> value) {
    return value ? common::format("%.6g", *value) : std::string("null");
}

std::string measurementJson(const ufcs::Measurement& measured) {
    return "{\"value\":" + numberOrNull(measured.value) + ",\"low\":" + numberOrNull(measured.low) +
           ",\"high\":" + numberOrNull(measured.high) + ",\"unit\":" + jsonString(measured.unit) +
           '}';
}

void printJson(const ufcs::SequenceReport& report, std::ostream& out) {
    out << '[';
    bool first = true;
    for (const ufcs::SequenceNote& note : report.notes()) {
        if (!note.isFinding()) continue;
        out << (first ? "\n" : ",\n") << "{\"index\":" << note.index
            << ",\"kind\":" << jsonString(ufcs::findingKindName(*note.kind)) << ",\"delay_us\":"
            << (note.delayUs ? std::to_string(*note.delayUs) : std::string("null"))
            << ",\"text\":" << jsonString(note.text);
        if (note.measurement) out << ",\"measured\":" << measurementJson(*note.measurement);
        if (!note.limit.empty())
            out << ",\"limit\":" << jsonString(note.limit)
                << ",\"clause\":" << jsonString(note.clause);
        out << '}';
        first = false;
    }
    out << "\n]\n";
}

// The findings on the output, one line each, so that a pipe counts them; the
// summary on the error stream.
void printText(const ufcs::SequenceReport& report, std::ostream& out, std::ostream& err) {
    for (const ufcs::SequenceNote& note : report.notes()) {
        if (!note.isFinding()) continue;
        out << note.index << '\t' << ufcs::findingKindName(*note.kind) << '\t'
            << (note.delayUs ? ufcs::millisecondsText(*note.delayUs) : std::string("-")) << '\t'
            << note.text << '\n';
    }
    err << report.findingCount() << " 处时序问题\n";
}

// A window option in milliseconds (whole or with decimals down to 0.1 ms), as microseconds.
bool windowOption(const Arguments& parsed, const char* option, std::optional<uint32_t>& us,
                  std::ostream& err) {
    if (!parsed.values.count(option)) return true;
    const std::string text = parsed.value(option);
    const double ms = common::parseNumber(text).value_or(0);
    if (!(ms >= 0.2 && ms <= 60'000)) {
        reportBadArgument("check",
                          std::string(option) + " '" + text +
                              "' is not a number of milliseconds from 0.2 to 60000",
                          err);
        return false;
    }
    us = static_cast<uint32_t>(ms * 1000 + 0.5);
    return true;
}

bool windowOption(const Arguments& parsed, const char* option, uint32_t& us, std::ostream& err) {
    std::optional<uint32_t> given;
    if (!windowOption(parsed, option, given, err)) return false;
    us = given.value_or(us);
    return true;
}

using KindSet = std::vector<bool>;  // by FindingKind

// "--fail-on all" or a comma-separated list of kinds.
std::optional<KindSet> failOnOption(const Arguments& parsed, std::ostream& err) {
    KindSet kinds(ufcs::kFindingKindCount, false);
    if (!parsed.values.count("--fail-on")) return kinds;
    const std::string text = parsed.value("--fail-on");
    if (text == "all") return KindSet(ufcs::kFindingKindCount, true);
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string word = text.substr(start, comma - start);
        const std::optional<ufcs::FindingKind> kind = ufcs::findingKindNamed(word);
        if (!kind) {
            std::string known;
            for (std::size_t i = 0; i < ufcs::kFindingKindCount; ++i)
                known += std::string(i ? ", " : "") +
                         std::string(ufcs::findingKindName(static_cast<ufcs::FindingKind>(i)));
            reportBadArgument(
                "check", "--fail-on: '" + word + "' is not a finding kind (all, " + known + ")",
                err);
            return std::nullopt;
        }
        kinds[static_cast<std::size_t>(*kind)] = true;
        start = comma + 1;
    }
    return kinds;
}

bool isLineKind(ufcs::FindingKind kind) {
    return kind >= ufcs::FindingKind::BaudOutOfRange;
}

// One test case a kind: failed with its findings' rows, skipped for what
// only a logic recording's lines can show when the capture has none.
std::vector<common::JUnitCase> junitCases(const ufcs::SequenceReport& report, bool fromLines) {
    std::vector<common::JUnitCase> cases;
    for (std::size_t i = 0; i < ufcs::kFindingKindCount; ++i) {
        const auto kind = static_cast<ufcs::FindingKind>(i);
        common::JUnitCase test;
        test.name = std::string(ufcs::findingKindName(kind));
        test.className = "ufcs.check";
        std::size_t found = 0;
        for (const ufcs::SequenceNote& note : report.notes()) {
            if (note.kind != kind) continue;
            ++found;
            test.details += std::to_string(note.index) + '\t' + note.text + '\n';
        }
        if (found > 0) {
            test.outcome = common::JUnitCase::Outcome::Failed;
            test.message = common::format("%llu 处", static_cast<unsigned long long>(found));
        } else if (isLineKind(kind) && !fromLines) {
            test.outcome = common::JUnitCase::Outcome::Skipped;
            test.message = "只有逻辑分析仪的记录才能看出";
        }
        cases.push_back(std::move(test));
    }
    return cases;
}

bool writeJUnit(const std::filesystem::path& target, const std::string& suite,
                const ufcs::SequenceReport& report, bool fromLines, std::ostream& err) {
    const std::string xml = common::junitXml(suite, junitCases(report, fromLines));
    const common::SaveOutcome saved =
        common::saveFile(target, [&](common::ByteSink& sink) { return sink.write(xml); });
    if (!saved.ok) {
        err << "ufcs check: 无法写入 " << common::displayPath(target) << "：" << saved.reason
            << '\n';
    }
    return saved.ok;
}

bool anyListed(const ufcs::SequenceReport& report, const KindSet& kinds) {
    return std::any_of(report.notes().begin(), report.notes().end(),
                       [&](const ufcs::SequenceNote& note) {
                           return note.kind && kinds[static_cast<std::size_t>(*note.kind)];
                       });
}

}  // namespace

int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(args,
                                                           {"check",
                                                            {"--json"},
                                                            {{"--ack-ms"},
                                                             {"--answer-ms"},
                                                             {"--power-ready-ms"},
                                                             {"--power-supply-ms"},
                                                             {"--gap-ms"},
                                                             {"--fail-on"},
                                                             {"--junit"},
                                                             {"--dp"},
                                                             {"--dm"},
                                                             {"--vbus"},
                                                             {"--ibus"}},
                                                            {"FILE"}},
                                                           err);
    if (!parsed) return 2;
    const std::optional<LogicLines> lines = logicLinesOption(*parsed, "check", err);
    if (!lines) return 2;
    ufcs::SequenceWindows windows;
    if (!windowOption(*parsed, "--ack-ms", windows.ackUs, err) ||
        !windowOption(*parsed, "--answer-ms", windows.answerUs, err) ||
        !windowOption(*parsed, "--power-ready-ms", windows.powerReadyUs, err) ||
        !windowOption(*parsed, "--power-supply-ms", windows.powerSupplyUs, err) ||
        !windowOption(*parsed, "--gap-ms", windows.messageGapUs, err))
        return 2;
    const std::optional<KindSet> failOn = failOnOption(*parsed, err);
    if (!failOn) return 2;
    std::optional<std::filesystem::path> junit;
    if (parsed->values.count("--junit")) {
        junit = pathArgument(parsed->value("--junit"));
        if (const common::SaveOutcome check = common::checkSaveTarget(*junit); !check.ok) {
            reportBadArgument(
                "check", "cannot save to '" + parsed->value("--junit") + "': " + check.reason, err);
            return 2;
        }
    }
    const std::optional<LoadedCapture> capture = loadCapture(parsed->positional[0], err, *lines);
    if (!capture) return 1;
    const ufcs::SequenceReport report =
        ufcs::checkCapture(*capture->store, windows, capture->lineFindings);
    if (parsed->has("--json"))
        printJson(report, out);
    else
        printText(report, out, err);
    out.flush();
    const std::string& path = parsed->positional[0];
    if (junit && !writeJUnit(*junit, common::displayPath(pathArgument(path).filename()), report,
                             logic::isLogicFile(pathArgument(path)), err))
        return 1;
    if (!out || anyListed(report, *failOn)) return 1;
    return 0;
}

}  // namespace cli
