// Reading and decoding a logic analyzer's recording against only inflating it:
// a sigrok session of 2 seconds at 24 MHz with 8 lines (48 million samples),
// D+ and D- carrying simulated traffic, two lines a clock, the rest still.
// Reports samples a second for both, their ratio, and the peak memory of the
// read (the goals: 100 million samples a second, at most twice the inflate).
//   logic_import [--seconds=S] [benchmark flags]
#include <benchmark/benchmark.h>
#include <zip.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "analyzer/capture_feed.h"
#include "logic/capture_export.h"
#include "logic/capture_import.h"
#include "logic/session_archives.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"

namespace {

namespace fs = std::filesystem;

double recordingSeconds = 2;
constexpr double kRate = 24e6;

fs::path file() {
    static const fs::path path =
        fs::temp_directory_path() /
        ("logic_import_bench_" + std::to_string(std::random_device()()) + ".sr");
    return path;
}

// Simulated traffic for the recording's length, on D+ and D-, and six more lines.
void makeFile() {
    auto store = ufcs::CaptureStore::create();
    analyzer::CaptureFeed feed(*store, {});
    simulator::BusTraffic traffic(simulator::BusTraffic::Options(1, 0.0));
    while (store->count() < 3 ||
           store->record(store->count() - 1).timeUs() - store->record(1).timeUs() <
               static_cast<int64_t>((recordingSeconds - 0.03) * 1e6))
        feed.feedReports(simulator::capturePages(traffic.next()));
    logic::SynthesisOptions options;
    options.sampleRate = kRate;
    logic::LogicRecording recording = logic::synthesizeRecording(*store, options).recording;
    recording.sampleCount = static_cast<uint64_t>(recordingSeconds * kRate);
    for (int k = 2; k < 8; ++k) {
        logic::DigitalChannel line{"D" + std::to_string(k), false, {}};
        const uint64_t half = k == 2 ? 12'000 : k == 3 ? 1'200 : 0;  // 1 kHz and 10 kHz clocks
        for (uint64_t s = half; half > 0 && s < recording.sampleCount; s += half)
            line.changes.push_back(s);
        recording.channels.push_back(std::move(line));
    }
    if (!logic::writeSigrokSession(file(), recording).ok) std::abort();
}

double secondsOf(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every sample member inflated into one reused buffer, and nothing else.
uint64_t inflateOnly() {
    zip_t* archive = zip_open(file().c_str(), ZIP_RDONLY, nullptr);
    std::vector<uint8_t> chunk(1 << 20);
    uint64_t total = 0;
    for (int member = 1;; ++member) {
        zip_file_t* entry = zip_fopen(archive, ("logic-1-" + std::to_string(member)).c_str(), 0);
        if (!entry) break;
        zip_int64_t got = 0;
        while ((got = zip_fread(entry, chunk.data(), chunk.size())) > 0)
            total += static_cast<uint64_t>(got);
        zip_fclose(entry);
    }
    zip_discard(archive);
    return total;
}

// The process's peak resident memory since the last reset, in bytes (Linux).
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}
// A size line of /proc/self/status ("VmHWM:", "VmRSS:"), in bytes.
double statusBytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::stod(line.substr(key.size())) * 1024;
    }
    return 0;
}

void ReadAndDecode(benchmark::State& state) {
    static const bool made = (makeFile(), true);
    benchmark::DoNotOptimize(made);
    const double samples = recordingSeconds * kRate;
    double inflateSeconds = 0, readSeconds = 0, peakAbove = 0;
    uint32_t records = 0;
    for (auto _ : state) {
        inflateSeconds += secondsOf([] { benchmark::DoNotOptimize(inflateOnly()); });
        const double before = statusBytes("VmRSS:");
        resetPeakMemory();
        const double seconds = secondsOf([&] {
            const logic::LogicLoad load = logic::readSigrokSession(file());
            auto store = ufcs::CaptureStore::create();
            logic::importRecording(*load.recording, {}, *store);
            records = store->count() - 1;
        });
        peakAbove = std::max(peakAbove, statusBytes("VmHWM:") - before);
        readSeconds += seconds;
        state.SetIterationTime(seconds);
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["samples"] = samples;
    state.counters["records"] = records;
    state.counters["samples_per_s"] = samples * runs / readSeconds;
    state.counters["inflate_samples_per_s"] = samples * runs / inflateSeconds;
    state.counters["ratio_to_inflate"] = readSeconds / inflateSeconds;
    state.counters["peak_above_start_MB"] = peakAbove / 1e6;
    state.counters["file_MB"] = static_cast<double>(fs::file_size(file())) / 1e6;
}
BENCHMARK(ReadAndDecode)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            recordingSeconds = std::atof(argv[i] + 10);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove(file(), ignored);
    return 0;
}
