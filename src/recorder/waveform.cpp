#include "recorder/waveform.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/format.h"
#include "plot/sampled_series.h"
#include "plot/series_trace.h"

namespace recorder {

const std::array<plot::Scale, kScaleCount> kVoltScales = {{
    {0.001, "0.001V/DIV"},
    {0.002, "0.002V/DIV"},
    {0.005, "0.005V/DIV"},
    {0.01, "0.01V/DIV"},
    {0.02, "0.02V/DIV"},
    {0.05, "0.05V/DIV"},
    {0.1, "0.1V/DIV"},
    {0.2, "0.2V/DIV"},
    {0.5, "0.5V/DIV"},
    {1, "1V/DIV"},
    {2, "2V/DIV"},
    {5, "5V/DIV"},
}};
const std::array<plot::Scale, kScaleCount> kCurrentScales = {{
    {0.001, "1mA/DIV"},
    {0.002, "2mA/DIV"},
    {0.005, "5mA/DIV"},
    {0.01, "10mA/DIV"},
    {0.02, "20mA/DIV"},
    {0.05, "50mA/DIV"},
    {0.1, "100mA/DIV"},
    {0.2, "200mA/DIV"},
    {0.5, "500mA/DIV"},
    {1, "1A/DIV"},
    {2, "2A/DIV"},
    {5, "5A/DIV"},
}};
// At the native 0.1 s a sample (a loaded file of another period keeps these divisions).
const std::array<plot::Scale, kTimeScaleCount> kTimeScales = {{
    {72000, "2H/DIV"},
    {36000, "1H/DIV"},
    {18000, "30M/DIV"},
    {12000, "20M/DIV"},
    {6000, "10M/DIV"},
    {3000, "5M/DIV"},
    {1200, "2M/DIV"},
    {600, "1M/DIV"},
    {300, "30S/DIV"},
    {150, "15S/DIV"},
    {100, "10S/DIV"},
    {60, "6S/DIV"},
    {30, "3S/DIV"},
    {10, "1S/DIV"},
}};

namespace {
constexpr int kLastClassicCoarse = 8;  // 30S/DIV, the last scale before the added two
constexpr int kAddedTimeScales = kTimeScaleCount - kScaleCount;
}  // namespace

int timeIndexFromProfile(int stored) {
    if (stored < 0 || stored >= kScaleCount) return -1;
    return stored <= kLastClassicCoarse ? stored : stored + kAddedTimeScales;
}

int timeIndexForProfile(int index) {
    if (index <= kLastClassicCoarse) return index;
    return std::max(kLastClassicCoarse, index - kAddedTimeScales);
}

std::string testDurationText(double seconds) {
    const auto tenths = static_cast<uint64_t>(std::llround(seconds * 10));
    return common::format("%u:%02u:%02u.%u", unsigned(tenths / 36000), unsigned(tenths / 600 % 60),
                          unsigned(tenths / 10 % 60), unsigned(tenths % 10));
}

std::string viewTimeText(double seconds, int decimals) {
    const long long scale = decimals == 3 ? 1000 : decimals == 2 ? 100 : 1;
    const long long units = std::llround(std::max(0.0, seconds) * static_cast<double>(scale));
    const long long whole = units / scale;
    const long long hours = whole / 3600;
    const int minutes = static_cast<int>(whole / 60 % 60);
    const int secs = static_cast<int>(whole % 60);
    std::string text;
    if (hours > 0)
        text = common::format("%lld:%02d:%02d", hours, minutes, secs);
    else if (minutes > 0)
        text = common::format("%d:%02d", minutes, secs);
    else
        text = common::format("%d", secs);
    if (const long long fraction = units % scale; fraction != 0) {
        const std::string part =
            common::format("%g", static_cast<double>(fraction) / static_cast<double>(scale));
        text += part.substr(1);  // "0.5" -> ".5"
    }
    if (hours == 0 && minutes == 0) text += "s";
    return text;
}

double WaveformState::perDivision(Axis axis) const {
    return axis == Axis::Voltage ? kVoltScales[voltIndex].perDivision
                                 : kCurrentScales[currentIndex].perDivision;
}

double WaveformState::factor(Axis axis) const {
    return 0.05 / perDivision(axis);
}

double WaveformState::xOfSample(double index) const {
    return kOriginLeft + index * pixelsPerSample() - kDivisionWidth * timeScroll;
}

double WaveformState::sampleAtX(double x) const {
    return (x - kOriginLeft + kDivisionWidth * timeScroll) / pixelsPerSample();
}

double WaveformState::heightOf(double raw, Axis axis) const {
    return raw * factor(axis) + kDivisionHeight * scroll(axis);
}

double WaveformState::valueAtHeight(double height, Axis axis) const {
    return (height / kDivisionHeight - scroll(axis)) * perDivision(axis);
}

double timeScrollMaximum(const WaveformState& state, uint32_t displayed) {
    return std::max(0.0, displayed * state.pixelsPerSample() / kDivisionWidth);
}

namespace {

void moveTimeIndex(WaveformState& state, bool in) {
    plot::stepScale(kTimeScales, state.timeIndex, in ? 1 : -1);
}

}  // namespace

void zoomTimeAt(WaveformState& state, double x, bool in, uint32_t displayed) {
    const double sample = state.sampleAtX(x);
    moveTimeIndex(state, in);
    const double toSample = sample * state.pixelsPerSample() / kDivisionWidth;
    state.timeScroll = std::min(timeScrollMaximum(state, displayed), toSample) -
                       (x - kOriginLeft) / kDivisionWidth;
    state.panorama = state.voltTracking = state.currentTracking = false;
}

void zoomTimeCentred(WaveformState& state, int viewWidth, bool in, uint32_t displayed) {
    const double centre = (viewWidth - 133) / 2.0 + kDivisionWidth * state.timeScroll;
    const double sample = centre / state.pixelsPerSample();
    moveTimeIndex(state, in);
    state.timeScroll = std::min(timeScrollMaximum(state, displayed),
                                sample * state.pixelsPerSample() / kDivisionWidth) -
                       (viewWidth - 186) / 120.0;
}

bool canZoomVertical(const WaveformState& state, Axis axis, bool in) {
    const int index = axis == Axis::Voltage ? state.voltIndex : state.currentIndex;
    return in ? index > 0 : index < kScaleCount - 1;
}

void zoomVerticalAt(WaveformState& state, Axis axis, double height, bool in) {
    const double raw = state.valueAtHeight(height, axis) * 1000;
    plot::stepScale(axis == Axis::Voltage ? kVoltScales : kCurrentScales,
                    axis == Axis::Voltage ? state.voltIndex : state.currentIndex, in ? -1 : 1);
    state.scroll(axis) = std::floor(height / kDivisionHeight) -
                         std::trunc(raw * state.factor(axis) / kDivisionHeight);
    state.panorama = state.voltTracking = state.currentTracking = false;
}

namespace {

// The finest scale, and the scroll position from a whole division under the
// lowest sample, whose `divisions` hold the channel's lowest and highest
// samples (mV or mA); the coarsest when none does.
struct AxisFit {
    int index = 0;
    double scroll = 0;
};
AxisFit fitAxis(const std::array<plot::Scale, kScaleCount>& table,
                const plot::SeriesExtremes& range, int divisions) {
    std::optional<AxisFit> best;
    double bestPerDivision = 0;
    AxisFit coarsest;
    double coarsestPerDivision = 0;
    for (int i = 0; i < kScaleCount; ++i) {
        const double perDivision = table[static_cast<std::size_t>(i)].perDivision * 1000;
        const double bottom = std::floor(range.minimum / perDivision);
        const AxisFit fit{i, -bottom};
        if (perDivision > coarsestPerDivision) {
            coarsest = fit;
            coarsestPerDivision = perDivision;
        }
        const bool holds = (bottom + std::max(1, divisions)) * perDivision >= range.maximum;
        if (holds && (!best || perDivision < bestPerDivision)) {
            best = fit;
            bestPerDivision = perDivision;
        }
    }
    return best.value_or(coarsest);
}

}  // namespace

void panoramaFit(WaveformState& state, const SampleDocument& document, int viewWidth,
                 int viewHeight) {
    const int divisions = (viewHeight - 42) / kDivisionHeight;
    const plot::SampledSeries& voltage = document.channel(kVoltageChannel);
    if (voltage.count() > 0) {
        const AxisFit fit = fitAxis(kVoltScales, voltage.extremes(), divisions);
        state.voltIndex = fit.index;
        state.voltScroll = fit.scroll;
    }
    const plot::SampledSeries& current = document.channel(kCurrentChannel);
    if (current.count() > 0) {
        const AxisFit fit = fitAxis(kCurrentScales, current.extremes(), divisions);
        state.currentIndex = fit.index;
        state.currentScroll = fit.scroll;
    }
    const uint32_t displayed = document.displayedCount();
    const int timeDivisions = std::max(1, (viewWidth - 230) / kDivisionWidth);
    state.timeIndex = static_cast<int>(plot::finestHolding(kTimeScales, displayed, timeDivisions));
    state.timeScroll = 0;
}

namespace {

void trackAxis(WaveformState& state, Axis axis, double raw, int viewHeight, bool limitToZero) {
    const double height = state.heightOf(raw, axis);
    const double lifted = raw * state.factor(axis) / kDivisionHeight;
    if (height >= viewHeight - kOriginAboveBottom) {
        state.scroll(axis) = std::trunc(2 * ((viewHeight - 42) / 100) - lifted - 1.999);
    } else if (height < 0) {
        state.scroll(axis) = std::trunc(2.999 - lifted);
        if (limitToZero) state.scroll(axis) = std::min(state.scroll(axis), 0.0);
    }
}

}  // namespace

void followNewest(WaveformState& state, const SampleDocument& document, int viewWidth,
                  int viewHeight) {
    const uint32_t displayed = document.displayedCount();
    if (!state.panorama) {
        const plot::SampledSeries& volts = document.channel(kVoltageChannel);
        const plot::SampledSeries& amps = document.channel(kCurrentChannel);
        if (state.voltTracking && state.voltageShown && volts.count() > 0)
            trackAxis(state, Axis::Voltage, volts.at(volts.count() - 1), viewHeight, true);
        if (state.currentTracking && state.currentShown && amps.count() > 0) {
            trackAxis(state, Axis::Current, amps.at(amps.count() - 1), viewHeight,
                      amps.extremes().minimum > 0);
        }
    }
    const double newest =
        displayed > 10 ? std::trunc((displayed - 1) * state.pixelsPerSample() / kDivisionWidth) : 0;
    if (newest - state.timeScroll >= (viewWidth - 276) / kDivisionWidth) {
        if (state.autoScroll())
            state.timeScroll = newest - (viewWidth - 229) / kDivisionWidth + 3;
        else if (state.panorama)
            panoramaFit(state, document, viewWidth, viewHeight);
    }
}

namespace {

using plot::Colour;
using Align = plot::Label::Align;

void addValueLabels(plot::Frame& frame, const WaveformState& state, int plotWidth, int plotHeight) {
    const int divisions = plotHeight / kDivisionHeight;
    for (int k = 0; k <= divisions; ++k) {
        const int y = k * kDivisionHeight;
        const double volts = (k - state.voltScroll) * kVoltScales[state.voltIndex].perDivision;
        const double amps =
            (k - state.currentScroll) * kCurrentScales[state.currentIndex].perDivision;
        frame.labels.push_back(
            {common::format("%g", volts), -4, y, Align::Right, Colour::Red, false, true});
        frame.labels.push_back({common::format("%g", amps), plotWidth + 3, y, Align::Left,
                                Colour::Green, false, true});
    }
    const int top = plotHeight + kTopMargin;  // the view's top edge
    frame.labels.push_back({"V(伏)", 0, top, Align::Right, Colour::Red});
    frame.labels.push_back({"A(安)", plotWidth + 3, top, Align::Left, Colour::Green});
}

// Time under each vertical division line; when some are long, every other one.
// Under each whole division of time, so each label is a round value of the scale
// however far the plot has scrolled; the vertical grid lines follow them.
void addTimeLabels(plot::Frame& frame, const WaveformState& state, double period, int plotWidth,
                   bool secondsOnly) {
    const double firstDivision = std::ceil(state.timeScroll - 1e-6);
    const double shift = (firstDivision - state.timeScroll) * kDivisionWidth;
    frame.columnShift = static_cast<int>(std::lround(shift)) % kDivisionWidth;
    const double secondsPerDivision = kTimeScales[state.timeIndex].perDivision * period;
    struct Placed {
        double division;
        int x;
        std::string text;
    };
    std::vector<Placed> placed;
    bool longOnes = false;
    for (int k = 0; shift + k * kDivisionWidth <= plotWidth && k < 81; ++k) {
        const double division = firstDivision + k;
        if (division < 0) continue;  // before the test: no time to tell
        const double seconds = division * secondsPerDivision;
        std::string text = secondsOnly ? common::format("%.9g", seconds) : viewTimeText(seconds, 2);
        longOnes = longOnes || text.size() > 8;
        placed.push_back(
            {division, static_cast<int>(std::lround(shift + k * kDivisionWidth)), std::move(text)});
    }
    for (std::size_t i = 0; i < placed.size(); ++i) {
        // Long labels: every other one, the same ones wherever the plot has scrolled.
        const bool odd = std::fmod(placed[i].division, 2.0) != 0;
        if (longOnes && odd && i + 1 != placed.size()) continue;
        frame.labels.push_back({placed[i].text, placed[i].x, -4, Align::Centre, Colour::Grey});
    }
    const int lastColumn = plotWidth / kDivisionWidth * kDivisionWidth;
    frame.labels.push_back({"       T(时间)", lastColumn - 40, -22, Align::Left, Colour::Grey});
}

}  // namespace

plot::Frame waveformFrame(const WaveformState& state, const SampleDocument& document,
                          const FrameOptions& options) {
    plot::Frame frame;
    const int originY = options.viewHeight - kOriginAboveBottom;
    const int plotWidth = options.viewWidth - kPanelWidth - kOriginLeft;
    const int plotHeight = originY - kTopMargin;
    addValueLabels(frame, state, plotWidth, plotHeight);
    addTimeLabels(frame, state, document.period, plotWidth, options.secondsOnly);
    if (!document.currentCalibrated) {
        // Right-aligned at the view's middle, 90 px above its bottom.
        frame.labels.push_back({"本次测试未校准电流，电流值设置为0 ！",
                                options.viewWidth / 2 - kOriginLeft, 90 - kOriginAboveBottom,
                                Align::Right, Colour::Green, false, true});
    }
    frame.voltageOnTop = options.voltageOnTop;
    const plot::ColumnMapping columns{0, -kDivisionWidth * state.timeScroll,
                                      state.pixelsPerSample()};
    auto trace = [&](Axis axis, bool shown, int channel, plot::Trace& out) {
        if (!shown) return;
        const plot::SampledSeries& series = document.channel(channel);
        const uint32_t count = std::min(series.count(), document.displayedCount());
        plot::traceSeries(
            series, 0, count, columns, 0, plotWidth,
            [&](uint16_t raw) { return plot::plotUnits(state.heightOf(raw, axis)); }, out.points);
    };
    trace(Axis::Voltage, state.voltageShown, kVoltageChannel, frame.voltage);
    trace(Axis::Current, state.currentShown, kCurrentChannel, frame.current);
    return frame;
}

SampleSpan zoneSpan(double firstLine, double secondLine) {
    const auto first = static_cast<uint32_t>(std::max(0.0, std::round(firstLine)));
    const auto second = static_cast<uint32_t>(std::max(0.0, std::round(secondLine)));
    return {std::min(first, second), std::max(first, second) + 1};
}

ZoneMeasurement measureZone(const SampleDocument& document, uint32_t first, uint32_t last) {
    ZoneMeasurement zone;
    const plot::SampledSeries& volts = document.channel(kVoltageChannel);
    const plot::SampledSeries& amps = document.channel(kCurrentChannel);
    const uint32_t count = std::min(volts.count(), amps.count());
    if (first > last) std::swap(first, last);
    if (count == 0 || first >= count) return zone;
    last = std::min(last, count - 1);
    // Integers until the end, so a long zone adds up exactly.
    uint64_t millivoltSum = 0, milliampSum = 0, productSum = 0;
    plot::SampleRange voltRange, ampRange;
    for (uint32_t i = first; i <= last; ++i) {
        const uint16_t mv = volts.at(i), ma = amps.at(i);
        millivoltSum += mv;
        milliampSum += ma;
        productSum += uint64_t{mv} * ma;
        voltRange.take(mv);
        ampRange.take(ma);
    }
    const double samples = last - first + 1;
    zone.seconds = (last - first) * document.period;
    zone.averageVolts = millivoltSum / samples / 1000;
    zone.averageAmps = milliampSum / samples / 1000;
    zone.minimumVolts = voltRange.minimum / 1000.0;
    zone.maximumVolts = voltRange.maximum / 1000.0;
    zone.minimumAmps = ampRange.minimum / 1000.0;
    zone.maximumAmps = ampRange.maximum / 1000.0;
    // Each sample stands for one period.
    zone.wattHours = static_cast<double>(productSum) * 1e-6 * document.period / 3600;
    zone.milliampHours = static_cast<double>(milliampSum) * document.period / 3600;
    return zone;
}

PanelTotals documentTotals(const SampleDocument& document) {
    const uint32_t count = document.channel(kVoltageChannel).count();
    if (count == 0) return {};
    const ZoneMeasurement whole = measureZone(document, 0, count - 1);
    return {count * document.period, whole.wattHours * 1000, whole.milliampHours, std::nullopt};
}

std::string panelTotalsText(const PanelTotals& totals) {
    std::string text =
        common::format("测试 %s\n%.3f mWh  %.3f mAh", viewTimeText(totals.seconds, 0).c_str(),
                       totals.milliwattHours, totals.milliampHours);
    if (totals.missedSamples) {
        common::appendFormat(text, "\n漏采 %llu",
                             static_cast<unsigned long long>(*totals.missedSamples));
    }
    return text;
}

}  // namespace recorder
