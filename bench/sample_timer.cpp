// The sampler's schedule: 600 ticks of the real 100 ms period (one minute) on
// the link thread, with another thread keeping a core busy. Reports how late
// each tick ran (median, 99th percentile, largest) and how far the last tick
// drifted from start + 600 periods.
//   sample_timer [--ticks=N] [benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "device/instrument_link.h"

namespace {

using namespace std::chrono_literals;

int ticks = 600;
constexpr auto kPeriod = 100ms;

// The link needs a device; its ticks never touch it.
class NoDevice final : public device::HidDevice {
  public:
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    int write(const uint8_t*) override { return device::kWritten; }
    int read(uint8_t*) override { return device::kTimedOut; }
    std::string errorText() const override { return {}; }
};

double milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void BM_SampleTimer(benchmark::State& state) {
    for (auto _ : state) {
        std::atomic<bool> busy{true};
        std::thread load([&] {  // the other core kept busy
            volatile uint64_t spin = 0;
            while (busy.load(std::memory_order_relaxed))
                spin = spin + 1;
        });
        NoDevice device;
        common::SystemClock clock;
        device::InstrumentLink link(device, clock, [](device::InstrumentLink::Job) {});
        std::vector<std::chrono::steady_clock::time_point> ranAt;
        ranAt.reserve(static_cast<std::size_t>(ticks));
        std::mutex mutex;
        const auto start = clock.now();  // the schedule counts from the start call
        link.startTicking(kPeriod, [&] {
            std::lock_guard lock(mutex);
            if (ranAt.size() < static_cast<std::size_t>(ticks))
                ranAt.push_back(std::chrono::steady_clock::now());
        });
        std::this_thread::sleep_until(start + kPeriod * ticks + 50ms);
        link.stopTicking();
        busy = false;
        load.join();

        std::vector<double> late;
        for (std::size_t k = 0; k < ranAt.size(); ++k)
            late.push_back(milliseconds(ranAt[k] - (start + kPeriod * static_cast<int>(k + 1))));
        const double drift = late.empty() ? 0 : late.back();
        std::sort(late.begin(), late.end());
        auto at = [&](double share) {
            return late.empty() ? 0
                                : late[std::min(late.size() - 1,
                                                static_cast<std::size_t>(share * late.size()))];
        };
        state.SetIterationTime(milliseconds(std::chrono::steady_clock::now() - start) / 1000);
        state.counters["ticks"] = static_cast<double>(ranAt.size());
        state.counters["median_late_ms"] = at(0.5);
        state.counters["p99_late_ms"] = at(0.99);
        state.counters["max_late_ms"] = late.empty() ? 0 : late.back();
        state.counters["drift_ms"] = drift;
    }
}
BENCHMARK(BM_SampleTimer)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--ticks=", 8) == 0) ticks = std::atoi(argv[i] + 8);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
