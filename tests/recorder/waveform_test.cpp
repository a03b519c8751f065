#include "recorder/waveform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "plot/sampled_series.h"

namespace {

using recorder::Axis;
using recorder::WaveformState;

TEST(Waveform, TimeTexts) {
    const std::tuple<double, int, const char*> cases[] = {
        {3725, 2, "1:02:05"}, {75.5, 2, "1:15.5"},  {0.5, 2, "0.5s"},          {0, 2, "0s"},
        {59.999, 2, "1:00"},  {0.123, 3, "0.123s"}, {7200.25, 3, "2:00:00.25"}};
    for (const auto& [seconds, decimals, text] : cases)
        EXPECT_EQ(recorder::viewTimeText(seconds, decimals), text) << seconds;
}

TEST(Waveform, ZoomingAtAPointKeepsTheSampleUnderTheClick) {
    WaveformState state;
    state.timeScroll = 7;
    for (const double x : {60.0, 300.5, 911.0}) {
        for (int step = 0; step < 14; ++step) {
            const bool in = step < 7;
            const double sample = state.sampleAtX(x);
            recorder::zoomTimeAt(state, x, in, 10'000'000);
            EXPECT_NEAR(state.xOfSample(sample), x, 1.0) << x << " step " << step;
        }
    }
    EXPECT_FALSE(state.panorama || state.voltTracking || state.currentTracking);

    // At either end of the table the index stays.
    state.voltIndex = 11;
    recorder::zoomVerticalAt(state, Axis::Voltage, 120, false);
    EXPECT_EQ(state.voltIndex, 11);
    EXPECT_FALSE(recorder::canZoomVertical(state, Axis::Voltage, false));
    state.voltIndex = 0;
    EXPECT_FALSE(recorder::canZoomVertical(state, Axis::Voltage, true));
}

TEST(Waveform, PanoramaFitsTheRecording) {
    recorder::SampleDocument document;
    for (int i = 0; i < 36'000; ++i)  // one hour
        document.appendSample(static_cast<uint16_t>(5000 + i % 5000), 1500, {true, false, true});
    WaveformState state;
    recorder::panoramaFit(state, document, 1398, 820);
    // 5 V of range in (820 - 42) / 50 = 15 divisions: 0.5 V/div is the finest that holds it.
    EXPECT_EQ(state.voltIndex, 8);
    EXPECT_EQ(state.heightOf(5000, Axis::Voltage), 0);  // the minimum at the origin
    // 35,998 samples over (1398 - 230) / 60 = 19 divisions: 5M/DIV is the finest that fits.
    EXPECT_EQ(state.timeIndex, 5);
    EXPECT_EQ(state.timeScroll, 0);

    // A test of 2:19 fits 10S/DIV (0-3:10), not the classic table's 30S/DIV (0-9:30).
    recorder::SampleDocument shortTest;
    for (int i = 0; i < 1390; ++i)
        shortTest.appendSample(5000, 1500, {true, false, true});
    recorder::panoramaFit(state, shortTest, 1398, 820);
    EXPECT_EQ(recorder::kTimeScales[static_cast<std::size_t>(state.timeIndex)].label, "10S/DIV");
}

// The profile's "TX" counts the twelve classic time scales; the added 15S and 10S/DIV
// are kept as 30S/DIV, and every classic one comes back as itself.
TEST(Waveform, TimeScaleInTheProfile) {
    for (int stored = 0; stored < recorder::kScaleCount; ++stored) {
        const int index = recorder::timeIndexFromProfile(stored);
        EXPECT_EQ(recorder::timeIndexForProfile(index), stored);
    }
    const std::pair<std::string_view, int> kept[] = {
        {"30S/DIV", 8}, {"15S/DIV", 8}, {"10S/DIV", 8}, {"6S/DIV", 9}, {"1S/DIV", 11}};
    for (const auto& [label, stored] : kept) {
        int index = 0;
        while (recorder::kTimeScales[static_cast<std::size_t>(index)].label != label)
            ++index;
        EXPECT_EQ(recorder::timeIndexForProfile(index), stored) << label;
    }
    for (const int wrong : {-1, 12, 99})
        EXPECT_EQ(recorder::timeIndexFromProfile(wrong), -1);
}

// 全景图 holds each channel's lowest and highest samples on its axis, on the
// finest scale that does: a current tapering to 0.78 A, a 10.4 V test, a flat line.
TEST(Waveform, PanoramaHoldsEveryChannelBetweenItsAxisEnds) {
    struct Case {
        const char* name;
        uint16_t voltFrom, voltTo, ampFrom, ampTo;
    };
    const Case cases[] = {
        {"a current tapering to 0.78 A", 9000, 9050, 3000, 780},
        {"a 10.4 V test", 10350, 10420, 2000, 2100},
        {"flat lines", 5000, 5000, 1500, 1500},
        {"from zero", 0, 20000, 0, 5000},
        {"beyond every scale", 0, 65535, 0, 65535},
    };
    const int height = 820;
    const int divisions = (height - 42) / recorder::kDivisionHeight;
    for (const Case& c : cases) {
        recorder::SampleDocument document;
        for (int i = 0; i <= 100; ++i) {
            const auto between = [i](int from, int to) {
                return static_cast<uint16_t>(from + (to - from) * i / 100);
            };
            document.appendSample(between(c.voltFrom, c.voltTo), between(c.ampFrom, c.ampTo),
                                  {true, false, true});
        }
        WaveformState state;
        recorder::panoramaFit(state, document, 1398, height);
        for (const Axis axis : {Axis::Voltage, Axis::Current}) {
            const plot::SeriesExtremes range =
                document.channel(axis == Axis::Voltage ? 0 : 2).extremes();
            const double bottom = state.valueAtHeight(0, axis) * 1000;
            const double top =
                state.valueAtHeight(divisions * recorder::kDivisionHeight, axis) * 1000;
            const bool fits = bottom <= range.minimum && top >= range.maximum;
            if (std::string(c.name) != "beyond every scale") {
                EXPECT_TRUE(fits) << c.name << (axis == Axis::Voltage ? " volts " : " amps ")
                                  << bottom << "..." << top;
            }
            // The next finer scale would not hold the channel.
            WaveformState finer = state;
            int& index = axis == Axis::Voltage ? finer.voltIndex : finer.currentIndex;
            if (!fits || index == 0) continue;
            --index;
            const double perDivision = finer.perDivision(axis) * 1000;
            const double finerBottom = std::floor(range.minimum / perDivision) * perDivision;
            EXPECT_LT(finerBottom + divisions * perDivision, range.maximum) << c.name;
        }
    }
}

const plot::Label* findLabel(const plot::Frame& frame, const std::string& text) {
    for (const plot::Label& label : frame.labels)
        if (label.text == text) return &label;
    return nullptr;
}

// However the plot has scrolled (a zoom at a point leaves it between divisions), the time
// labels read whole divisions of the scale and sit where those times are; the grid follows.
TEST(Waveform, TimeLabelsFallOnRoundValuesOfTheScale) {
    recorder::SampleDocument document;
    for (int i = 0; i < 3'000; ++i)
        document.appendSample(5'000, 1'000, {true, false, true});
    const struct {
        int timeIndex;
        double scroll;
        const char* first;  // the first label, at the first whole division in the plot
        int firstX;
        const char* second;
    } cases[] = {
        {12, 4.95, "15", 3, "18"},  // 3S/DIV: was 14.85, 17.85
        {12, 5.0, "15", 0, "18"},   // on a division already
        {11, 0.5, "6", 30, "12"},   // 6S/DIV
        {13, 7.25, "8", 45, "9"},   // 1S/DIV
        {10, 2.1, "30", 54, "40"},  // 10S/DIV
        {12, -1.5, "0", 90, "3"},   // scrolled before the start: nothing below 0
    };
    for (const auto& c : cases) {
        WaveformState state;
        state.panorama = false;
        state.timeIndex = c.timeIndex;
        state.timeScroll = c.scroll;
        const plot::Frame frame = recorder::waveformFrame(state, document, {1398, 740, true, true});
        std::vector<const plot::Label*> times;
        for (const plot::Label& label : frame.labels)
            if (label.y == -4) times.push_back(&label);
        ASSERT_GE(times.size(), 2u) << c.scroll;
        EXPECT_EQ(times[0]->text, c.first) << c.scroll;
        EXPECT_EQ(times[0]->x, c.firstX) << c.scroll;
        EXPECT_EQ(times[1]->text, c.second) << c.scroll;
        EXPECT_EQ(times[1]->x - times[0]->x, recorder::kDivisionWidth);
        EXPECT_EQ(frame.columnShift, c.firstX % recorder::kDivisionWidth) << c.scroll;
    }
}

TEST(Waveform, TheFrameHoldsTheLabelsAndTheShownCurvesInsideThePlot) {
    recorder::SampleDocument document;
    for (int i = 0; i < 3'000; ++i)
        document.appendSample(static_cast<uint16_t>(9'000 + i % 300),
                              static_cast<uint16_t>(1'000 + i), {true, false, true});
    WaveformState state;
    state.panorama = false;
    state.voltIndex = 9;     // 1 V a division
    state.currentIndex = 9;  // 1 A a division
    state.timeIndex = 11;    // 6S/DIV: a sample a pixel
    state.timeScroll = 10;   // 600 samples left of the plot
    const recorder::FrameOptions options{1398, 740, false, true};
    const int plotWidth = 1398 - recorder::kPanelWidth - recorder::kOriginLeft;
    plot::Frame frame = recorder::waveformFrame(state, document, options);

    // Values at each horizontal line, times under each vertical one, the units above.
    ASSERT_NE(findLabel(frame, "9"), nullptr);
    EXPECT_EQ(findLabel(frame, "9")->y, 9 * recorder::kDivisionHeight);
    EXPECT_TRUE(findLabel(frame, "9")->middle);
    ASSERT_NE(findLabel(frame, "1:00"), nullptr);  // 10 divisions of 6 s in
    EXPECT_EQ(findLabel(frame, "1:00")->x, 0);
    EXPECT_EQ(findLabel(frame, "1:06")->x, recorder::kDivisionWidth);
    EXPECT_NE(findLabel(frame, "V(伏)"), nullptr);
    EXPECT_EQ(findLabel(frame, "本次测试未校准电流，电流值设置为0 ！"), nullptr);
    EXPECT_TRUE(frame.voltageOnTop);

    // Samples 600 on at one a pixel; the sample before the plot carries the line to its edge.
    ASSERT_FALSE(frame.voltage.points.empty());
    EXPECT_EQ(frame.voltage.points.front().x, -1);
    EXPECT_EQ(frame.voltage.points[1].x, 0);
    EXPECT_EQ(frame.voltage.points[1].y,
              static_cast<int>(std::lround(state.heightOf(9'000, Axis::Voltage))));
    for (const plot::Point& point : frame.current.points) {
        ASSERT_GE(point.x, -1);
        ASSERT_LE(point.x, plotWidth);
    }
    state.timeScroll = 0;
    state.timeIndex = 0;
    frame = recorder::waveformFrame(state, document, options);
    EXPECT_NE(findLabel(frame, "2:00:00"), nullptr);
    EXPECT_EQ(frame.voltage.points.back().x, 2997 / 1200);  // 2H/DIV: the last shown sample, 2997

    // Hidden curves are not traced; an uncalibrated test says so.
    state.voltageShown = false;
    document.currentCalibrated = 0;
    frame = recorder::waveformFrame(state, document, {1398, 740, true, false});
    EXPECT_TRUE(frame.voltage.points.empty());
    EXPECT_FALSE(frame.current.points.empty());
    EXPECT_NE(findLabel(frame, "本次测试未校准电流，电流值设置为0 ！"), nullptr);
    EXPECT_NE(findLabel(frame, "7200"), nullptr);  // plain seconds, one 2H division in
    EXPECT_FALSE(frame.voltageOnTop);
}

TEST(Waveform, ZoneMeasurements) {
    recorder::SampleDocument document;
    for (uint16_t i = 0; i < 100; ++i)
        document.appendSample(static_cast<uint16_t>(5000 + i), 2000, {true, false, true});
    const recorder::ZoneMeasurement zone = recorder::measureZone(document, 60, 10);  // either order
    EXPECT_NEAR(zone.seconds, 5.0, 1e-9);
    EXPECT_NEAR(zone.averageVolts, 5.035, 1e-9);
    EXPECT_DOUBLE_EQ(zone.minimumVolts, 5.010);
    EXPECT_DOUBLE_EQ(zone.maximumVolts, 5.060);
    EXPECT_DOUBLE_EQ(zone.averageAmps, 2.0);
    // 51 samples of 0.1 s at 2 A: 51 × 2000 mA × 0.1 s / 3600.
    EXPECT_NEAR(zone.milliampHours, 51 * 2000 * 0.1 / 3600, 1e-12);
    EXPECT_NEAR(zone.wattHours, 5.035 * 2.0 * 5.1 / 3600, 1e-12);
    EXPECT_EQ(recorder::measureZone(document, 200, 300).seconds, 0);
}

}  // namespace

// The side panel's totals of a whole document: the same sums as a zone over every
// sample, a length of one period a sample, and the missed count only when known.
TEST(Waveform, PanelTotalsOfADocument) {
    recorder::SampleDocument document;
    EXPECT_EQ(recorder::documentTotals(document).seconds, 0);
    for (int i = 0; i < 36000; ++i)  // one hour at 9 V, 2 A
        document.appendSample(9000, 2000, {true, false, true});
    const recorder::PanelTotals totals = recorder::documentTotals(document);
    EXPECT_NEAR(totals.seconds, 3600, 1e-6);
    EXPECT_NEAR(totals.milliwattHours, 18000, 1e-6);
    EXPECT_NEAR(totals.milliampHours, 2000, 1e-6);
    EXPECT_EQ(recorder::panelTotalsText(totals), "测试 1:00:00\n18000.000 mWh  2000.000 mAh");
    recorder::PanelTotals run = totals;
    run.missedSamples = 3;
    EXPECT_EQ(recorder::panelTotalsText(run), "测试 1:00:00\n18000.000 mWh  2000.000 mAh\n漏采 3");
}
