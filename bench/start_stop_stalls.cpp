// How long a user's start and stop hold up the window: the recorder's
// 开始新测试 and 停止测试, and the analyzer's 开始监听 and 停止监听, against the
// simulated instrument. A 5 ms timer on the window's thread measures how late
// it fires; the longest lateness around each action is the stall a user
// would feel (the instrument's connect, its pauses and its closing included
// if they run on the window's thread).
#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "analyzer/ui/main_window.h"
#include "recorder/ui/main_window.h"
#include "simulator/simulated_device.h"

namespace {

constexpr int kProbeMs = 5;

// START_STOP_ROUNDS=N: starts and stops of each program measured (3 unless set).
int rounds() {
    const char* text = std::getenv("START_STOP_ROUNDS");
    const int n = text ? std::atoi(text) : 3;
    return n > 0 ? n : 3;
}

// The longest lateness of the probe timer while `action` runs on the window's
// thread and until `settled` holds (or 10 s pass).
double worstStallAround(const std::function<void()>& action, const std::function<bool()>& settled) {
    QElapsedTimer sinceTick;
    qint64 worst = 0;
    QTimer probe;
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { worst = std::max(worst, sinceTick.restart() - kProbeMs); });
    QElapsedTimer waited;
    // A loop of its own: the application's quit() would close the window.
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (settled() || waited.elapsed() > 10000) loop.quit();
    });
    QTimer::singleShot(0, [&] {
        sinceTick.start();
        probe.start();
        waited.start();
        watch.start();
        // The action runs inside a timer's slot, so its whole time is probe lateness.
        QTimer::singleShot(0, action);
    });
    loop.exec();
    return static_cast<double>(worst);
}

// The window's first paints, before anything is measured.
void settleWindow() {
    QElapsedTimer shown;
    shown.start();
    worstStallAround([] {}, [&] { return shown.elapsed() > 300; });
}

// A folder of its own for the instruments' locks and the journals, removed at the end.
QString scratch(const char* name) {
    static QTemporaryDir folder;
    return folder.filePath(QString::fromUtf8(name));
}

std::string lockPath(const char* what) {
    return scratch(what).toStdString() + ".lock";
}

void BM_RecorderStartStop(benchmark::State& state) {
    double worstStart = 0, worstStop = 0;
    for (auto _ : state) {
        auto instrument = std::make_shared<simulator::Instrument>();
        simulator::SimulatedDevice device(instrument, lockPath("start_stop_recorder"));
        common::MemoryProfile profile;
        common::SystemClock clock;
        const QString journals = scratch("journals");
        recorder::ui::MainWindow window(device, profile, clock, journals.toStdString());
        window.askers().message = [](const QString&) {};
        window.askers().question = [](const QString&, QMessageBox::StandardButtons) {
            return QMessageBox::No;
        };
        window.show();
        settleWindow();
        auto act = [&](const char* caption) {
            window.action(QString::fromUtf8(caption))->trigger();
        };
        worstStart =
            std::max(worstStart,
                     worstStallAround([&] { act("开始新测试"); },
                                      [&] { return window.document().channel(0).count() >= 10; }));
        QElapsedTimer settle;
        settle.start();
        worstStop =
            std::max(worstStop,
                     worstStallAround([&] { act("停止测试"); },
                                      [&] { return !device.isOpen() && settle.elapsed() > 500; }));
        std::filesystem::remove_all(journals.toStdString());
    }
    state.counters["start_stall_ms"] = worstStart;
    state.counters["stop_stall_ms"] = worstStop;
}
BENCHMARK(BM_RecorderStartStop)->Iterations(rounds())->Unit(benchmark::kMillisecond);

void BM_AnalyzerStartStop(benchmark::State& state) {
    double worstStart = 0, worstStop = 0;
    auto store = ufcs::CaptureStore::create();
    for (auto _ : state) {
        simulator::InstrumentSettings settings;
        settings.recordsPerSecond = 200;
        simulator::SimulatedDevice device(std::make_shared<simulator::Instrument>(settings),
                                          lockPath("start_stop_analyzer"));
        common::MemoryProfile profile;
        common::SystemClock clock;
        analyzer::ui::MainWindow window(device, *store, profile, clock, scratch("data"),
                                        analyzer::ui::Layout::Normal);
        window.askers().message = [](const QString&) {};
        window.askers().runModeDialog = [](analyzer::ui::ModeDialog&) { return true; };
        window.askers().saveQuestion = [] { return QMessageBox::No; };
        window.show();
        settleWindow();
        worstStart = std::max(worstStart, worstStallAround([&] { window.listenButton()->click(); },
                                                           [&] { return store->count() > 20; }));
        QElapsedTimer settle;
        settle.start();
        worstStop = std::max(worstStop, worstStallAround([&] { window.listenButton()->click(); },
                                                         [&] {
                                                             return !window.session().connected() &&
                                                                    settle.elapsed() > 500;
                                                         }));
    }
    state.counters["start_stall_ms"] = worstStart;
    state.counters["stop_stall_ms"] = worstStop;
}
BENCHMARK(BM_AnalyzerStartStop)->Iterations(rounds())->Unit(benchmark::kMillisecond);

}  // namespace
