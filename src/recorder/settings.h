#pragma once
// The recorder's settings in the program's profile, every section, key and
// default in one place: "Setting" (the channels that take samples),
// "CComTime" (the timed stop) and "Save" (the CSV export's options).

#include "common/profile.h"
#include "recorder/sample_document.h"

namespace recorder {

struct TimedStop {
    bool on = false;
    int hours = 0;    // 0-23
    int minutes = 0;  // 0-59
    int seconds() const { return hours * 3600 + minutes * 60; }
};

struct CsvOptions {
    int periodSeconds = 1;  // seconds per row, 1-600
    bool millivolts = false;
    bool milliamps = false;
    bool milliwatts = false;
    bool utf8 = false;         // UTF-8 with a byte-order mark instead of GBK
    bool everySample = false;  // a row per sample (0.1 s), whatever the period
};
inline constexpr int kLeastCsvPeriod = 1;
inline constexpr int kMostCsvPeriod = 600;

// The waveform view's switches and scales.
struct ViewSettings {
    int voltIndex = 8;
    int currentIndex = 15;  // stored up to 17; the view uses at most 11
    int timeIndex = 3;
    bool grid = true;
    bool voltTracking = true;
    bool currentTracking = true;
    bool panorama = true;
    bool secondsOnly = false;  // time texts in seconds only
};

class RecorderSettings {
  public:
    explicit RecorderSettings(common::Profile& profile) : profile_(profile) {}

    // Voltage (channel 0) and current (channel 2) by default.
    ChannelFlags channelsEnabled() const;
    // Not a profile value: a loaded file brings its own.
    static constexpr double samplingPeriod() { return kSamplingPeriodSeconds; }

    TimedStop timedStop() const;
    void saveTimedStop(const TimedStop& timedStop);

    // A stored period outside 1-600 reads as 1.
    CsvOptions csvOptions() const;
    void saveCsvOptions(const CsvOptions& options);

    // With the fix-ups of stored values out of range.
    ViewSettings view() const;
    // Scales, tracking and panorama, as the view leaves them.
    void saveView(const ViewSettings& view);
    void saveTimeIndex(int index);
    void saveGrid(bool shown);

  private:
    common::Profile& profile_;
};

}  // namespace recorder
