#pragma once
// The analyzer's settings in the program's profile, every section, key and
// default in one place: "Select" (refusal of ACK and Ping, and the "DisAck"
// box the window never shows ticked), "Curve" (the packet curve's scales),
// "Checks" (the windows of the timing checks, in microseconds), "List" (what the
// time column counts from). The file
// dialogs' "Files" section is qt_adapters::DialogFolder's, shared by the programs.
// The recorder's settings follow the same pattern.

#include "common/profile.h"
#include "ufcs/sequence_check.h"

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

    // The time column counts from the capture's first record rather than the uptime.
    bool timeFromCaptureStart() const;
    void saveTimeFromCaptureStart(bool fromStart);

    // A window outside 0.2 ms - 60 s is taken as its default.
    ufcs::SequenceWindows checkWindows() const;
    void saveCheckWindows(const ufcs::SequenceWindows& windows);

  private:
    common::Profile& profile_;
};

}  // namespace analyzer
