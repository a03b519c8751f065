#pragma once
// The instrument's side of capture: one bus event laid out as the capture
// pages it sends.

#include <array>
#include <cstdint>
#include <vector>

#include "device/frames.h"
#include "ufcs/capture_record.h"

namespace simulator {

using Report = device::Report;

// One event seen on the bus, as the instrument time-stamps and measures it.
struct BusEvent {
    uint8_t kind = 0;  // an EventKind value
    uint8_t baudCode = ufcs::kBaud115200;
    uint64_t ticks = 0;  // 0.2 ms ticks since the instrument's time base started
    uint16_t millivolts = 0;
    uint16_t milliamps = 0;
    std::vector<uint8_t> wire;  // captured bus bytes, Training byte first (at most 305)
};

inline constexpr uint64_t kTicksPerPeriod = 50000;  // one 10-second period

// The record bytes of an event, split into 1 to 5 pages: page k holds record bytes 64k to 64k+63.
std::vector<Report> capturePages(const BusEvent& event);

}  // namespace simulator
