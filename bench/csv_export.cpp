// 另存为CSV格式 of a million rows in each unit combination, against a plain
// per-row snprintf + fwrite baseline that writes the same bytes (checked
// before timing). Both write to a memory-backed folder when there is one, so
// the figures compare the export's work and not the disk.
//   csv_export [--rows=N] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "recorder/csv_export.h"

namespace {

namespace fs = std::filesystem;

uint64_t rows = 1'000'000;

struct Samples {
    plot::SampledSeries voltage;
    plot::SampledSeries current;
};

const Samples& samples() {
    static Samples* made = [] {
        auto* s = new Samples;
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-20, 20);
        for (uint64_t i = 0; i < rows * 10; ++i) {
            s->voltage.append(static_cast<uint16_t>(9000 + 1000 * (i % 600 > 300) + noise(random)));
            s->current.append(static_cast<uint16_t>(2500 + (i % 7000) / 3 + noise(random)));
        }
        return s;
    }();
    return *made;
}

fs::path folder() {
    static const fs::path path = [] {
        const fs::path base =
            fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        fs::path made = base / ("csv_export_bench_" + std::to_string(std::random_device()()));
        fs::create_directories(made);
        return made;
    }();
    return path;
}

recorder::CsvOptions optionsOf(int64_t units) {
    recorder::CsvOptions options;
    options.millivolts = units & 1;
    options.milliamps = units & 2;
    options.milliwatts = units & 4;
    return options;
}

// The plain way: printf each row and write it on its own.
bool baselineExport(const recorder::CsvOptions& options, const fs::path& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const std::string header = recorder::csvHeader(options);
    std::fwrite(header.data(), 1, header.size(), file);
    const Samples& s = samples();
    const uint64_t total = recorder::csvRowCount(s.voltage.count(), options.periodSeconds);
    char row[160];
    for (uint64_t k = 0; k < total; ++k) {
        const auto index = static_cast<uint32_t>(k * 10 * options.periodSeconds);
        const recorder::CsvValues v =
            recorder::csvValues(s.voltage.at(index), s.current.at(index), options);
        const uint64_t t = k * options.periodSeconds;
        int n = std::snprintf(row, sizeof row, "%d:%02d:%02d,", static_cast<int>(t / 3600),
                              static_cast<int>(t % 3600 / 60), static_cast<int>(t % 60));
        n += std::snprintf(row + n, sizeof row - n,
                           options.milliwatts ? "%.3f,%.3f,%.0f\r\n" : "%.3f,%.3f,%.3f\r\n",
                           v.volts, v.amps, v.power);
        std::fwrite(row, 1, static_cast<std::size_t>(n), file);
    }
    return std::fclose(file) == 0;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

double secondsOf(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_CsvExport(benchmark::State& state) {
    const recorder::CsvOptions options = optionsOf(state.range(0));
    const Samples& s = samples();
    const fs::path fast = folder() / "fast.csv";
    const fs::path plain = folder() / "plain.csv";
    // Setup: the same bytes both ways, and the baseline's time in this program.
    if (!recorder::exportCsv(s.voltage, s.current, options, fast).ok ||
        !baselineExport(options, plain)) {
        state.SkipWithError("could not write the files");
        return;
    }
    if (contents(fast) != contents(plain)) {
        state.SkipWithError("the export and the baseline differ");
        return;
    }
    // The best of a few runs each way: this machine is shared, and noise only slows.
    double baseline = 1e9;
    for (int i = 0; i < 3; ++i)
        baseline = std::min(baseline, secondsOf([&] { baselineExport(options, plain); }));
    double perExport = 1e9;
    for (auto _ : state) {
        const double took =
            secondsOf([&] { recorder::exportCsv(s.voltage, s.current, options, fast); });
        state.SetIterationTime(took);
        perExport = std::min(perExport, took);
    }
    state.counters["rows_per_second"] = static_cast<double>(rows) / perExport;
    state.counters["baseline_rows_per_second"] = static_cast<double>(rows) / baseline;
    state.counters["ratio_vs_baseline"] = baseline / perExport;
    state.SetLabel(std::string(options.millivolts ? "mV," : "V,") +
                   (options.milliamps ? "mA," : "A,") + (options.milliwatts ? "mW" : "W"));
}
BENCHMARK(BM_CsvExport)->DenseRange(0, 7)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rows=", 7) == 0)
            rows = std::strtoull(argv[i] + 7, nullptr, 10);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(folder(), ignored);
    return 0;
}
