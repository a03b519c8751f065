#pragma once
// The connect exchange every program opens the instrument with: the connect
// command written, 20 ms, a read; then the same again. The instrument answers
// the second, so only a report read the second time counts.

#include <optional>

#include "common/clock.h"
#include "device/frames.h"
#include "device/hid_device.h"

namespace device {

// On an open device, on the thread that owns it before any link thread reads.
// Nothing when the second read brought no report.
std::optional<ConnectReply> connectExchange(HidDevice& device, common::Clock& clock);

}  // namespace device
