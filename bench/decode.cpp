// Decoding as a click on a row does it, over every record of a full capture
// of mixed traffic (rows built first, as the list has done by then); and the
// window's searches over the same full list: a find that matches nothing (a
// whole pass, the worst case of Ctrl+F and F3), the next faulty row from the
// top (F8), and the sequence checks of the whole capture. Decoding every
// record is the baseline they are measured against.
#include <benchmark/benchmark.h>

#include <memory>

#include "simulator/bus_traffic.h"
#include "ufcs/capture_intake.h"
#include "ufcs/capture_list.h"
#include "ufcs/decoder.h"
#include "ufcs/list_search.h"
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

// One full capture for every benchmark of the program.
ufcs::CaptureStore* sharedCapture(benchmark::State& state) {
    static const std::unique_ptr<ufcs::CaptureStore> store = fullCapture();
    if (!store) state.SkipWithError("no memory for the capture store");
    return store.get();
}

void BM_DecodeEveryRecord(benchmark::State& state) {
    ufcs::CaptureStore* store = sharedCapture(state);
    if (!store) return;
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

// The time of one pass of `work` over the full list, as a counter.
template <typename Work>
void timePasses(benchmark::State& state, Work work) {
    ufcs::CaptureStore* store = sharedCapture(state);
    if (!store) return;
    ufcs::CaptureList list(*store);
    list.rebuild();
    const ufcs::SequenceReport report = ufcs::checkCapture(*store, {});
    for (auto _ : state)
        benchmark::DoNotOptimize(work(*store, list, report));
    state.counters["rows"] = static_cast<double>(list.rowCount());
    // Seconds per pass ("40m" is 40 ms).
    state.counters["s_per_pass"] =
        benchmark::Counter(static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FindTextNowhere(benchmark::State& state) {
    timePasses(state, [](const ufcs::CaptureStore&, const ufcs::CaptureList& list,
                         const ufcs::SequenceReport& report) {
        return ufcs::findRowWithText(list, std::nullopt, ufcs::SearchDirection::Forward,
                                     "不在任何一行", &report);
    });
}
BENCHMARK(BM_FindTextNowhere)->Unit(benchmark::kMillisecond);

// F8 pressed until it comes round to the first faulty row again: one whole pass.
void BM_StepThroughEveryFaultyRow(benchmark::State& state) {
    timePasses(state, [](const ufcs::CaptureStore&, const ufcs::CaptureList& list,
                         const ufcs::SequenceReport& report) {
        const auto forward = ufcs::SearchDirection::Forward;
        const std::optional<std::size_t> first =
            ufcs::findFaultyRow(list, std::nullopt, forward, report);
        std::size_t presses = 0;
        for (std::optional<std::size_t> row = first; row;) {
            ++presses;
            row = ufcs::findFaultyRow(list, row, forward, report);
            if (row == first) break;
        }
        return presses;
    });
}
BENCHMARK(BM_StepThroughEveryFaultyRow)->Unit(benchmark::kMillisecond);

void BM_CheckWholeCapture(benchmark::State& state) {
    timePasses(state, [](const ufcs::CaptureStore& store, const ufcs::CaptureList&,
                         const ufcs::SequenceReport&) {
        return ufcs::checkCapture(store, {}).findingCount();
    });
}
BENCHMARK(BM_CheckWholeCapture)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
