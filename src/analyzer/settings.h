#pragma once
// The analyzer's settings in the program's profile, every section, key and
// default in one place: "Select" (refusal of ACK and Ping, and the "DisAck"
// box the window never shows ticked) and "Curve" (the packet curve's scales).
// The recorder's settings follow the same pattern.

#include "common/profile.h"

namespace analyzer {

struct RefusalSettings {
    bool refuseAck = false;
    bool refusePing = false;
};

struct CurveScales {
    int voltageScale = 1;  // index of the voltage scale
    int sampleIndex = 0;   // packets per division
    int currentIndex = 0;  // index of the current scale
};

class AnalyzerSettings {
  public:
    explicit AnalyzerSettings(common::Profile& profile) : profile_(profile) {}

    RefusalSettings refusal() const;
    void saveRefusal(const RefusalSettings& settings);
    // An opened capture clears "DisAck".
    void clearDisAck();

    CurveScales curveScales() const;
    void saveCurveScales(const CurveScales& scales);

  private:
    common::Profile& profile_;
};

}  // namespace analyzer
