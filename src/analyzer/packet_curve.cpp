#include "analyzer/packet_curve.h"

#include <algorithm>

#include "common/format.h"

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

PacketCurveState::PacketCurveState(int voltageScale, int sampleIndex, int currentIndex)
    : voltageScale_(std::clamp(voltageScale, 1, kLargestVoltageScale)),
      sampleIndex_(std::clamp(sampleIndex, 0, static_cast<int>(kPacketsPerDivision.size()) - 1)),
      currentIndex_(std::clamp(currentIndex, 0, static_cast<int>(kAmpsPerDivision.size()) - 1)) {}

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

CurveFrame PacketCurveState::frame(const ufcs::CaptureStore& store, uint32_t count,
                                   const CurveGeometry& geometry, uint16_t currentRangeMa) const {
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
    const bool uncalibrated = count >= 1 && store.record(0).at(1) == 1;
    if (uncalibrated)
        label("本次测试未校准电流，电流值设置为0!", width / 2, 575, Align::Centre, Colour::Green,
              true);
    const int packets = packetsPerDivision();
    for (int i = 0; i < width / kDivisionWidth; ++i) {
        std::string text = common::format("%d", (i + position_) * packets);
        if (text.size() >= 5 && i % 2 != 0) continue;
        label(std::move(text), kDivisionWidth * i, -15, Align::Centre, Colour::Grey, true);
    }
    label("(序号)", width + 20, -15, Align::Left, Colour::Grey, true);

    frame.voltageFirst = voltageChangedLast_;
    if (count <= 1) return frame;
    const uint32_t first = firstRecord();
    if (first > count) return frame;
    const int firstX = firstColumn();
    const uint32_t extra = position_ == 0 ? 0 : 1;
    const uint32_t points = std::min<uint32_t>(
        count - first, static_cast<uint32_t>(packets * geometry.divisionsShown()) + extra);
    plot::ColumnReducer voltage(frame.voltage.points);
    plot::ColumnReducer current(frame.current.points);
    const double amps = ampsPerDivision();
    for (uint32_t j = 0; j < points; ++j) {
        const ufcs::ConstCaptureRecord record = store.record(first + j);
        const int x =
            firstX + static_cast<int>(kDivisionWidth * j / static_cast<uint32_t>(packets));
        voltage.add(x, voltageY(record.voltage(), voltageScale_));
        current.add(x, currentY(record.current(), amps));
    }
    voltage.flush();
    current.flush();
    return frame;
}

uint32_t PacketCurveState::firstRecord() const {
    return position_ == 0 ? 1 : static_cast<uint32_t>(position_) * packetsPerDivision();
}

int PacketCurveState::firstColumn() const {
    return position_ == 0 ? kDivisionWidth / packetsPerDivision() : 0;
}

void PacketCurveState::fit(const ufcs::CaptureStore& store, uint32_t count,
                           const CurveGeometry& geometry) {
    const uint32_t records = count > 1 ? count - 1 : 0;
    uint16_t highestMv = 0, highestMa = 0;
    for (uint32_t index = 1; index < count; ++index) {
        const ufcs::ConstCaptureRecord record = store.record(index);
        if (!ufcs::isMessageKind(record.kind()) && !ufcs::isLineSignalKind(record.kind())) continue;
        highestMv = std::max(highestMv, record.voltage());
        highestMa = std::max(highestMa, record.current());
    }
    // Five of the six divisions hold the highest value, leaving a margin at the top.
    const int topDivisions = 5;
    sampleIndex_ = static_cast<int>(kPacketsPerDivision.size()) - 1;
    for (std::size_t i = 0; i < kPacketsPerDivision.size(); ++i) {
        if (records <=
            static_cast<uint32_t>(kPacketsPerDivision[i] * (geometry.divisionsShown() - 1))) {
            sampleIndex_ = static_cast<int>(i);
            break;
        }
    }
    voltageScale_ = std::clamp((highestMv + topDivisions * 1000 - 1) / (topDivisions * 1000), 1,
                               kLargestVoltageScale);
    currentIndex_ = static_cast<int>(kAmpsPerDivision.size()) - 1;
    for (std::size_t i = 0; i < kAmpsPerDivision.size(); ++i) {
        if (highestMa <= kAmpsPerDivision[i] * 1000 * topDivisions) {
            currentIndex_ = static_cast<int>(i);
            break;
        }
    }
    position_ = 0;
    follow_ = false;
    clampPosition();
}

std::optional<PacketCurveState::Reading> PacketCurveState::readingAt(
    int plotX, const ufcs::CaptureStore& store, uint32_t count,
    const CurveGeometry& geometry) const {
    if (plotX < 0 || plotX > geometry.plotWidth() || count <= 1) return std::nullopt;
    const int packets = packetsPerDivision();
    const int offset = plotX - firstColumn();
    if (offset < -kDivisionWidth / packets / 2) return std::nullopt;
    const auto step = static_cast<uint32_t>(
        std::max(0, (offset * packets + kDivisionWidth / 2) / kDivisionWidth));
    const uint32_t record = firstRecord() + step;
    if (record >= count) return std::nullopt;
    const ufcs::ConstCaptureRecord chosen = store.record(record);
    return Reading{record, chosen.voltage(), chosen.current()};
}

}  // namespace analyzer
