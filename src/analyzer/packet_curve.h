#pragma once
// The packet curve: bus voltage and current of each captured message against
// its sequence number. Everything a paint needs (grid, labels, both
// polylines) and the view's scales and scrolling, computed without a window.
// The curve draws from two sampled series (a record's values at its index),
// kept up with the capture as records arrive; only the points on screen are
// computed, a pixel column's extremes standing for the records in it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analyzer/settings.h"
#include "plot/plot_frame.h"
#include "plot/sampled_series.h"
#include "plot/scales.h"
#include "ufcs/capture_store.h"

namespace analyzer {

inline constexpr std::array<plot::Scale, 9> kPacketScales = {{{1, "1"},
                                                              {2, "2"},
                                                              {5, "5"},
                                                              {10, "10"},
                                                              {20, "20"},
                                                              {50, "50"},
                                                              {100, "100"},
                                                              {200, "200"},
                                                              {500, "500"}}};
inline constexpr std::array<plot::Scale, 4> kCurrentScales = {
    {{0.1, "0.1"}, {0.2, "0.2"}, {0.5, "0.5"}, {1.0, "1"}}};
// Volts per division; the profile keeps the number itself (1-7).
inline constexpr std::array<plot::Scale, 7> kVoltageScales = {
    {{1, "1"}, {2, "2"}, {3, "3"}, {4, "4"}, {5, "5"}, {6, "6"}, {7, "7"}}};
inline constexpr int kLargestVoltageScale = 7;

// Each record's bus voltage and current at its index, appended as the
// capture grows, and the highest of them over the records 适合 fits to
// (messages and line signals).
class PacketSeries {
  public:
    // Appends records [count(), upTo) of `store` (no further than its count);
    // starts again when the store holds fewer records than were read.
    void catchUp(const ufcs::CaptureStore& store, uint32_t upTo);
    // A new capture or an opened file: nothing read yet.
    void clear();

    uint32_t count() const { return voltage_.count(); }
    const plot::SampledSeries& voltage() const { return voltage_; }
    const plot::SampledSeries& current() const { return current_; }
    uint16_t highestMillivolts() const { return highestMv_; }
    uint16_t highestMilliamps() const { return highestMa_; }
    // The capture's header says its currents were not calibrated (read as zero).
    bool uncalibrated() const { return uncalibrated_; }

  private:
    plot::SampledSeries voltage_;
    plot::SampledSeries current_;
    uint16_t highestMv_ = 0;
    uint16_t highestMa_ = 0;
    bool uncalibrated_ = false;
};

// Pixel layout of the view; the plot's origin is (originX, originY) in window
// pixels, with y growing upwards in plot units.
struct CurveGeometry {
    bool smallScreen = false;
    int windowWidth() const { return smallScreen ? 1000 : 1240; }
    int windowHeight() const { return 700; }
    int plotWidth() const { return smallScreen ? 850 : 1100; }  // W
    int plotHeight() const { return 600; }
    int divisionsShown() const { return smallScreen ? 17 : 22; }  // D
    int originX() const { return 53; }
    int originY() const { return 604; }
    int scrollBarX() const { return 53; }
    int scrollBarY() const { return 650; }
    int scrollBarWidth() const { return smallScreen ? 825 : 1065; }
    int sampleMinusX() const { return smallScreen ? 888 : 1128; }
    int samplePlusX() const { return smallScreen ? 906 : 1146; }
    int currentPlusX() const { return smallScreen ? 930 : 1170; }
    int currentMinusX() const { return smallScreen ? 952 : 1192; }
};

struct ScrollRange {
    int maximum = 0;
    bool enabled = false;
};
// 0 … max(0, ⌈count ÷ packets⌉ − 21); the bar is enabled when that is not negative.
ScrollRange scrollRangeFor(uint32_t largestCount, int packetsPerDivision);

int voltageY(uint16_t millivolts, int voltageScale);
int currentY(uint16_t milliamps, double ampsPerDivision);

// Small labels are the 15 × 9 font of the range note and the calibration note.
using CurveLabel = plot::Label;
// Everything one paint draws, in plot units; the curve re-scaled last is drawn below.
using CurveFrame = plot::Frame;

// The view's state: scales, scrolling, following and the largest count seen.
class PacketCurveState {
  public:
    enum class Scroll { LineLeft, LineRight, PageLeft, PageRight, Track, ToStart, ToEnd };

