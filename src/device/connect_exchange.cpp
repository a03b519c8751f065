#include "device/connect_exchange.h"

#include <chrono>

namespace device {

std::optional<ConnectReply> connectExchange(HidDevice& device, common::Clock& clock) {
    using namespace std::chrono_literals;
    const CommandFrame connect = commandFrame(CommandCode::Connect, 0);
    uint8_t reply[kLinkReportLength] = {};
    int result = kTimedOut;
    for (int attempt = 0; attempt < 2; ++attempt) {
        device.write(connect.data());
        clock.sleepFor(20ms);
        result = device.read(reply);
    }
    if (result != kDataRead) return std::nullopt;
    return parseConnectReply(reply + 1);
}

}  // namespace device
