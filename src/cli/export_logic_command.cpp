#include <ostream>

#include "cli/capture_loading.h"
#include "cli/cli.h"
#include "common/file_save.h"
#include "common/format.h"
#include "logic/capture_export.h"
#include "logic/session_archives.h"

namespace cli {
namespace {

// The longest recording written: some minutes at 24 MHz, hours at 1 MHz.
constexpr double kMostSamples = 10e9;

struct NumberOption {
    const char* name;
    double low, high;
    const char* what;
};

bool numberOption(const Arguments& parsed, const NumberOption& option, double& value,
                  std::ostream& err) {
    if (!parsed.values.count(option.name)) return true;
    const std::string text = parsed.value(option.name);
    const std::optional<double> number = common::parseNumber(text);
    if (!number || *number < option.low || *number > option.high) {
        reportBadArgument("export-logic",
                          std::string(option.name) + " '" + text + "' is not " + option.what, err);
        return false;
    }
    value = *number;
    return true;
}

}  // namespace

int runExportLogic(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed = parseArguments(
        args,
        {"export-logic",
         {},
         {{"-o"}, {"--rate"}, {"--baud-error"}, {"--jitter"}, {"--gap-us"}, {"--drift"}},
         {"CAPTURE"}},
        err);
    if (!parsed) return 2;
    logic::SynthesisOptions options;
    if (parsed->values.count("--rate")) {
        const std::optional<double> rate = logic::parseSampleRate(parsed->value("--rate"));
        if (!rate || *rate < 100e3 || *rate > 1e9) {
            reportBadArgument("export-logic",
                              "--rate '" + parsed->value("--rate") +
                                  "' is not a sample rate from 100kHz to 1GHz (1MHz, 24MHz)",
                              err);
            return 2;
        }
        options.sampleRate = *rate;
    }
    double jitterNs = 0, gapUs = -1;
    if (!numberOption(*parsed, {"--baud-error", -19, 19, "a percentage from -19 to 19"},
                      options.baudErrorPercent, err) ||
        !numberOption(*parsed, {"--drift", -15, 15, "a percentage from -15 to 15"},
                      options.driftPercent, err) ||
        !numberOption(*parsed, {"--jitter", 0, 10'000, "nanoseconds from 0 to 10000"}, jitterNs,
                      err) ||
        !numberOption(*parsed, {"--gap-us", 0, 500, "microseconds from 0 to 500"}, gapUs, err))
        return 2;
    options.jitterSeconds = jitterNs * 1e-9;
    if (gapUs >= 0) options.gapSeconds = gapUs * 1e-6;
    const std::optional<std::filesystem::path> target =
        outputArgument(*parsed, "export-logic", "OUT.sr", err);
    if (!target) return 2;
    const std::optional<LoadedCapture> capture = loadCapture(parsed->positional[0], err);
    if (!capture) return 1;
    const logic::Synthesis synthesis = logic::synthesizeRecording(*capture->store, options);
    if (synthesis.written == 0) {
        err << "ufcs export-logic: " << parsed->positional[0]
            << " 中没有可写成电平的记录（消息、握手、复位）\n";
        return 1;
    }
    if (static_cast<double>(synthesis.recording.sampleCount) > kMostSamples) {
        err << common::format("ufcs export-logic: 记录太长：%.0f 个采样，请用较低的 --rate\n",
                              static_cast<double>(synthesis.recording.sampleCount));
        return 1;
    }
    const common::FileResult written = logic::writeSigrokSession(*target, synthesis.recording);
    if (!written.ok) {
        err << "ufcs export-logic: " << written.message << '\n';
        return 1;
    }
    if (synthesis.moved > 0) {
        err << synthesis.moved
            << " 个包与同一线上的前一包重叠，已移到其后 2 ms（记录的时间不能照原样写成电平）\n";
    }
    out << common::format("已写入 %u 条记录（%.0f 个采样，%s）到 %s\n", synthesis.written,
                          static_cast<double>(synthesis.recording.sampleCount),
                          parsed->value("--rate", "1MHz").c_str(),
                          common::displayPath(*target).c_str());
    return 0;
}

}  // namespace cli