    PacketCurveState(int voltageScale, int sampleIndex, int currentIndex);
    explicit PacketCurveState(const CurveScales& saved)
        : PacketCurveState(saved.voltageScale, saved.sampleIndex, saved.currentIndex) {}

    int voltageScale() const { return voltageScale_; }
    int sampleIndex() const { return sampleIndex_; }
    int currentIndex() const { return currentIndex_; }
    int packetsPerDivision() const {
        return static_cast<int>(kPacketScales[static_cast<std::size_t>(sampleIndex_)].perDivision);
    }
    double ampsPerDivision() const {
        return kCurrentScales[static_cast<std::size_t>(currentIndex_)].perDivision;
    }
    bool voltageChangedLast() const { return voltageChangedLast_; }
    bool following() const { return follow_; }
    uint32_t largestCount() const { return largestCount_; }
    int position() const { return position_; }
    ScrollRange range() const { return scrollRangeFor(largestCount_, packetsPerDivision()); }

    // The record count changed; true when the scroll range was recomputed.
    bool countChanged(uint32_t count);
    // A new capture or an opened file: the count starts from 0 again.
    void resetCount() { largestCount_ = 0; }

    // The six buttons; each returns false when its limit held it.
    bool voltagePlus();
    bool voltageMinus();
    bool currentPlus();
    bool currentMinus();
    bool samplePlus();
    bool sampleMinus();
    bool voltagePlusEnabled() const { return voltageScale_ > 1; }
    bool voltageMinusEnabled() const { return voltageScale_ < kLargestVoltageScale; }
    bool currentPlusEnabled() const { return currentIndex_ > 0; }
    bool currentMinusEnabled() const {
        return currentIndex_ < static_cast<int>(kCurrentScales.size()) - 1;
    }
    bool samplePlusEnabled() const { return sampleIndex_ > 0; }
    bool sampleMinusEnabled() const {
        return sampleIndex_ < static_cast<int>(kPacketScales.size()) - 1;
    }

    void scroll(Scroll action, int trackPosition = 0);

    // 适合: the packet scale that shows all records from the start (or the
    // largest), and the smallest voltage and current scales their values fit in.
    void fit(const PacketSeries& packets, const CurveGeometry& geometry);

    // The record under plot column `plotX` (pixels right of the origin), if any.
    struct Reading {
        uint32_t record;
        uint16_t millivolts, milliamps;
    };
    std::optional<Reading> readingAt(int plotX, const PacketSeries& packets,
                                     const CurveGeometry& geometry) const;

    // The plot column where `record` is drawn, when it is in view (of `count` records).
    std::optional<int> columnOfRecord(uint32_t record, uint32_t count,
                                      const CurveGeometry& geometry) const;
    // The records drawn between two plot columns (either order; beyond the plot counts as
    // its edge), of `count`; nothing when no record lies between them.
    struct RecordSpan {
        uint32_t first, last;
    };
    std::optional<RecordSpan> recordsBetween(int plotX1, int plotX2, uint32_t count,
                                             const CurveGeometry& geometry) const;

    // The paint of the current state over the records read so far.
    CurveFrame frame(const PacketSeries& packets, const CurveGeometry& geometry,
                     uint16_t currentRangeMa) const;

  private:
    void clampPosition();
    // The first record drawn, and the column of the first division's first point.
    uint32_t firstRecord() const;
    int firstColumn() const;

    int voltageScale_;
    int sampleIndex_;
    int currentIndex_;
    bool voltageChangedLast_ = true;
    bool follow_ = true;
    uint32_t largestCount_ = 0;
    int position_ = 0;
};

}  // namespace analyzer
