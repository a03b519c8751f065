// Decoding as a click on a row does it, over every record of a full capture
// of mixed traffic (rows built first, as the list has done by then).
#include <benchmark/benchmark.h>

#include <memory>

#include "simulator/bus_traffic.h"
#include "ufcs/capture_intake.h"
#include "ufcs/capture_list.h"
#include "ufcs/decoder.h"
#include "ufcs/record_assembler.h"

namespace {

constexpr uint32_t kRecords = 65535;  // the header and 65,535 events fill the store

struct QuietListener : ufcs::IntakeListener {
    void onRecordTaken(uint32_t) override {}
};

std::unique_ptr<ufcs::CaptureStore> fullCapture() {
    auto store = ufcs::CaptureStore::create();
    if (!store) return nullptr;
    ufcs::CaptureHeaderRecord{}.writeTo(store->record(0));
    store->setCount(1);
    QuietListener listener;
    ufcs::CaptureIntake intake(*store, listener);
    ufcs::RecordAssembler assembler;
    simulator::BusTraffic traffic({99, 0.03});
    while (store->count() < kRecords + 1) {
        for (const simulator::Report& page : simulator::capturePages(traffic.next())) {
            if (assembler.addPage(page.data(), *store) ==
                ufcs::RecordAssembler::Result::Completed) {
                intake.AddCapturedRecord();
            }
        }
    }
    ufcs::CaptureList(*store).rebuild();
    return store;
}

void BM_DecodeEveryRecord(benchmark::State& state) {
    static std::unique_ptr<ufcs::CaptureStore> store = fullCapture();
    if (!store) {
        state.SkipWithError("no memory for the capture store");
        return;
    }
    std::size_t items = 0;
    for (auto _ : state) {
        for (uint32_t index = 1; index <= kRecords; ++index) {
            const ufcs::DecodeResult result = ufcs::decodeRecord(store->record(index), index);
            items += result.roots.size() + result.pane.size();
        }
    }
    benchmark::DoNotOptimize(items);
    const double decodes = static_cast<double>(kRecords) * static_cast<double>(state.iterations());
    state.counters["decodes_per_second"] = benchmark::Counter(decodes, benchmark::Counter::kIsRate);
    state.counters["us_per_decode"] =
        benchmark::Counter(decodes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                           benchmark::Counter::OneK::kIs1000);
}
BENCHMARK(BM_DecodeEveryRecord)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
