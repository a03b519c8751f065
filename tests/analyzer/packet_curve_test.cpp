#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "analyzer/packet_curve.h"
#include "common/byte_order.h"

namespace {

using analyzer::CurveFrame;
using analyzer::CurveLabel;
using analyzer::PacketCurveState;
using Scroll = PacketCurveState::Scroll;

class PacketCurveTest : public ::testing::Test {
  protected:
    PacketCurveTest() : store(ufcs::CaptureStore::create()) {
        if (!store) throw std::bad_alloc();
    }
    // Records 1..messages with voltage 5000 + 10 (i mod 1000) mV and current 100 (i mod 60) mA;
    // record 0 the header.
    void fill(uint32_t messages, bool uncalibrated = false) {
        store->recordBytes(0)[1] = uncalibrated ? 1 : 0;
        for (uint32_t i = 1; i <= messages; ++i) {
            common::writeLe16(store->recordBytes(i) + 10,
                              static_cast<uint16_t>(5000 + 10 * (i % 1000)));
            common::writeLe16(store->recordBytes(i) + 12, static_cast<uint16_t>(100 * (i % 60)));
        }
        store->setCount(messages + 1);
    }
    // The curve's series, caught up with the store.
    const analyzer::PacketSeries& packets() {
        series.catchUp(*store, store->count());
        return series;
    }
    CurveFrame paint(const PacketCurveState& state, uint16_t range = 0) {
        return state.frame(packets(), geometry, range);
    }
    static const CurveLabel* find(const CurveFrame& frame, const std::string& text) {
        for (const CurveLabel& label : frame.labels) {
            if (label.text == text) return &label;
        }
        return nullptr;
    }
    std::unique_ptr<ufcs::CaptureStore> store;
    analyzer::PacketSeries series;
    analyzer::CurveGeometry geometry;
};

TEST_F(PacketCurveTest, ScrollRangeFollowsCountAndPacketsPerDivision) {
    EXPECT_EQ(analyzer::scrollRangeFor(31, 1).maximum, 10);
    EXPECT_TRUE(analyzer::scrollRangeFor(31, 1).enabled);
    EXPECT_EQ(analyzer::scrollRangeFor(31, 2).maximum, 0);
    EXPECT_FALSE(analyzer::scrollRangeFor(31, 2).enabled);
    EXPECT_TRUE(analyzer::scrollRangeFor(21, 1).enabled);  // ⌈21⌉ − 21 = 0 still scrolls
    EXPECT_EQ(analyzer::scrollRangeFor(65536, 500).maximum, 132 - 21);
    EXPECT_EQ(analyzer::scrollRangeFor(65536, 1).maximum, 65536 - 21);

    PacketCurveState state(1, 0, 0);
    EXPECT_TRUE(state.countChanged(31));
    EXPECT_FALSE(state.countChanged(31));  // only a larger count changes anything
    EXPECT_FALSE(state.countChanged(12));
    EXPECT_EQ(state.range().maximum, 10);
    state.sampleMinus();
    EXPECT_FALSE(state.range().enabled);
    state.resetCount();
    EXPECT_TRUE(state.countChanged(5));
}

TEST_F(PacketCurveTest, ValuesMapToPlotUnitsWithoutClamping) {
    EXPECT_EQ(analyzer::currentY(2500, 0.5), 500);
    EXPECT_EQ(analyzer::voltageY(20000, 1), 2000);
    EXPECT_EQ(analyzer::voltageY(9000, 3), 300);
    EXPECT_EQ(analyzer::voltageY(9999, 7), 142);  // integer divisions: 999900 / 7 / 1000
    EXPECT_EQ(analyzer::currentY(0, 0.1), 0);
}

TEST_F(PacketCurveTest, EmptyCaptureHasLabelsButNoCurves) {
    fill(0);
    const CurveFrame frame = paint(PacketCurveState(2, 0, 2));
    EXPECT_TRUE(frame.voltage.points.empty());
    EXPECT_TRUE(frame.current.points.empty());
    ASSERT_NE(find(frame, "10"), nullptr);  // 5 × voltage scale 2
    EXPECT_EQ(find(frame, "10")->y, 508);
    EXPECT_EQ(find(frame, "10")->align, CurveLabel::Align::Right);
    ASSERT_NE(find(frame, "2.5"), nullptr);  // 5 × 0.5 A
    EXPECT_EQ(find(frame, "2.5")->x, 1115);
    EXPECT_NE(find(frame, "(V)"), nullptr);
    EXPECT_NE(find(frame, "(A)"), nullptr);
    EXPECT_NE(find(frame, "(序号)"), nullptr);
    EXPECT_EQ(find(frame, "最大量程"), nullptr);
}

TEST_F(PacketCurveTest, FirstScreenStartsAtRecordOneOneDivisionIn) {
    fill(30);
    PacketCurveState state(1, 0, 0);
    state.countChanged(31);
    const CurveFrame frame = paint(state);
    ASSERT_EQ(frame.voltage.points.size(), 22u);  // D divisions at 1 packet each
    EXPECT_EQ(frame.voltage.points.front().x, 50);
    EXPECT_EQ(frame.voltage.points.front().y, analyzer::voltageY(5010, 1));
    EXPECT_EQ(frame.voltage.points.back().x, 1100);
    EXPECT_EQ(frame.current.points.front().y, analyzer::currentY(100, 0.1));
    EXPECT_FALSE(frame.voltageOnTop);  // the voltage was re-scaled last: drawn below
}

TEST_F(PacketCurveTest, ScrolledViewStartsAtPositionTimesPackets) {
    fill(500);
    PacketCurveState state(1, 2, 0);  // 5 packets a division
    state.countChanged(501);
    state.scroll(Scroll::Track, 3);
    EXPECT_FALSE(state.following());
    const CurveFrame frame = paint(state);
    ASSERT_FALSE(frame.voltage.points.empty());
    EXPECT_EQ(frame.voltage.points.front().x, 0);
    EXPECT_EQ(frame.voltage.points.front().y, analyzer::voltageY(5000 + 10 * 15, 1));  // record 15
    EXPECT_EQ(frame.voltage.points.size(), 5u * 22 + 1);
    const CurveLabel* first = find(frame, "15");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->x, 0);
    EXPECT_EQ(first->y, -15);
}

