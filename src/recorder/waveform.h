#pragma once
// The waveform view's arithmetic, without a window: the scale tables, the
// mappings between samples and pixels, the time texts, zooming (by command
// and at a point), tracking, auto-scroll, the panorama fit, and the frame a
// paint draws (labels and both curves). The window paints what this decides.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "plot/plot_frame.h"
#include "plot/scales.h"
#include "recorder/sample_document.h"

namespace recorder {

inline constexpr int kScaleCount = 12;
// Volts and amperes per division, from the finest.
extern const std::array<plot::Scale, kScaleCount> kVoltScales;
extern const std::array<plot::Scale, kScaleCount> kCurrentScales;
// Samples per division, from the coarsest (2H/DIV) to the finest (1S/DIV). Beside the twelve
// classic scales, 15S and 10S/DIV fill the fivefold step from 6S to 30S/DIV, so a test of two
// or three minutes fits the plot.
inline constexpr int kTimeScaleCount = 14;
extern const std::array<plot::Scale, kTimeScaleCount> kTimeScales;
// The profile keeps the time scale as an index of the twelve classic scales: one of the
// two added ones is kept as 30S/DIV.
int timeIndexFromProfile(int stored);
int timeIndexForProfile(int index);

// The plot inside the view: origin 53 px from the left and 43 px above the
// bottom, its top 10 px below the view's; the right-hand 176 px hold the panel.
inline constexpr int kOriginLeft = 53;
inline constexpr int kOriginAboveBottom = 43;
inline constexpr int kTopMargin = 10;
inline constexpr int kPanelWidth = 176;
inline constexpr int kDivisionWidth = 60;
inline constexpr int kDivisionHeight = 50;

// Seconds as the view writes them: "1:02:05", "1:15.5", "0.5s"; the fraction
// rounded to `decimals` places.
std::string viewTimeText(double seconds, int decimals);
// A test's length as the files' summaries write it: "h:mm:ss.t".
std::string testDurationText(double seconds);

enum class Axis { Voltage, Current };
enum class ZoomAtPoint { None, Time, Current, Voltage };

struct WaveformState {
    int voltIndex = 8;
    int currentIndex = 11;
    int timeIndex = 3;
    // Scroll positions: time in divisions (fractional, so a zoom keeps its
    // point to the pixel), each vertical axis in divisions.
    double timeScroll = 0;
    double voltScroll = 0;
    double currentScroll = 0;
    bool voltTracking = true;
    bool currentTracking = true;
    bool panorama = true;
    bool voltageShown = true;
    bool currentShown = true;
    ZoomAtPoint zoomMode = ZoomAtPoint::None;

    double pixelsPerSample() const { return kDivisionWidth / kTimeScales[timeIndex].perDivision; }
    // Volts or amperes per division of an axis.
    double perDivision(Axis axis) const;
    // Pixels per raw millivolt or milliampere.
    double factor(Axis axis) const;
    double& scroll(Axis axis) { return axis == Axis::Voltage ? voltScroll : currentScroll; }
    double scroll(Axis axis) const { return axis == Axis::Voltage ? voltScroll : currentScroll; }
    bool autoScroll() const { return voltTracking || currentTracking; }

    // Sample index to x in the view, and back (fractional).
    double xOfSample(double index) const;
    double sampleAtX(double x) const;
    // A raw value to its height above the origin, and a height to the value (V or A).
    double heightOf(double raw, Axis axis) const;
    double valueAtHeight(double height, Axis axis) const;
};

// The largest time scroll position for `displayed` samples.
double timeScrollMaximum(const WaveformState& state, uint32_t displayed);

// Time zoom at x (in: index + 1), keeping the sample under x under x.
void zoomTimeAt(WaveformState& state, double x, bool in, uint32_t displayed);
// Time zoom by command, keeping the sample at the plot's centre there.
void zoomTimeCentred(WaveformState& state, int viewWidth, bool in, uint32_t displayed);
// Vertical zoom at `height` above the origin (in: index - 1).
void zoomVerticalAt(WaveformState& state, Axis axis, double height, bool in);
// Whether the zoom commands can move the index further.
bool canZoomVertical(const WaveformState& state, Axis axis, bool in);

// 全景图: vertical scales and positions fitted to the channels' extremes, the
// time scale to the displayed count.
void panoramaFit(WaveformState& state, const SampleDocument& document, int viewWidth,
                 int viewHeight);
// Tracking and auto-scroll after a new sample (raw values of the newest sample).
void followNewest(WaveformState& state, const SampleDocument& document, int viewWidth,
                  int viewHeight);

// What a paint of a `viewWidth` × `viewHeight` view draws, in plot units
// (origin kOriginLeft from the left, kOriginAboveBottom above the bottom):
// the value and time labels and the shown curves.
struct FrameOptions {
    int viewWidth = 0;
    int viewHeight = 0;
    bool secondsOnly = false;  // time labels as plain seconds
    bool voltageOnTop = true;
};
plot::Frame waveformFrame(const WaveformState& state, const SampleDocument& document,
                          const FrameOptions& options);

// What the two time zone lines measure between them (samples [first, last]).
struct ZoneMeasurement {
    double seconds = 0;
    double averageVolts = 0, minimumVolts = 0, maximumVolts = 0;
    double averageAmps = 0, minimumAmps = 0, maximumAmps = 0;
    double wattHours = 0;
    double milliampHours = 0;
};
// Nothing is measured (all zero) when the range holds no sample.
ZoneMeasurement measureZone(const SampleDocument& document, uint32_t first, uint32_t last);
// What the side panel tells of a test: its length, energy and charge, and for a test
// run here the ticks that brought no sample.
struct PanelTotals {
    double seconds = 0;
    double milliwattHours = 0;
    double milliampHours = 0;
    std::optional<uint64_t> missedSamples;
};
// A whole document's totals (each sample stands for one period).
PanelTotals documentTotals(const SampleDocument& document);
// "测试 h:mm:ss", "mWh  mAh", then "漏采 n" when known, one per line.
std::string panelTotalsText(const PanelTotals& totals);
// The samples between two time zone lines (sample positions, either order),
// both lines' samples included.
SampleSpan zoneSpan(double firstLine, double secondLine);

}  // namespace recorder
