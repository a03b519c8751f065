#include "recorder/waveform.h"

#include <gtest/gtest.h>

#include <random>

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
