#pragma once
// The analyzer's replies from the instrument, read by the report dispatch and
// written by the simulated instrument: the status reply with its codes and
// the head of the output capability table, live values, calibration result.

#include <array>
#include <cstdint>

#include "device/frames.h"

namespace instrument {

// Status codes of the status reply (report byte 6).
inline constexpr uint8_t kStatusSendUnavailable = 0x0A;
inline constexpr uint8_t kStatusChargingDevice = 0x10;
inline constexpr uint8_t kStatusChargingDeviceWithTable = 0x11;
inline constexpr uint8_t kStatusListening = 0x12;
inline constexpr uint8_t kStatusTableOnly = 0x13;

// The first 56 bytes of the capability table ride in the status reply (from
// byte 8, the mode count in byte 7), the rest in the next report.
inline constexpr std::size_t kTableHeadBytes = 56;

// One output mode of the charger, 8 bytes as the instrument reports it: the
// step codes (bit 0 set: 20 mV voltage steps, else 10 mV; bits 1-3: current
// steps of (code + 1) × 10 mA), then little-endian the maximum voltage, the
// minimum voltage and the maximum current, and the minimum current in one byte
// (10 mV and 10 mA units).
struct OutputModeEntry {
    static constexpr std::size_t kSize = 8;
    uint8_t stepCodes = 0;
    uint16_t maxVoltage10mV = 0;
    uint16_t minVoltage10mV = 0;
    uint16_t maxCurrent10mA = 0;
    uint8_t minCurrent10mA = 0;

    static OutputModeEntry parse(const uint8_t* bytes);
    void writeTo(uint8_t* bytes) const;
    int voltageStepMillivolts() const { return (stepCodes & 1) ? 20 : 10; }
    int currentStepMilliamps() const { return (((stepCodes >> 1) & 7) + 1) * 10; }
};

// Up to 15 output modes of 8 bytes as the instrument reports them.
struct OutputCapabilityTable {
    static constexpr int kMostEntries = 15;
    uint8_t modeCount = 0;
    std::array<uint8_t, kMostEntries * OutputModeEntry::kSize> bytes{};

    // Entry `index` (0-based; mode number index + 1).
    OutputModeEntry entry(int index) const {
        return OutputModeEntry::parse(bytes.data() + index * OutputModeEntry::kSize);
    }
    // The entries the mode count covers, at most 15.
    int countedEntries() const { return modeCount < kMostEntries ? modeCount : kMostEntries; }
};

struct LiveValues {
    uint16_t busMillivolts = 0;
    uint16_t busMilliamps = 0;
    uint16_t requestedVoltage10mV = 0;
    uint16_t requestedCurrent10mA = 0;
    uint8_t modeNumber = 0;
};

struct CalibrationResult {
    uint16_t value = 0;  // units of 0.001
    uint8_t index = 0;
};

LiveValues parseLiveValues(const uint8_t* report);
CalibrationResult parseCalibrationResult(const uint8_t* report);

device::Report statusReply(uint8_t status, uint8_t modeCount = 0,
                           const uint8_t* tableHead56 = nullptr);
device::Report liveValuesReply(const LiveValues& values);
device::Report calibrationReply(uint16_t value, uint8_t index);

}  // namespace instrument