TEST_F(PacketCurveTest, DensePacketsKeepEachColumnsExtremes) {
    fill(30000);
    PacketCurveState state(1, 8, 0);  // 500 packets a division: ten records a pixel column
    state.countChanged(30001);
    const CurveFrame frame = paint(state);
    ASSERT_FALSE(frame.voltage.points.empty());
    EXPECT_LE(frame.voltage.points.size(), 4u * 1101);
    int lowest = 1 << 30, highest = -1;
    for (const auto& point : frame.voltage.points) {
        lowest = std::min(lowest, point.y);
        highest = std::max(highest, point.y);
        ASSERT_LE(point.x, 1100);
    }
    // Records 1 … 11000 are on screen (500 × 22): their extremes must all be drawn.
    EXPECT_EQ(lowest, analyzer::voltageY(5000, 1));
    EXPECT_EQ(highest, analyzer::voltageY(5000 + 10 * 999, 1));
    // Five-character sequence labels only at even divisions.
    EXPECT_NE(find(frame, "10000"), nullptr);
    EXPECT_EQ(find(frame, "10500"), nullptr);
}

TEST_F(PacketCurveTest, NotesForRangeAndUncalibratedCurrent) {
    fill(10, true);
    const CurveFrame frame = paint(PacketCurveState(1, 0, 0), 6000);
    ASSERT_NE(find(frame, "6000mA"), nullptr);
    EXPECT_EQ(find(frame, "6000mA")->x, 1110);
    ASSERT_NE(find(frame, "本次测试未校准电流，电流值设置为0!"), nullptr);
    EXPECT_EQ(find(frame, "本次测试未校准电流，电流值设置为0!")->x, 550);
    EXPECT_EQ(find(frame, "本次测试未校准电流，电流值设置为0!")->align, CurveLabel::Align::Centre);
}

