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
constexpr const char* kList = "List";
constexpr const char* kTimeFromCapture = "TimeFromCapture";

constexpr int kShortestWindowUs = 200;  // one time-stamp tick
constexpr int kLongestWindowUs = 60'000'000;

uint32_t windowOrDefault(int value, uint32_t fallback) {
    return value >= kShortestWindowUs && value <= kLongestWindowUs ? static_cast<uint32_t>(value)
                                                                   : fallback;
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
    const ufcs::SequenceWindows defaults;
    const auto read = [&](const char* key, uint32_t fallback) {
        return windowOrDefault(profile_.readInt(kChecks, key, static_cast<int>(fallback)),
                               fallback);
    };
    return {read(kAckUs, defaults.ackUs), read(kAnswerUs, defaults.answerUs),
            read(kPowerReadyUs, defaults.powerReadyUs)};
}

void AnalyzerSettings::saveCheckWindows(const ufcs::SequenceWindows& windows) {
    profile_.writeInt(kChecks, kAckUs, static_cast<int>(windows.ackUs));
    profile_.writeInt(kChecks, kAnswerUs, static_cast<int>(windows.answerUs));
    profile_.writeInt(kChecks, kPowerReadyUs, static_cast<int>(windows.powerReadyUs));
}

}  // namespace analyzer
