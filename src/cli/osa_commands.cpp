#include <ostream>

#include "cli/cli.h"
#include "cli/json.h"
#include "common/format.h"
#include "common/integer_field.h"
#include "recorder/csv_export.h"
#include "recorder/osa_file.h"

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
    out << "{\"version\":" << load.header.version << ",\"signature_ok\":"
        << (load.header.signature == recorder::kOsaSignature ? "true" : "false")
        << ",\"period\":" << common::format("%.17g", document.period)
        << ",\"calibrated\":" << document.currentCalibrated << ",\"channels\":[";
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

}  // namespace

int runOsa(const std::vector<std::string>& args, bool, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed =
        parseArguments(args, {"osa", {"--json", "--samples"}, {}, {"FILE"}}, err);
    if (!parsed) return 2;
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
        for (int c = 0; c < recorder::kChannelCount; ++c) {
            const plot::SampledSeries& channel = document.channel(c);
            out << "channel " << c << ": count " << channel.count() << " max "
                << channel.extremes().maximum << " min " << channel.extremes().minimum << " sum "
                << common::format("%.17g", channel.sum()) << '\n';
        }
        if (parsed->has("--samples")) printSampleLines(document, out);
    }
    out.flush();
    return out ? 0 : 1;
}

int runCsv(const std::vector<std::string>& args, bool, std::ostream&, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(args,
                                                           {"csv",
                                                            {"--utf8"},
                                                            {{"-o"},
                                                             {"--period"},
                                                             {"--volts", {"V", "mV"}},
                                                             {"--amps", {"A", "mA"}},
                                                             {"--power", {"W", "mW"}}},
                                                            {"FILE.osa"}},
                                                           err);
    if (!parsed) return 2;
    const std::string output = parsed->value("-o");
    if (output.empty()) {
        reportBadArgument("csv", "missing -o OUT.csv", err);
        return 2;
    }
    recorder::CsvOptions options;
    const common::IntegerField period = common::checkIntegerField(
        parsed->value("--period", "1"), recorder::kLeastCsvPeriod, recorder::kMostCsvPeriod);
    if (period.problem) {
        err << *period.problem << '\n';
        return 2;
    }
    options.periodSeconds = static_cast<int>(period.value);
    options.millivolts = parsed->value("--volts") == "mV";
    options.milliamps = parsed->value("--amps") == "mA";
    options.milliwatts = parsed->value("--power") == "mW";
    options.utf8 = parsed->has("--utf8");

    const recorder::OsaLoad load = recorder::loadOsa(pathArgument(parsed->positional[0]));
    if (!load.document) {
        err << load.message << '\n';
        return 1;
    }
    const common::FileResult written = recorder::exportCsv(
        load.document->channel(recorder::kVoltageChannel),
        load.document->channel(recorder::kCurrentChannel), options, pathArgument(output));
    if (!written.ok) {
        err << written.message << '\n';
        return 1;
    }
    return 0;
}

}  // namespace cli