TEST_F(PacketCurveTest, ButtonsStopAtTheirLimitsAndRememberTheLastCurve) {
    PacketCurveState state(1, 0, 3);
    EXPECT_FALSE(state.voltagePlusEnabled());
    EXPECT_FALSE(state.currentMinusEnabled());
    EXPECT_FALSE(state.samplePlusEnabled());
    for (int i = 0; i < 10; ++i)
        state.voltageMinus();
    EXPECT_EQ(state.voltageScale(), 7);
    EXPECT_FALSE(state.voltageMinus());
    EXPECT_TRUE(state.voltageChangedLast());
    EXPECT_TRUE(state.currentPlus());
    EXPECT_FALSE(state.voltageChangedLast());
    EXPECT_DOUBLE_EQ(state.ampsPerDivision(), 0.5);
    for (int i = 0; i < 12; ++i)
        state.sampleMinus();
    EXPECT_EQ(state.packetsPerDivision(), 500);
    EXPECT_FALSE(state.sampleMinusEnabled());

    PacketCurveState outOfRange(0, 20, -1);  // stored values outside the tables are clamped
    EXPECT_EQ(outOfRange.voltageScale(), 1);
    EXPECT_EQ(outOfRange.sampleIndex(), 8);
    EXPECT_EQ(outOfRange.currentIndex(), 0);
}

TEST_F(PacketCurveTest, ScrollActionsAndFollowing) {
    PacketCurveState state(1, 0, 0);
    state.countChanged(121);  // range 0 … 100
    EXPECT_TRUE(state.following());
    state.scroll(Scroll::ToEnd);
    EXPECT_EQ(state.position(), 100);
    EXPECT_TRUE(state.following());
    state.scroll(Scroll::PageLeft);
    EXPECT_EQ(state.position(), 80);
    EXPECT_FALSE(state.following());
    state.scroll(Scroll::LineRight);
    EXPECT_EQ(state.position(), 81);
    state.scroll(Scroll::PageRight);
    state.scroll(Scroll::PageRight);
    EXPECT_EQ(state.position(), 100);  // never past the end
    state.scroll(Scroll::ToStart);
    state.scroll(Scroll::LineLeft);
    EXPECT_EQ(state.position(), 0);
    state.scroll(Scroll::Track, 55);
    EXPECT_EQ(state.position(), 55);
    state.sampleMinus();  // 2 a division: range shrinks to 0 … 40
    EXPECT_EQ(state.position(), 40);
}

TEST_F(PacketCurveTest, FitShowsTheWholeCaptureAndTheMouseReadsARecord) {
    fill(300);  // up to 7.99 V and 5.9 A
    PacketCurveState state(1, 0, 0);
    state.fit(packets(), geometry);
    EXPECT_EQ(state.packetsPerDivision(), 20);  // 300 records in 21 divisions
    EXPECT_EQ(state.voltageScale(), 2);         // 10 V at the fifth division
    EXPECT_EQ(state.ampsPerDivision(), 1.0);    // the largest: 5.9 A does not fit below it
    EXPECT_EQ(state.position(), 0);
    EXPECT_FALSE(state.following());

    const auto first = state.readingAt(2, packets(), geometry);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->record, 1u);
    const auto later = state.readingAt(52, packets(), geometry);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->record, 21u);
    EXPECT_EQ(later->millivolts, 5210);
    EXPECT_FALSE(state.readingAt(1000, packets(), geometry));  // beyond the last
    EXPECT_FALSE(state.readingAt(-5, packets(), geometry));
}

