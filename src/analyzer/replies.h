#pragma once
// The analyzer's replies from the instrument, read by the report dispatch and
// written by the simulated instrument: the status reply with its codes and
// the head of the output capability table, live values, calibration result.

#include <array>
#include <cstdint>

#include "device/frames.h"

namespace analyzer {

// Status codes of the status reply (report byte 6).
inline constexpr uint8_t kStatusSendUnavailable = 0x0A;
inline constexpr uint8_t kStatusChargingDevice = 0x10;
inline constexpr uint8_t kStatusChargingDeviceWithTable = 0x11;
inline constexpr uint8_t kStatusListening = 0x12;
inline constexpr uint8_t kStatusTableOnly = 0x13;

// The first 56 bytes of the capability table ride in the status reply (from
// byte 8, the mode count in byte 7), the rest in the next report.
inline constexpr std::size_t kTableHeadBytes = 56;

// Up to 15 output modes of 8 bytes as the instrument reports them.
struct OutputCapabilityTable {
    uint8_t modeCount = 0;
    std::array<uint8_t, 120> bytes{};
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

}  // namespace analyzer
