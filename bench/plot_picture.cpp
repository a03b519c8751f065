// `ufcs plot` of a 24-hour recording (864 000 samples) to PNG and to SVG,
// each from the file: load, draw and save, as a user runs it.
//   PLOT_PICTURE_HOURS=H plot_picture (shorter recordings, for quick runs)
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "cli/cli.h"
#include "cli/plot_command.h"
#include "recorder/osa_file.h"
#include "support/test_folder.h"

namespace {

double hours() {
    const char* text = std::getenv("PLOT_PICTURE_HOURS");
    return text ? std::atof(text) : 24.0;
}

const testing_support::TestFolder& folder() {
    static const testing_support::TestFolder made("plot_picture_bench");
    return made;
}

// The recording, saved once: a slow sine of voltage and current with ripple.
const std::string& recordingFile() {
    static const std::string path = [] {
        recorder::SampleDocument document;
        const auto samples = static_cast<uint32_t>(hours() * 36'000);
        for (uint32_t i = 0; i < samples; ++i) {
            const double t = i / 36'000.0;
            document.appendSample(static_cast<uint16_t>(9000 + 800 * std::sin(t) + i % 37),
                                  static_cast<uint16_t>(2000 + 1500 * std::cos(t / 3) + i % 53),
                                  {true, false, true});
        }
        const std::string file = folder().file("day.osa");
        if (!recorder::saveOsa(document, file).ok) std::abort();
        return file;
    }();
    return path;
}

void plotTo(benchmark::State& state, const char* extension) {
    const std::string& input = recordingFile();
    const std::string output = folder().file("day") + extension;
    double total = 0;
    for (auto _ : state) {
        std::ostringstream out, err;
        const auto start = std::chrono::steady_clock::now();
        const int status = cli::runCli({"plot", input, "-o", output}, out, err, {}, cli::runPlot);
        total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count();
        if (status != 0) state.SkipWithError(err.str().c_str());
    }
    state.counters["ms_per_picture"] = total / static_cast<double>(state.iterations());
    state.counters["hours"] = hours();
}

void BM_PlotPng(benchmark::State& state) {
    plotTo(state, ".png");
}
void BM_PlotSvg(benchmark::State& state) {
    plotTo(state, ".svg");
}

BENCHMARK(BM_PlotPng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlotSvg)->Unit(benchmark::kMillisecond);

}  // namespace
