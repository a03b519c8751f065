#include "recorder/settings.h"

#include <string>

#include "recorder/waveform.h"

namespace recorder {
namespace {

constexpr const char* kSetting = "Setting";
constexpr const char* kTimeSection = "CComTime";
constexpr const char* kTimedOn = "m_DingshiSel";
constexpr const char* kTimedHours = "m_DingH";
constexpr const char* kTimedMinutes = "m_DingM";
constexpr const char* kSave = "Save";
constexpr const char* kSavePeriod = "SavePer";
constexpr const char* kSaveVolts = "SaveRadioV";
constexpr const char* kSaveAmps = "SaveRadioA";
constexpr const char* kSavePower = "SaveRadioP";
constexpr const char* kSaveUtf8 = "SaveUtf8";
constexpr const char* kSaveEverySample = "SaveEverySample";
constexpr ChannelFlags kDefaultChannels = {true, false, true, false, false, false, false, false};

}  // namespace

ChannelFlags RecorderSettings::channelsEnabled() const {
    ChannelFlags flags{};
    for (int c = 0; c < kChannelCount; ++c) {
        // The keys are spelled "Chennel" in every profile written so far.
        const std::string key = "Chennel" + std::to_string(c + 1);
        flags[static_cast<std::size_t>(c)] =
            profile_.readInt(kSetting, key, kDefaultChannels[static_cast<std::size_t>(c)]) != 0;
    }
    return flags;
}

TimedStop RecorderSettings::timedStop() const {
    return {profile_.readInt(kTimeSection, kTimedOn, 0) != 0,
            profile_.readInt(kTimeSection, kTimedHours, 0),
            profile_.readInt(kTimeSection, kTimedMinutes, 0)};
}

void RecorderSettings::saveTimedStop(const TimedStop& timedStop) {
    profile_.writeInt(kTimeSection, kTimedOn, timedStop.on ? 1 : 0);
    profile_.writeInt(kTimeSection, kTimedHours, timedStop.hours);
    profile_.writeInt(kTimeSection, kTimedMinutes, timedStop.minutes);
}

CsvOptions RecorderSettings::csvOptions() const {
    CsvOptions options;
    options.periodSeconds = profile_.readInt(kSave, kSavePeriod, 1);
    if (options.periodSeconds < kLeastCsvPeriod || options.periodSeconds > kMostCsvPeriod)
        options.periodSeconds = 1;
    options.millivolts = profile_.readInt(kSave, kSaveVolts, 0) == 1;
    options.milliamps = profile_.readInt(kSave, kSaveAmps, 0) == 1;
    options.milliwatts = profile_.readInt(kSave, kSavePower, 0) == 1;
    options.utf8 = profile_.readInt(kSave, kSaveUtf8, 0) == 1;
    options.everySample = profile_.readInt(kSave, kSaveEverySample, 0) == 1;
    return options;
}

void RecorderSettings::saveCsvOptions(const CsvOptions& options) {
    profile_.writeInt(kSave, kSavePeriod, options.periodSeconds);
    profile_.writeInt(kSave, kSaveVolts, options.millivolts ? 1 : 0);
    profile_.writeInt(kSave, kSaveAmps, options.milliamps ? 1 : 0);
    profile_.writeInt(kSave, kSavePower, options.milliwatts ? 1 : 0);
    profile_.writeInt(kSave, kSaveUtf8, options.utf8 ? 1 : 0);
    profile_.writeInt(kSave, kSaveEverySample, options.everySample ? 1 : 0);
}

namespace {

constexpr const char* kSettings = "Settings";
constexpr const char* kSelect = "Select";
constexpr const char* kOption = "Option";

}  // namespace

ViewSettings RecorderSettings::view() const {
    ViewSettings view;
    view.voltIndex = profile_.readInt(kSettings, "ComboBox1Sel", 8);
    if (view.voltIndex > 11 || view.voltIndex < 0) view.voltIndex = 8;
    view.currentIndex = profile_.readInt(kSettings, "ComboBox3Sel", 15);
    if (view.currentIndex > 17 || view.currentIndex < 0) view.currentIndex = 15;
    view.timeIndex = timeIndexFromProfile(profile_.readInt(kSelect, "TX", -1));
    if (view.timeIndex < 0) view.timeIndex = 3;
    view.grid = profile_.readInt(kSetting, "ShowGrid", -1) != 0;
    view.voltTracking = profile_.readInt(kSettings, "AutoVScoll", 1) != 0;
    view.currentTracking = profile_.readInt(kSettings, "AutoAScoll", 1) != 0;
    view.panorama = profile_.readInt(kSettings, "ATViewAll", 1) != 0;
    if (view.panorama) view.voltTracking = view.currentTracking = false;
    view.secondsOnly = profile_.readInt(kOption, "Time", 0) != 0;
    return view;
}

void RecorderSettings::saveView(const ViewSettings& view) {
    profile_.writeInt(kSettings, "ComboBox1Sel", view.voltIndex);
    profile_.writeInt(kSettings, "ComboBox3Sel", view.currentIndex);
    profile_.writeInt(kSettings, "ATViewAll", view.panorama ? 1 : 0);
    profile_.writeInt(kSettings, "AutoVScoll", view.voltTracking ? 1 : 0);
    profile_.writeInt(kSettings, "AutoAScoll", view.currentTracking ? 1 : 0);
}

void RecorderSettings::saveTimeIndex(int index) {
    profile_.writeInt(kSelect, "TX", timeIndexForProfile(index));
}

void RecorderSettings::saveGrid(bool shown) {
    profile_.writeInt(kSetting, "ShowGrid", shown ? 1 : 0);
}

}  // namespace recorder
