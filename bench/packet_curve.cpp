// One paint of the packet curve over a full capture, at each packets-per-
// division scale, scrolled to the end and to the middle. The view repaints
// three times a second while capturing, so a paint must stay well below that.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>
#include <chrono>
#include <memory>

#include "analyzer/ui/packet_curve_view.h"
#include "common/byte_order.h"

namespace {

constexpr uint32_t kRecords = 65535;

const ufcs::CaptureStore& fullStore() {
    static const std::unique_ptr<ufcs::CaptureStore> store = [] {
        auto s = ufcs::CaptureStore::create();
        for (uint32_t i = 1; i < kRecords; ++i) {
            const auto step = static_cast<uint16_t>((i / 4000) % 4);
            const auto ripple = static_cast<uint16_t>(i * 7919 % 400);
            common::writeLe16(s->recordBytes(i) + 10,
                              static_cast<uint16_t>(5000 + 4000 * step + ripple));
            common::writeLe16(s->recordBytes(i) + 12,
                              static_cast<uint16_t>(500 + 700 * step + ripple * 2));
        }
        s->setCount(kRecords);
        return s;
    }();
    return *store;
}

void BM_Paint(benchmark::State& state) {
    const ufcs::CaptureStore& store = fullStore();
    common::MemoryProfile profile;
    profile.writeInt("Curve", "XScale", static_cast<int>(state.range(0)));
    analyzer::ui::PacketCurveView view(store, profile, false);
    view.setCurrentRange(5000);
    view.countChanged(kRecords);
    QScrollBar* bar = view.scrollBar();
    view.paintToImage();  // glyph caches

    double seconds = 0;
    int64_t paints = 0;
    for (auto _ : state) {
        for (bool end : {true, false}) {
            if (end) {
                bar->triggerAction(QAbstractSlider::SliderToMaximum);
            } else {
                bar->setSliderPosition(bar->maximum() / 2);
            }
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(view.paintToImage());
            seconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ++paints;
        }
    }
    state.counters["packets_per_div"] =
        analyzer::kPacketScales[static_cast<std::size_t>(state.range(0))].perDivision;
    state.counters["ms_per_paint"] = 1000.0 * seconds / static_cast<double>(paints);
}
BENCHMARK(BM_Paint)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

}  // namespace