// A record's column is where the curve draws it, and a dragged span takes exactly the
// records drawn between its ends: checked against every record, for sparse and dense
// scales, at the start and scrolled, with ends in either order and beyond the plot.
TEST_F(PacketCurveTest, ColumnsOfRecordsAndTheRecordsBetweenTwoColumns) {
    const uint32_t count = 3001;  // records 1-3000 and the header
    const struct {
        int sampleIndex;  // packets a division: 1, 2, 5, 10, ... as the scale table has them
        int track;        // scroll position; 0 is the first screen
    } views[] = {{0, 0}, {2, 0}, {2, 7}, {5, 0}, {8, 1}, {8, 0}};
    const std::pair<int, int> drags[] = {{0, 1100},   {30, 31},     {31, 30}, {-40, 12},
                                         {500, 5000}, {1099, 1100}, {3, 3},   {777, 212}};
    for (const auto& view : views) {
        PacketCurveState state(1, view.sampleIndex, 0);
        state.countChanged(count);
        if (view.track) state.scroll(Scroll::Track, view.track);
        std::vector<std::pair<uint32_t, int>> drawn;  // record, column
        for (uint32_t record = 0; record < count; ++record)
            if (const auto column = state.columnOfRecord(record, count, geometry))
                drawn.push_back({record, *column});
        ASSERT_FALSE(drawn.empty());
        // The first drawn record is where the frame's curve starts.
        fill(count - 1);
        const CurveFrame frame = paint(state);
        ASSERT_FALSE(frame.voltage.points.empty());
        EXPECT_LE(frame.voltage.points.front().x, drawn.front().second) << view.sampleIndex;
        for (const auto& [x1, x2] : drags) {
            const int left = std::clamp(std::min(x1, x2), 0, geometry.plotWidth());
            const int right = std::clamp(std::max(x1, x2), 0, geometry.plotWidth());
            std::optional<std::pair<uint32_t, uint32_t>> expected;
            for (const auto& [record, column] : drawn) {
                if (column < left || column > right) continue;
                if (!expected) expected = {record, record};
                expected->second = record;
            }
            const auto span = state.recordsBetween(x1, x2, count, geometry);
            ASSERT_EQ(span.has_value(), expected.has_value())
                << view.sampleIndex << " " << x1 << "-" << x2;
            if (!span) continue;
            EXPECT_EQ(span->first, expected->first) << view.sampleIndex << " " << x1 << "-" << x2;
            EXPECT_EQ(span->last, expected->second) << view.sampleIndex << " " << x1 << "-" << x2;
        }
    }
}

TEST_F(PacketCurveTest, TheSeriesFollowsTheStoreAndFitsToMessagesOnly) {
    fill(100);
    analyzer::PacketSeries packets;
    packets.catchUp(*store, 40);
    EXPECT_EQ(packets.count(), 40u);
    packets.catchUp(*store, 1'000);  // never beyond the store
    EXPECT_EQ(packets.count(), 101u);
    EXPECT_EQ(packets.voltage().at(37), 5370);
    EXPECT_EQ(packets.current().at(37), 3700);
    EXPECT_EQ(packets.highestMillivolts(), 5000 + 10 * 100);
    EXPECT_EQ(packets.highestMilliamps(), 5900);

    // A record that is no message (a decode error) is drawn but not fitted to.
    const uint32_t odd = 101;
    store->recordBytes(odd)[2] = static_cast<uint8_t>(ufcs::EventKind::DecodeErrorDPlus);
    common::writeLe16(store->recordBytes(odd) + 10, 30'000);
    store->setCount(odd + 1);
    packets.catchUp(*store, odd + 1);
    EXPECT_EQ(packets.voltage().at(odd), 30'000);
    EXPECT_EQ(packets.highestMillivolts(), 6000);
    PacketCurveState state(1, 0, 0);
    state.fit(packets, geometry);
    EXPECT_EQ(state.voltageScale(), 2);

    // A store started again under the series is read afresh.
    fill(10, true);
    packets.catchUp(*store, store->count());
    EXPECT_EQ(packets.count(), 11u);
    EXPECT_EQ(packets.highestMillivolts(), 5100);
    EXPECT_TRUE(packets.uncalibrated());
}

}  // namespace
