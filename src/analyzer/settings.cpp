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

}  // namespace analyzer
