#include <ostream>

#include "cli/capture_loading.h"
#include "cli/cli.h"
#include "cli/json.h"
#include "common/format.h"
#include "common/integer_field.h"
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
bool windowOption(const Arguments& parsed, const char* option, uint32_t& us, std::ostream& err) {
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

}  // namespace

int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(args,
                                                           {"check",
                                                            {"--json"},
                                                            {{"--ack-ms"},
                                                             {"--answer-ms"},
                                                             {"--power-ready-ms"},
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
        !windowOption(*parsed, "--power-ready-ms", windows.powerReadyUs, err))
        return 2;
    const std::optional<LoadedCapture> capture = loadCapture(parsed->positional[0], err, *lines);
    if (!capture) return 1;
    const ufcs::SequenceReport report =
        ufcs::checkCapture(*capture->store, windows, capture->lineFindings);
    if (parsed->has("--json"))
        printJson(report, out);
    else
        printText(report, out, err);
    out.flush();
    return out ? 0 : 1;
}

}  // namespace cli
