// One full paint of the recorder's view (offscreen, the normal window's size)
// at every time scale, at the start, the middle and the end of a 24-hour and a
// 1000-hour recording; the 24-hour panorama once more as a plain polyline
// through every sample, drawn in the same run; and opening the 1000-hour
// recording from its file: the load (with the summaries it builds) and the
// first paint after it.
//   WAVEFORM_PAINT_SCALE=F waveform_paint (F < 1 shrinks both recordings, for quick runs)
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "recorder/osa_file.h"
#include "recorder/ui/waveform_view.h"

namespace {

double recordingScale() {
    const char* text = std::getenv("WAVEFORM_PAINT_SCALE");
    return text ? std::atof(text) : 1.0;
}
constexpr int kViewWidth = 1398;
constexpr int kViewHeight = 740;

struct Recording {
    recorder::SampleDocument document;
    std::unique_ptr<recorder::ui::WaveformView> view;
};

Recording& recording(double hours) {
    static std::map<double, std::unique_ptr<Recording>> made;
    auto& slot = made[hours];
    if (!slot) {
        slot = std::make_unique<Recording>();
        const auto samples = static_cast<uint32_t>(hours * 36'000 * recordingScale());
        for (uint32_t i = 0; i < samples; ++i) {
            const double t = i / 36'000.0;
            slot->document.appendSample(
                static_cast<uint16_t>(9000 + 800 * std::sin(t) + i % 37),
                static_cast<uint16_t>(2000 + 1500 * std::cos(t / 3) + i % 53), {true, false, true});
        }
        slot->view = std::make_unique<recorder::ui::WaveformView>(slot->document);
        slot->view->resize(kViewWidth, kViewHeight);
        slot->view->state().panorama = false;
    }
    return *slot;
}

double paintMilliseconds(QWidget& view, QImage& image) {
    const auto start = std::chrono::steady_clock::now();
    view.render(&image);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void BM_Paint(benchmark::State& state) {
    const double hours = state.range(0);
    const int timeIndex = static_cast<int>(state.range(1));
    const int where = static_cast<int>(state.range(2));  // 0 start, 1 middle, 2 end
    Recording& r = recording(hours);
    QImage image(kViewWidth, kViewHeight, QImage::Format_RGB32);
    recorder::WaveformState& view = r.view->state();
    view.timeIndex = timeIndex;
    const double last = recorder::timeScrollMaximum(view, r.document.displayedCount());
    const double visible = (kViewWidth - recorder::kPanelWidth - recorder::kOriginLeft) / 60.0;
    view.timeScroll = where == 0   ? 0
                      : where == 1 ? std::max(0.0, last / 2 - visible / 2)
                                   : std::max(0.0, last - visible);
    double total = 0;
    for (auto _ : state) {
        const double took = paintMilliseconds(*r.view, image);
        state.SetIterationTime(took / 1000);
        total += took;
    }
    state.counters["paint_ms"] = total / static_cast<double>(state.iterations());
    state.SetLabel(std::string(recorder::kTimeScales[timeIndex].label));
}

void paintCases(benchmark::internal::Benchmark* b) {
    for (const int hours : {24, 1000})
        for (int index = 0; index < recorder::kTimeScaleCount; ++index)
            for (int where = 0; where < 3; ++where)
                b->Args({hours, index, where});
}
BENCHMARK(BM_Paint)->Apply(paintCases)->UseManualTime()->Unit(benchmark::kMillisecond);

// The 24-hour panorama through the view, and as one polyline of every sample.
void BM_PanoramaAgainstPolyline(benchmark::State& state) {
    Recording& r = recording(24);
    r.view->fitAll();
    QImage image(kViewWidth, kViewHeight, QImage::Format_RGB32);
    paintMilliseconds(*r.view, image);
    const recorder::WaveformState& view = r.view->state();
    const int origin = kViewHeight - recorder::kOriginAboveBottom;
    auto polyline = [&] {
        const auto start = std::chrono::steady_clock::now();
        QPainter painter(&image);
        painter.fillRect(image.rect(), Qt::black);
        for (const auto axis : {recorder::Axis::Current, recorder::Axis::Voltage}) {
            const plot::SampledSeries& channel =
                r.document.channel(axis == recorder::Axis::Voltage ? 0 : 2);
            QPolygonF points;
            points.reserve(static_cast<qsizetype>(channel.count()));
            for (uint32_t i = 0; i < channel.count(); ++i)
                points << QPointF(view.xOfSample(i), origin - view.heightOf(channel.at(i), axis));
            painter.setPen(QPen(axis == recorder::Axis::Voltage ? Qt::red : Qt::green, 2));
            painter.drawPolyline(points);
        }
        painter.end();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    const double plain = polyline();
    double total = 0;
    for (auto _ : state) {
        const double took = paintMilliseconds(*r.view, image);
        state.SetIterationTime(took / 1000);
        total += took;
    }
    const double paint = total / static_cast<double>(state.iterations());
    state.counters["paint_ms"] = paint;
    state.counters["polyline_ms"] = plain;
    state.counters["ratio_vs_polyline"] = plain / paint;
}
BENCHMARK(BM_PanoramaAgainstPolyline)->UseManualTime()->Unit(benchmark::kMillisecond);

// Opening the 1000-hour recording as the window does: the load on its own
// thread builds the summaries (summary_ms of load_ms); the first paint of a
// fitted view after it (first_paint_ms) has nothing left to catch up.
void BM_OpenAndFirstPaint(benchmark::State& state) {
    char folder[] = "/tmp/waveform_paint.XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::filesystem::path file = std::filesystem::path(folder) / "long.osa";
    if (!recorder::saveOsa(recording(1000).document, file).ok) {
        state.SkipWithError("cannot write the recording");
        return;
    }
    QImage image(kViewWidth, kViewHeight, QImage::Format_RGB32);
    double loadMs = 0, summaryMs = 0, firstPaintMs = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        recorder::OsaLoad load = recorder::loadOsa(file);
        loadMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        summaryMs += std::chrono::duration<double, std::milli>(load.summaryTime).count();
        recorder::SampleDocument document;
        document.takeFrom(*load.document);
        recorder::ui::WaveformView view(document);
        view.resize(kViewWidth, kViewHeight);
        view.documentReplaced(true);
        const double took = paintMilliseconds(view, image);
        state.SetIterationTime(took / 1000);
        firstPaintMs += took;
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["load_ms"] = loadMs / runs;
    state.counters["summary_ms"] = summaryMs / runs;
    state.counters["first_paint_ms"] = firstPaintMs / runs;
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_OpenAndFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
