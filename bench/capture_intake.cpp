// The capture path as the worker and the list run it: report dispatch, page
// assembly, intake, and the list rows (fault checks, colours, texts) for a
// capture filled to the last record it can hold, of mixed traffic.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "analyzer/capture_feed.h"
#include "simulator/bus_traffic.h"
#include "ufcs/capture_list.h"

namespace {

// Records a capture holds before the store counts as full.
constexpr uint32_t kRecords = analyzer::kStoreFullCount;
// The most reports a full-speed USB HID interrupt endpoint delivers in a second.
constexpr double kReportsPerSecondOfTheLink = 8000.0;

struct Workload {
    std::vector<simulator::Report> reports;
    std::size_t pageHistogram[6] = {};
};

const Workload& workload() {
    static const Workload load = [] {
        Workload w;
        simulator::BusTraffic traffic({2024, 0.03});
        for (uint32_t i = 0; i < kRecords; ++i) {
            const auto pages = simulator::capturePages(traffic.next());
            ++w.pageHistogram[pages.size()];
            w.reports.insert(w.reports.end(), pages.begin(), pages.end());
        }
        return w;
    }();
    return load;
}

void BM_CaptureIntake(benchmark::State& state) {
    const Workload& load = workload();
    auto store = ufcs::CaptureStore::create();
    if (!store) {
        state.SkipWithError("no memory for the capture store");
        return;
    }
    std::size_t textBytes = 0;
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        analyzer::CaptureFeed feed(*store, {});
        ufcs::CaptureList list(*store);
        for (const simulator::Report& report : load.reports)
            feed.feedReport(report);
        list.appendNew();
        for (std::size_t row = 0; row < list.rowCount(); ++row) {
            textBytes += list.rowTexts(row).columns[4].size();
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (store->count() != kRecords + 1) state.SkipWithError("not every record was taken in");
    }
    benchmark::DoNotOptimize(textBytes);
    const double records = static_cast<double>(kRecords) * static_cast<double>(state.iterations());
    state.counters["records_per_second"] = benchmark::Counter(records, benchmark::Counter::kIsRate);
    // How many times faster than the instrument's link can deliver, as a plain ratio.
    state.counters["times_link_rate"] = records / seconds / kReportsPerSecondOfTheLink;
    state.counters["reports"] = static_cast<double>(load.reports.size());
}
BENCHMARK(BM_CaptureIntake)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const Workload& load = workload();
    std::fprintf(stderr,
                 "workload: %u records in %zu reports; records of 1-5 pages: %zu %zu %zu %zu %zu\n",
                 kRecords, load.reports.size(), load.pageHistogram[1], load.pageHistogram[2],
                 load.pageHistogram[3], load.pageHistogram[4], load.pageHistogram[5]);
    std::fprintf(stderr,
                 "times_link_rate: records_per_second / %.0f reports per second of the USB link\n",
                 kReportsPerSecondOfTheLink);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
