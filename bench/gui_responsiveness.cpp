// The analyzer window listening to the simulated instrument at 8,000 records
// a second until the store is full. A 10 ms timer on the window's thread
// measures how late it fires: the longest lateness is the longest stall a
// user would feel. Also reports the process's peak memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "analyzer/ui/main_window.h"
#include "analyzer/ui/message_list_model.h"
#include "simulator/simulated_device.h"

namespace {

constexpr double kRecordsPerSecond = 8000;
constexpr int kProbeMs = 10;

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void BM_WindowUnderLoad(benchmark::State& state) {
    auto store = ufcs::CaptureStore::create();
    const std::string lockPath = (std::filesystem::temp_directory_path() /
                                  ("gui_responsiveness_" + std::to_string(getpid()) + ".lock"))
                                     .string();
    for (auto _ : state) {
        simulator::InstrumentSettings settings;
        settings.recordsPerSecond = kRecordsPerSecond;
        settings.seed = 77;
        simulator::SimulatedDevice device(std::make_shared<simulator::Instrument>(settings),
                                          lockPath);
        common::MemoryProfile profile;
        common::SystemClock clock;
        analyzer::ui::MainWindow window(device, *store, profile, clock, QDir::tempPath(),
                                        analyzer::ui::Layout::Normal);
        QStringList messages;
        window.askers().message = [&](const QString& text) { messages << text; };
        window.askers().runModeDialog = [](analyzer::ui::ModeDialog&) { return true; };
        // quit() closes the window, which would ask about the unsaved capture.
        window.askers().saveQuestion = [] { return QMessageBox::No; };
        window.show();

        QElapsedTimer sinceTick;
        qint64 worstLateMs = 0;
        QTimer probe;
        probe.setInterval(kProbeMs);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            worstLateMs = std::max(worstLateMs, sinceTick.restart() - kProbeMs);
        });

        QElapsedTimer run;
        run.start();
        window.listenButton()->click();
        sinceTick.start();
        probe.start();
        // The capture ends by itself when the store is full ("数据已爆表！").
        QTimer watchdog;
        watchdog.setInterval(50);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            if (!window.session().connected() || run.elapsed() > 60000) QApplication::quit();
        });
        watchdog.start();
        QApplication::exec();
        probe.stop();

        const double seconds = run.elapsed() / 1000.0;
        state.SetIterationTime(seconds);
        const uint32_t records = store->count() - 1;
        if (!messages.contains(QStringLiteral("数据已爆表！")))
            state.SkipWithError("the store did not fill");
        state.counters["records"] = records;
        state.counters["records_per_second"] = records / seconds;
        state.counters["rows"] = window.model()->rowCount();
        state.counters["max_stall_ms"] = static_cast<double>(worstLateMs);
        state.counters["peak_memory_mb"] = peakMegabytes();
    }
    std::filesystem::remove(lockPath);
}
BENCHMARK(BM_WindowUnderLoad)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
