#pragma once
// The recorder's requests to the instrument and the checks on its replies.
// They share the command frame of every program (device/frames.h): the
// meter's commands are the instrument's codes 1-4 seen from the recorder,
// and its device-information request is the connect command itself.

#include <cstdint>
#include <optional>

#include "device/frames.h"

namespace instrument {

enum class MeterCommand : uint8_t {
    StartMeasuring = 1,
    StopMeasuring = 2,
    ReadSample = 3,
    ReadDeviceInfo = 4,
};

// Byte 5 of a request: 0x04 asks for a sample, 0x01 for everything else.
inline constexpr uint8_t kSampleRequestClass = 0x04;
// Byte 6 of a reply.
inline constexpr uint8_t kSampleReplyCode = 0x03;
inline constexpr uint8_t kStartAcceptedCode = 0x12;
inline constexpr uint8_t kSampleReplyMarker = 0x55;

device::CommandFrame meterRequest(MeterCommand command);
// The output switch (0 off, 1 on) and the module status query: requests with
// report id 1, whose replies are never used.
device::CommandFrame outputSwitchRequest(uint8_t state);
device::CommandFrame moduleStatusQuery();

struct MeterSample {
    uint16_t millivolts = 0;
    uint16_t milliamps = 0;
};

// A sample reply: byte 0 0x55, byte 6 0x03, voltage and current little-endian at 10 and 12.
std::optional<MeterSample> parseSampleReply(const uint8_t* reply);
bool isStartAccepted(const uint8_t* reply);
// The calibration word of a device-information reply (bytes 20-21, big-endian).
uint16_t calibrationWord(const uint8_t* reply);
inline constexpr uint16_t kUncalibrated = 0xFFFF;

// Replies as the instrument sends them, for the simulated instrument.
device::Report sampleReply(MeterSample sample, uint8_t code = kSampleReplyCode);

}  // namespace instrument
