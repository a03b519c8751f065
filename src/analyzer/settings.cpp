#include "analyzer/settings.h"

namespace analyzer {
namespace {

constexpr const char* kSelect = "Select";
constexpr const char* kRefuseAck = "rRefuseAck";
constexpr const char* kRefusePing = "rRefusePing";
constexpr const char* kDisAck = "DisAck";
constexpr const char* kCurve = "Curve";
constexpr const char* kVoltageScale = "YScale";
constexpr const char* kSampleIndex = "XScale";
constexpr const char* kCurrentIndex = "CScale";
constexpr const char* kChecks = "Checks";
constexpr const char* kAckUs = "AckUs";
constexpr const char* kAnswerUs = "AnswerUs";
constexpr const char* kPowerReadyUs = "PowerReadyUs";
constexpr const char* kPowerSupplyUs = "PowerSupplyUs";
constexpr const char* kMessageGapUs = "MessageGapUs";
constexpr const char* kList = "List";
constexpr const char* kTimeFromCapture = "TimeFromCapture";

constexpr int kShortestWindowUs = 200;  // one time-stamp tick
constexpr int kLongestWindowUs = 60'000'000;

std::optional<uint32_t> window(int value) {
    if (value < kShortestWindowUs || value > kLongestWindowUs) return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

RefusalSettings AnalyzerSettings::refusal() const {
    return {profile_.readInt(kSelect, kRefuseAck, 0) != 0,
            profile_.readInt(kSelect, kRefusePing, 0) != 0};
}

void AnalyzerSettings::saveRefusal(const RefusalSettings& settings) {
    profile_.writeInt(kSelect, kRefuseAck, settings.refuseAck ? 1 : 0);
    profile_.writeInt(kSelect, kRefusePing, settings.refusePing ? 1 : 0);
}

void AnalyzerSettings::clearDisAck() {
    profile_.writeInt(kSelect, kDisAck, 0);
}

CurveScales AnalyzerSettings::curveScales() const {
    const CurveScales defaults;
    return {profile_.readInt(kCurve, kVoltageScale, defaults.voltageScale),
            profile_.readInt(kCurve, kSampleIndex, defaults.sampleIndex),
            profile_.readInt(kCurve, kCurrentIndex, defaults.currentIndex)};
}

void AnalyzerSettings::saveCurveScales(const CurveScales& scales) {
    profile_.writeInt(kCurve, kSampleIndex, scales.sampleIndex);
    profile_.writeInt(kCurve, kCurrentIndex, scales.currentIndex);
    profile_.writeInt(kCurve, kVoltageScale, scales.voltageScale);
}

bool AnalyzerSettings::timeFromCaptureStart() const {
    return profile_.readInt(kList, kTimeFromCapture, 0) != 0;
}

void AnalyzerSettings::saveTimeFromCaptureStart(bool fromStart) {
    profile_.writeInt(kList, kTimeFromCapture, fromStart ? 1 : 0);
}

ufcs::SequenceWindows AnalyzerSettings::checkWindows() const {
    // A key that is absent or out of range leaves the standard's limit.
    const auto read = [&](const char* key) { return window(profile_.readInt(kChecks, key, 0)); };
    ufcs::SequenceWindows windows;
    windows.ackUs = read(kAckUs).value_or(windows.ackUs);
    windows.answerUs = read(kAnswerUs).value_or(windows.answerUs);
    windows.powerReadyUs = read(kPowerReadyUs);
    windows.powerSupplyUs = read(kPowerSupplyUs).value_or(windows.powerSupplyUs);
    windows.messageGapUs = read(kMessageGapUs).value_or(windows.messageGapUs);
    return windows;
}

void AnalyzerSettings::saveCheckWindows(const ufcs::SequenceWindows& windows) {
    profile_.writeInt(kChecks, kAckUs, static_cast<int>(windows.ackUs));
    profile_.writeInt(kChecks, kAnswerUs, static_cast<int>(windows.answerUs));
    // 0 leaves Power_Ready to tPowReady of each voltage.
    profile_.writeInt(kChecks, kPowerReadyUs, static_cast<int>(windows.powerReadyUs.value_or(0)));
    profile_.writeInt(kChecks, kPowerSupplyUs, static_cast<int>(windows.powerSupplyUs));
    profile_.writeInt(kChecks, kMessageGapUs, static_cast<int>(windows.messageGapUs));
}

}  // namespace analyzer
