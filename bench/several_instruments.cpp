// Four simulated instruments sampled at once, ten times a second each, as a
// production line records them: one process with four meter links, and four
// processes with one link each. For each instrument: the samples taken, the
// ticks that brought none (goal 0), and how late each sample was handed on
// after its tick was due (median, 99th percentile, largest).
//   several_instruments [--seconds=S] [--instruments=N] [benchmark flags]
// The run is --seconds=600; under ctest it runs for one second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "common/event_loop.h"
#include "instrument/meter_link.h"
#include "simulator/simulated_device.h"

namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

double seconds = 600;
int instruments = 4;
constexpr auto kPeriod = 100ms;

struct Figures {
    double samples = 0;
    double missedTicks = 0;
    double medianLateMs = 0;
    double p99LateMs = 0;
    double maxLateMs = 0;
};

// One instrument's meter link, sampling from the moment it is connected.
class Station {
  public:
    Station(const std::string& lockFolder, int number, common::Clock& clock,
            common::EventLoop& loop)
        : device_(std::make_shared<simulator::Instrument>(),
                  simulator::simulatorLockPath(
                      lockFolder, simulator::simulatedSerial(static_cast<std::size_t>(number)))),
          link_(device_, clock, loop) {}

    void connect() {
        link_.connect([this](const instrument::MeterLink::Connection& answer) {
            if (!answer.ok) {
                std::fprintf(stderr, "connect failed: %s\n", answer.message.c_str());
                std::exit(1);
            }
            start_ = Steady::now();  // the link's schedule counts from this call
            link_.startSampling(
                kPeriod,
                [this](instrument::MeterSample) {
                    std::lock_guard lock(mutex_);
                    takenAt_.push_back(Steady::now());
                    return true;
                },
                [](int fault) { std::fprintf(stderr, "fault %d\n", fault); });
            connected_ = true;
        });
    }
    bool connected() const { return connected_; }
    void stop() { link_.stop(); }
    bool busy() const { return link_.busy(); }

    Figures figures() {
        std::lock_guard lock(mutex_);
        std::vector<double> late;
        for (const Steady::time_point at : takenAt_) {
            // Lateness after the tick that was due last, counted from the schedule's start.
            const auto sinceStart = at - start_;
            const auto ticks = sinceStart / kPeriod;
            late.push_back(
                std::chrono::duration<double, std::milli>(sinceStart - ticks * kPeriod).count());
        }
        std::sort(late.begin(), late.end());
        auto at = [&](double share) {
            return late.empty() ? 0
                                : late[std::min(late.size() - 1,
                                                static_cast<std::size_t>(share * late.size()))];
        };
        return {static_cast<double>(takenAt_.size()),
                static_cast<double>(link_.ticksWithoutSample()), at(0.5), at(0.99),
                late.empty() ? 0 : late.back()};
    }

  private:
    simulator::SimulatedDevice device_;
    instrument::MeterLink link_;
    bool connected_ = false;
    Steady::time_point start_;
    std::mutex mutex_;
    std::vector<Steady::time_point> takenAt_;
};

std::string makeLockFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "several-instruments-XXXXXX").string();
#ifndef _WIN32
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
#else
    std::filesystem::create_directories(pattern);
    return pattern;
#endif
}

// `count` instruments, numbered from `first`, sampled in this process for the run's length.
std::vector<Figures> sampleHere(const std::string& lockFolder, int first, int count) {
    common::SystemClock clock;
    common::TaskLoop loop(clock);
    std::vector<std::unique_ptr<Station>> stations;
    for (int i = 0; i < count; ++i)
        stations.push_back(std::make_unique<Station>(lockFolder, first + i, clock, loop));
    for (auto& station : stations)
        station->connect();
    loop.runUntil(
        [&] {
            return std::all_of(stations.begin(), stations.end(),
                               [](const auto& s) { return s->connected(); });
        },
        10s);
    const auto end = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                         std::chrono::duration<double>(seconds));
    loop.runUntil([&] { return Steady::now() >= end; },
                  std::chrono::duration_cast<std::chrono::milliseconds>(end - Steady::now()) + 1s);
    std::vector<Figures> figures;
    for (auto& station : stations) {
        station->stop();
        figures.push_back(station->figures());
    }
    loop.runUntil(
        [&] {
            return std::none_of(stations.begin(), stations.end(),
                                [](const auto& s) { return s->busy(); });
        },
        5s);
    return figures;
}

void report(benchmark::State& state, const std::vector<Figures>& all) {
    double missed = 0, worstP99 = 0, samples = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Figures& f = all[i];
        const std::string name = "i" + std::to_string(i + 1) + "_";
        state.counters[name + "samples"] = f.samples;
        state.counters[name + "missed"] = f.missedTicks;
        state.counters[name + "p99_late_ms"] = f.p99LateMs;
        state.counters[name + "max_late_ms"] = f.maxLateMs;
        missed += f.missedTicks;
        samples += f.samples;
        worstP99 = std::max(worstP99, f.p99LateMs);
    }
    state.counters["missed_ticks"] = missed;
    state.counters["samples"] = samples;
    state.counters["worst_p99_late_ms"] = worstP99;
}

void BM_OneProcessWithFourLinks(benchmark::State& state) {
    for (auto _ : state) {
        const std::string folder = makeLockFolder();
        const std::vector<Figures> figures = sampleHere(folder, 1, instruments);
        std::filesystem::remove_all(folder);
        report(state, figures);
    }
}

#ifndef _WIN32
// Each child samples one instrument and writes its figures to a pipe.
void BM_FourProcesses(benchmark::State& state) {
    for (auto _ : state) {
        const std::string folder = makeLockFolder();
        std::vector<std::pair<pid_t, int>> children;
        for (int i = 0; i < instruments; ++i) {
            int pipeEnds[2];
            if (pipe(pipeEnds) != 0) {
                state.SkipWithError("pipe failed");
                return;
            }
            const pid_t child = fork();
            if (child == 0) {
                close(pipeEnds[0]);
                const Figures f = sampleHere(folder, i + 1, 1).front();
                if (write(pipeEnds[1], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) _exit(2);
                _exit(0);
            }
            close(pipeEnds[1]);
            children.emplace_back(child, pipeEnds[0]);
        }
        std::vector<Figures> figures;
        for (const auto& [child, readEnd] : children) {
            Figures f;
            const bool read = ::read(readEnd, &f, sizeof f) == static_cast<ssize_t>(sizeof f);
            close(readEnd);
            int status = 0;
            waitpid(child, &status, 0);
            if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                state.SkipWithError("a sampling process failed");
                return;
            }
            figures.push_back(f);
        }
        std::filesystem::remove_all(folder);
        report(state, figures);
    }
}
BENCHMARK(BM_FourProcesses)->Iterations(1)->Unit(benchmark::kSecond);
#endif

BENCHMARK(BM_OneProcessWithFourLinks)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::atof(argv[i] + 10);
        if (std::strncmp(argv[i], "--instruments=", 14) == 0)
            instruments = std::max(1, std::atoi(argv[i] + 14));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
