// The simulated instrument at 8,000 records a second, read by the analyzer's
// session until the store is full, while the owner thread lists the rows.
// Checks that every record arrives once and in order, and reports the rate
// achieved and the worker's CPU time per record.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "analyzer/session.h"
#include "simulator/simulated_device.h"
#include "ufcs/capture_list.h"

namespace {

using namespace std::chrono_literals;

constexpr double kRecordsPerSecond = 8000;
constexpr uint32_t kSeed = 4242;
constexpr double kFaultRate = 0.03;

struct ListingListener : analyzer::SessionListener {
    explicit ListingListener(ufcs::CaptureList& list) : list(list) {}
    void onRecordsAdded(uint32_t) override {
        list.appendNew();
        ++notices;
    }
    void onStoreFull(const std::string&) override { full = true; }
    void onLostStep() override { ++lostSteps; }
    ufcs::CaptureList& list;
    bool full = false;
    int lostSteps = 0;
    uint64_t notices = 0;
};

// The events the instrument generated, made again from the same seed.
uint32_t firstMismatch(const ufcs::CaptureStore& store) {
    simulator::BusTraffic traffic({kSeed, kFaultRate});
    for (uint32_t index = 1; index < store.count(); ++index) {
        const simulator::BusEvent event = traffic.next();
        const std::vector<simulator::Report> pages = simulator::capturePages(event);
        uint8_t expected[ufcs::kRecordSize] = {};
        for (std::size_t page = 0; page < pages.size(); ++page) {
            std::memcpy(expected + page * ufcs::kPageSize, pages[page].data(), ufcs::kPageSize);
        }
        const uint8_t* got = store.recordBytes(index);
        const std::size_t end =
            ufcs::kWireOffset + std::min(event.wire.size(), ufcs::kMaxCapturedBytes);
        // Bytes 0, 1 and 8 are the list's to rewrite; 12-13 the intake's when uncalibrated.
        if (std::memcmp(got + 2, expected + 2, 6) != 0 ||
            std::memcmp(got + 10, expected + 10, 4) != 0 ||
            std::memcmp(got + ufcs::kWireOffset, expected + ufcs::kWireOffset,
                        end - ufcs::kWireOffset) != 0) {
            return index;
        }
    }
    return 0;
}

void BM_CaptureStress(benchmark::State& state) {
    auto store = ufcs::CaptureStore::create();
    const std::string lockPath = (std::filesystem::temp_directory_path() /
                                  ("capture_stress_" + std::to_string(getpid()) + ".lock"))
                                     .string();
    for (auto _ : state) {
        simulator::InstrumentSettings settings;
        settings.seed = kSeed;
        settings.faultRate = kFaultRate;
        settings.recordsPerSecond = kRecordsPerSecond;
        auto instrument = std::make_shared<simulator::Instrument>(settings);
        simulator::SimulatedDevice device(instrument, lockPath);
        common::SystemClock clock;
        common::TaskLoop loop(clock);
        common::MemoryProfile profile;
        ufcs::CaptureList list(*store);
        ListingListener listener(list);
        analyzer::Session session(device, *store, profile, loop, clock, listener);

        const auto start = std::chrono::steady_clock::now();
        if (!session.startListening()) {
            state.SkipWithError("the simulated instrument did not start");
            break;
        }
        loop.runUntil([&] { return listener.full; }, 120s);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        session.stopCapture();

        const uint32_t records = store->count() - 1;
        const uint32_t mismatch = firstMismatch(*store);
        if (!listener.full) state.SkipWithError("the store did not fill");
        if (mismatch) state.SkipWithError("a record was lost, duplicated or out of order");
        if (listener.lostSteps) state.SkipWithError("the capture lost step");
        state.counters["records"] = records;
        state.counters["records_per_second"] = records / seconds;
        state.counters["worker_cpu_us_per_record"] = session.workerCpuSeconds() / records * 1e6;
        state.counters["list_notices"] = static_cast<double>(listener.notices);
        state.counters["rows"] = static_cast<double>(list.rowCount());
        std::fprintf(stderr, "records %u, first mismatch %u (0: none), lost steps %d\n", records,
                     mismatch, listener.lostSteps);
    }
    std::filesystem::remove(lockPath);
}
BENCHMARK(BM_CaptureStress)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
