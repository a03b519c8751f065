#include "analyzer/packet_curve.h"

#include <algorithm>

#include "common/format.h"
#include "plot/series_trace.h"

namespace analyzer {
namespace {

constexpr int kDivisionWidth = 50;
constexpr int kDivisionHeight = 100;
constexpr int kDivisionsWithoutScrolling = 21;

using Align = CurveLabel::Align;
using Colour = CurveLabel::Colour;

}  // namespace

ScrollRange scrollRangeFor(uint32_t largestCount, int packetsPerDivision) {
    const auto divisions =
        static_cast<long long>((largestCount + packetsPerDivision - 1) / packetsPerDivision);
    const long long beyond = divisions - kDivisionsWithoutScrolling;
    return ScrollRange{static_cast<int>(std::max(0LL, beyond)), beyond >= 0};
}

int voltageY(uint16_t millivolts, int voltageScale) {
    return millivolts * 100 / voltageScale / 1000;
}

int currentY(uint16_t milliamps, double ampsPerDivision) {
    return static_cast<int>(milliamps * 100 / ampsPerDivision * 0.001);
}

void PacketSeries::catchUp(const ufcs::CaptureStore& store, uint32_t upTo) {
    // A store cut back or started again under us: read it afresh.
    if (store.count() < count()) clear();
    upTo = std::min(upTo, store.count());
    // The header is read each time: a capture's may be written after its first look.
    if (upTo > 0) uncalibrated_ = store.record(0).at(1) == 1;
    if (upTo <= count()) return;
    // Room for both first, so the two series never differ in length.
    if (!voltage_.reserve(upTo - count()) || !current_.reserve(upTo - count())) return;
    for (uint32_t index = count(); index < upTo; ++index) {
        const ufcs::ConstCaptureRecord record = store.record(index);
        voltage_.append(record.voltage());
        current_.append(record.current());
        if (index > 0 &&
            (ufcs::isMessageKind(record.kind()) || ufcs::isLineSignalKind(record.kind()))) {
            highestMv_ = std::max(highestMv_, record.voltage());
            highestMa_ = std::max(highestMa_, record.current());
        }
    }
}

void PacketSeries::clear() {
    voltage_.clear();
    current_.clear();
    highestMv_ = highestMa_ = 0;
    uncalibrated_ = false;
}

PacketCurveState::PacketCurveState(int voltageScale, int sampleIndex, int currentIndex)
    : voltageScale_(std::clamp(voltageScale, 1, kLargestVoltageScale)),
      sampleIndex_(std::clamp(sampleIndex, 0, static_cast<int>(kPacketScales.size()) - 1)),
      currentIndex_(std::clamp(currentIndex, 0, static_cast<int>(kCurrentScales.size()) - 1)) {}

bool PacketCurveState::countChanged(uint32_t count) {
    if (count <= largestCount_) return false;
    largestCount_ = count;
    clampPosition();
    return true;
}

namespace {
// One press of a scale button: a step of `delta`, unless the button's limit holds it.
bool stepWithin(int& value, int delta, bool allowed) {
    if (!allowed) return false;
    value += delta;
    return true;
}
}  // namespace

bool PacketCurveState::voltagePlus() {
    voltageChangedLast_ = true;
    return stepWithin(voltageScale_, -1, voltagePlusEnabled());
}

bool PacketCurveState::voltageMinus() {
    voltageChangedLast_ = true;
    return stepWithin(voltageScale_, +1, voltageMinusEnabled());
}

bool PacketCurveState::currentPlus() {
    voltageChangedLast_ = false;
    return stepWithin(currentIndex_, -1, currentPlusEnabled());
}

bool PacketCurveState::currentMinus() {
    voltageChangedLast_ = false;
    return stepWithin(currentIndex_, +1, currentMinusEnabled());
}

// A new sample scale changes the scroll range, so the position is kept within it.
bool PacketCurveState::samplePlus() {
    const bool moved = stepWithin(sampleIndex_, -1, samplePlusEnabled());
    clampPosition();
    return moved;
}

bool PacketCurveState::sampleMinus() {
    const bool moved = stepWithin(sampleIndex_, +1, sampleMinusEnabled());
    clampPosition();
    return moved;
}

void PacketCurveState::clampPosition() {
    position_ = std::clamp(position_, 0, range().maximum);
}

void PacketCurveState::scroll(Scroll action, int trackPosition) {
    follow_ = false;
    switch (action) {
        case Scroll::LineLeft:
            position_ -= 1;
            break;
        case Scroll::LineRight:
            position_ += 1;
            break;
        case Scroll::PageLeft:
            position_ -= 20;
            break;
        case Scroll::PageRight:
            position_ += 20;
            break;
        case Scroll::Track:
            position_ = trackPosition;
            break;
        case Scroll::ToStart:
            position_ = 0;
            break;
        case Scroll::ToEnd:
            position_ = range().maximum;
            follow_ = true;
            break;
    }
    clampPosition();
}

CurveFrame PacketCurveState::frame(const PacketSeries& packets, const CurveGeometry& geometry,
                                   uint16_t currentRangeMa) const {
    const uint32_t count = packets.count();
    CurveFrame frame;
    const int width = geometry.plotWidth();
    auto label = [&frame](std::string text, int x, int y, Align align, Colour colour, bool small) {
        frame.labels.push_back(CurveLabel{std::move(text), x, y, align, colour, small});
    };
    for (int k = 1; k <= 5; ++k) {
        label(common::format("%d", k * voltageScale_), -12, kDivisionHeight * k + 8, Align::Right,
              Colour::Red, false);
    }
    label("(V)", -8, 550, Align::Right, Colour::Red, false);
    for (int k = 1; k <= 5; ++k) {
        label(common::format("%g", k * ampsPerDivision()), width + 15, kDivisionHeight * k + 8,
              Align::Left, Colour::Green, false);
    }
    label("(A)", width + 15, 550, Align::Left, Colour::Green, false);
    if (currentRangeMa != 0) {
        label("最大量程", width + 5, 50, Align::Left, Colour::Green, true);
        label(common::format("%dmA", currentRangeMa), width + 10, 30, Align::Left, Colour::Green,
              true);
    }
    if (packets.uncalibrated())
        label("本次测试未校准电流，电流值设置为0!", width / 2, 575, Align::Centre, Colour::Green,
              true);
    const int perDivision = packetsPerDivision();
    for (int i = 0; i < width / kDivisionWidth; ++i) {
        std::string text = common::format("%d", (i + position_) * perDivision);
        if (text.size() >= 5 && i % 2 != 0) continue;
        label(std::move(text), kDivisionWidth * i, -15, Align::Centre, Colour::Grey, true);
    }
    label("(序号)", width + 20, -15, Align::Left, Colour::Grey, true);

    frame.voltageOnTop = !voltageChangedLast_;
    if (count <= 1) return frame;
    const uint32_t first = firstRecord();
    if (first > count) return frame;
    const uint32_t extra = position_ == 0 ? 0 : 1;
    const uint32_t end =
        first +
        std::min<uint32_t>(count - first,
                           static_cast<uint32_t>(perDivision * geometry.divisionsShown()) + extra);
    // Record first + j lies in column firstColumn() + ⌊50 j ÷ packets⌋.
    const plot::ColumnMapping columns{first, static_cast<double>(firstColumn()),
                                      static_cast<double>(kDivisionWidth) / perDivision};
    const int voltageScale = voltageScale_;
    const double amps = ampsPerDivision();
    plot::traceSeries(
        packets.voltage(), first, end, columns, 0, width + 1,
        [voltageScale](uint16_t mv) { return voltageY(mv, voltageScale); }, frame.voltage.points);
    plot::traceSeries(
        packets.current(), first, end, columns, 0, width + 1,
        [amps](uint16_t ma) { return currentY(ma, amps); }, frame.current.points);
    return frame;
}

uint32_t PacketCurveState::firstRecord() const {
    return position_ == 0 ? 1 : static_cast<uint32_t>(position_) * packetsPerDivision();
}

int PacketCurveState::firstColumn() const {
    return position_ == 0 ? kDivisionWidth / packetsPerDivision() : 0;
}

void PacketCurveState::fit(const PacketSeries& packets, const CurveGeometry& geometry) {
    const uint32_t count = packets.count();
    const uint32_t records = count > 1 ? count - 1 : 0;
    // Five of the six divisions hold the highest value, leaving a margin at the top.
    const double topDivisions = 5;
    sampleIndex_ = static_cast<int>(
        plot::finestHolding(kPacketScales, records, geometry.divisionsShown() - 1));
    voltageScale_ = static_cast<int>(plot::finestHolding(
                        kVoltageScales, packets.highestMillivolts() / 1000.0, topDivisions)) +
                    1;
    currentIndex_ = static_cast<int>(
        plot::finestHolding(kCurrentScales, packets.highestMilliamps() / 1000.0, topDivisions));
    position_ = 0;
    follow_ = false;
    clampPosition();
}

std::optional<PacketCurveState::Reading> PacketCurveState::readingAt(
    int plotX, const PacketSeries& packets, const CurveGeometry& geometry) const {
    const uint32_t count = packets.count();
    if (plotX < 0 || plotX > geometry.plotWidth() || count <= 1) return std::nullopt;
    const int perDivision = packetsPerDivision();
    const int offset = plotX - firstColumn();
    if (offset < -kDivisionWidth / perDivision / 2) return std::nullopt;
    const auto step = static_cast<uint32_t>(
        std::max(0, (offset * perDivision + kDivisionWidth / 2) / kDivisionWidth));
    const uint32_t record = firstRecord() + step;
    if (record >= count) return std::nullopt;
    return Reading{record, packets.voltage().at(record), packets.current().at(record)};
}

std::optional<int> PacketCurveState::columnOfRecord(uint32_t record, uint32_t count,
                                                    const CurveGeometry& geometry) const {
    const uint32_t first = firstRecord();
    if (record < first || record >= count) return std::nullopt;
    // As the frame maps them: record first + j at firstColumn() + ⌊50 j ÷ packets⌋.
    const uint64_t offset =
        uint64_t{record - first} * kDivisionWidth / static_cast<uint64_t>(packetsPerDivision());
    const uint64_t column = static_cast<uint64_t>(firstColumn()) + offset;
    if (column > static_cast<uint64_t>(geometry.plotWidth())) return std::nullopt;
    return static_cast<int>(column);
}

std::optional<PacketCurveState::RecordSpan> PacketCurveState::recordsBetween(
    int plotX1, int plotX2, uint32_t count, const CurveGeometry& geometry) const {
    const int left = std::clamp(std::min(plotX1, plotX2), 0, geometry.plotWidth());
    const int right = std::clamp(std::max(plotX1, plotX2), 0, geometry.plotWidth());
    const uint32_t first = firstRecord();
    if (count <= first) return std::nullopt;
    const int64_t perDivision = packetsPerDivision();
    // The first record at or right of `left`, the last at or left of `right`.
    const int64_t fromLeft = left - firstColumn();
    const int64_t fromRight = right - firstColumn();
    if (fromRight < 0) return std::nullopt;
    // Record first + j is at column ⌊50 j ÷ packets⌋ from the first: at or right of `left`
    // from j = ⌈left × packets ÷ 50⌉, at or left of `right` up to
    // j = ⌊((right + 1) × packets − 1) ÷ 50⌋.
    const int64_t low =
        fromLeft <= 0 ? 0 : (fromLeft * perDivision + kDivisionWidth - 1) / kDivisionWidth;
    const int64_t high = ((fromRight + 1) * perDivision - 1) / kDivisionWidth;
    const int64_t lastRecord = static_cast<int64_t>(count) - 1;
    const int64_t firstChosen = first + low, lastChosen = std::min(lastRecord, first + high);
    if (firstChosen > lastChosen) return std::nullopt;
    return RecordSpan{static_cast<uint32_t>(firstChosen), static_cast<uint32_t>(lastChosen)};
}

}  // namespace analyzer
