// Saving and loading a 30-day recording (25,920,000 samples in each of
// channels 0 and 2, about 104 MB), against reading the same bytes with one
// plain read into a fresh buffer.
//   osa_file [--samples=N] [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "recorder/osa_file.h"

namespace {

namespace fs = std::filesystem;

uint32_t samplesPerChannel = 25'920'000;

fs::path file() {
    static const fs::path path =
        fs::temp_directory_path() /
        ("osa_file_bench_" + std::to_string(std::random_device()()) + ".osa");
    return path;
}

recorder::SampleDocument& recording() {
    static recorder::SampleDocument* made = [] {
        auto* document = new recorder::SampleDocument;
        for (uint32_t i = 0; i < samplesPerChannel; ++i)
            document->appendSample(static_cast<uint16_t>(9000 + i % 1000),
                                   static_cast<uint16_t>(i % 3000), {true, false, true});
        return document;
    }();
    return *made;
}

double megabytes() {
    return static_cast<double>(fs::file_size(file())) / 1e6;
}

double secondsOf(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One read of the whole file into a buffer made for it, as the plainest loader would.
double plainRead() {
    return secondsOf([] {
        std::FILE* in = std::fopen(file().c_str(), "rb");
        const std::size_t size = fs::file_size(file());
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[size]);  // not cleared first
        const std::size_t got = std::fread(bytes.get(), 1, size, in);
        std::fclose(in);
        benchmark::DoNotOptimize(got);
        benchmark::DoNotOptimize(bytes.get());
    });
}

void BM_OsaSave(benchmark::State& state) {
    recorder::SampleDocument& document = recording();
    double best = 1e9;
    for (auto _ : state) {
        const double took = secondsOf([&] {
            if (!recorder::saveOsa(document, file()).ok) std::abort();
        });
        state.SetIterationTime(took);
        best = std::min(best, took);
    }
    state.counters["mb_per_second"] = megabytes() / best;
}
BENCHMARK(BM_OsaSave)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_OsaLoad(benchmark::State& state) {
    recording();
    if (!fs::exists(file()) && !recorder::saveOsa(recording(), file()).ok) std::abort();
    plainRead();  // the file in the page cache, as for every load after it
    double read = 1e9;
    for (int i = 0; i < 3; ++i)
        read = std::min(read, plainRead());
    double best = 1e9;
    for (auto _ : state) {
        const double took = secondsOf([&] {
            recorder::OsaLoad load = recorder::loadOsa(file());
            if (!load.document || load.document->channel(2).count() != samplesPerChannel)
                std::abort();
        });
        state.SetIterationTime(took);
        best = std::min(best, took);
    }
    state.counters["mb_per_second"] = megabytes() / best;
    state.counters["read_mb_per_second"] = megabytes() / read;
    state.counters["ratio_vs_read"] = best / read;
}
BENCHMARK(BM_OsaLoad)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--samples=", 10) == 0)
            samplesPerChannel = static_cast<uint32_t>(std::strtoul(argv[i] + 10, nullptr, 10));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove(file(), ignored);
    return 0;
}
