#include <cmath>
#include <ostream>

#include "cli/cli.h"
#include "cli/json.h"
#include "common/format.h"
#include "common/integer_field.h"
#include "recorder/comparison.h"
#include "recorder/csv_export.h"
#include "recorder/osa_file.h"
#include "recorder/waveform.h"

namespace cli {
namespace {

std::string signatureText(const std::array<uint8_t, 8>& signature) {
    if (signature == recorder::kOsaSignature) return "ok";
    std::string text;
    for (const uint8_t byte : signature)
        text += common::format(text.empty() ? "%02X" : " %02X", byte);
    return text;
}

void printSampleLines(const recorder::SampleDocument& document, std::ostream& out) {
    const plot::SampledSeries& voltage = document.channel(recorder::kVoltageChannel);
    const plot::SampledSeries& current = document.channel(recorder::kCurrentChannel);
    const uint32_t count = std::max(voltage.count(), current.count());
    for (uint32_t i = 0; i < count; ++i) {
        out << i << '\t' << common::format("%.1f", i * document.period) << '\t'
            << (i < voltage.count() ? voltage.at(i) : 0) << '\t'
            << (i < current.count() ? current.at(i) : 0) << '\n';
    }
}

void printJsonSamples(const plot::SampledSeries& channel, std::ostream& out) {
    out << '[';
    for (uint32_t i = 0; i < channel.count(); ++i)
        out << (i ? "," : "") << channel.at(i);
    out << ']';
}

void printJson(const recorder::OsaLoad& load, bool samples, std::ostream& out) {
    const recorder::SampleDocument& document = *load.document;
    const recorder::PanelTotals totals = recorder::documentTotals(document);
    out << "{\"version\":" << load.header.version << ",\"signature_ok\":"
        << (load.header.signature == recorder::kOsaSignature ? "true" : "false")
        << ",\"period\":" << common::format("%.17g", document.period)
        << ",\"calibrated\":" << document.currentCalibrated
        << ",\"duration_s\":" << common::format("%.1f", totals.seconds)
        << ",\"wh\":" << common::format("%.6f", totals.milliwattHours / 1000)
        << ",\"mah\":" << common::format("%.3f", totals.milliampHours) << ",\"channels\":[";
    for (int c = 0; c < recorder::kChannelCount; ++c) {
        const plot::SampledSeries& channel = document.channel(c);
        out << (c ? "," : "") << "{\"count\":" << channel.count()
            << ",\"max\":" << channel.extremes().maximum
            << ",\"min\":" << channel.extremes().minimum
            << ",\"sum\":" << common::format("%.17g", channel.sum()) << '}';
    }
    out << ']';
    if (samples) {
        out << ",\"voltage_mv\":";
        printJsonSamples(document.channel(recorder::kVoltageChannel), out);
        out << ",\"current_ma\":";
        printJsonSamples(document.channel(recorder::kCurrentChannel), out);
    }
    out << "}\n";
}

// `ufcs osa A --compare B`: both tests' totals and B − A.
int compareTests(const std::string& nameA, const std::string& nameB, bool json, std::ostream& out,
                 std::ostream& err) {
    const recorder::OsaLoad a = recorder::loadOsa(pathArgument(nameA));
    if (!a.document) {
        err << a.message << '\n';
        return 1;
    }
    const recorder::OsaLoad b = recorder::loadOsa(pathArgument(nameB));
    if (!b.document) {
        err << b.message << '\n';
        return 1;
    }
    const std::vector<recorder::ComparisonRow> rows = recorder::comparisonRows(
        recorder::measureWholeTest(*a.document), recorder::measureWholeTest(*b.document));
    out << (json ? recorder::comparisonJson(rows, nameA, nameB)
                 : recorder::comparisonText(rows, nameA, nameB));
    out.flush();
    return out ? 0 : 1;
}

}  // namespace

int runOsa(const std::vector<std::string>& args, bool, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed =
        parseArguments(args, {"osa", {"--json", "--samples"}, {{"--compare"}}, {"FILE"}}, err);
    if (!parsed) return 2;
    if (parsed->values.count("--compare")) {
        if (parsed->has("--samples")) {
            reportBadArgument("osa", "--samples and --compare cannot be used together", err);
            return 2;
        }
        return compareTests(parsed->positional[0], parsed->value("--compare"),
                            parsed->has("--json"), out, err);
    }
    const recorder::OsaLoad load = recorder::loadOsa(pathArgument(parsed->positional[0]));
    if (!load.document) {
        err << load.message << '\n';
        return 1;
    }
    if (parsed->has("--json")) {
        printJson(load, parsed->has("--samples"), out);
    } else {
        const recorder::SampleDocument& document = *load.document;
        out << "version: " << load.header.version << '\n'
            << "signature: " << signatureText(load.header.signature) << '\n'
            << "period: " << common::format("%g", document.period) << '\n'
            << "calibrated: " << (document.currentCalibrated ? 1 : 0) << '\n';
        const recorder::PanelTotals totals = recorder::documentTotals(document);
        out << "duration: " << recorder::testDurationText(totals.seconds) << '\n'
            << "energy: " << common::format("%.4f Wh", totals.milliwattHours / 1000) << '\n'
            << "charge: " << common::format("%.3f mAh", totals.milliampHours) << '\n';
        // Only the channels this test recorded (the others stay empty in this program).
        for (int c = 0; c < recorder::kChannelCount; ++c) {
            const plot::SampledSeries& channel = document.channel(c);
            if (channel.count() == 0) continue;
            out << "channel " << c << ": count " << channel.count() << " max "
                << channel.extremes().maximum << " min " << channel.extremes().minimum << " sum "
                << common::format("%.17g", channel.sum()) << '\n';
        }
        if (parsed->has("--samples")) printSampleLines(document, out);
    }
    out.flush();
    return out ? 0 : 1;
}

namespace {

// --period P (whole seconds 1-600, or 0.1 for every sample) and --every-sample.
bool readPeriod(const Arguments& parsed, recorder::CsvOptions& options, std::ostream& err) {
    const std::string period = parsed.value("--period", "1");
    options.everySample = parsed.has("--every-sample") || period == "0.1";
    if (options.everySample) return true;
    const common::IntegerField field =
        common::checkIntegerField(period, recorder::kLeastCsvPeriod, recorder::kMostCsvPeriod);
    if (field.problem) {
        reportBadArgument("csv",
                          "--period: " + plainPrompt(*field.problem) + "（或 0.1：每个采样）", err);
        return false;
    }
    options.periodSeconds = static_cast<int>(field.value);
    return true;
}

// --from and --to as the samples between them, both included.
std::optional<recorder::SampleSpan> readSpan(const Arguments& parsed, std::ostream& err) {
    recorder::SampleSpan span;
    constexpr double kPerSecond = 1 / recorder::kSamplingPeriodSeconds;
    if (parsed.values.count("--from")) {
        const auto from = secondsInTest(parsed, "--from", "csv", err);
        if (!from) return std::nullopt;
        span.first = static_cast<uint32_t>(std::llround(*from * kPerSecond));
    }
    if (parsed.values.count("--to")) {
        const auto to = secondsInTest(parsed, "--to", "csv", err);
        if (!to) return std::nullopt;
        span.end = static_cast<uint32_t>(std::llround(*to * kPerSecond)) + 1;
        if (span.end <= span.first) {
            reportBadArgument("csv", "--to comes before --from", err);
            return std::nullopt;
        }
    }
    return span;
}

}  // namespace

int runCsv(const std::vector<std::string>& args, bool, std::ostream&, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(args,
                                                           {"csv",
                                                            {"--utf8", "--every-sample"},
                                                            {{"-o"},
                                                             {"--period"},
                                                             {"--from"},
                                                             {"--to"},
                                                             {"--volts", {"V", "mV"}},
                                                             {"--amps", {"A", "mA"}},
                                                             {"--power", {"W", "mW"}}},
                                                            {"FILE.osa"}},
                                                           err);
    if (!parsed) return 2;
    const std::optional<std::filesystem::path> output =
        outputArgument(*parsed, "csv", "OUT.csv", err);
    if (!output) return 2;
    recorder::CsvOptions options;
    if (!readPeriod(*parsed, options, err)) return 2;
    const std::optional<recorder::SampleSpan> span = readSpan(*parsed, err);
    if (!span) return 2;
    options.millivolts = parsed->value("--volts") == "mV";
    options.milliamps = parsed->value("--amps") == "mA";
    options.milliwatts = parsed->value("--power") == "mW";
    options.utf8 = parsed->has("--utf8");

    const recorder::OsaLoad load = recorder::loadOsa(pathArgument(parsed->positional[0]));
    if (!load.document) {
        err << "ufcs csv: " << load.message << '\n';
        return 1;
    }
    const common::FileResult written = recorder::exportCsv(
        load.document->channel(recorder::kVoltageChannel),
        load.document->channel(recorder::kCurrentChannel), options, *output, *span);
    if (!written.ok) {
        err << "ufcs csv: " << written.message << '\n';
        return 1;
    }
    return 0;
}

}  // namespace cli
