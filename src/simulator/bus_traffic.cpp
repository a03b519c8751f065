#include "simulator/bus_traffic.h"

#include "common/byte_order.h"
#include "ufcs/wire_format.h"

namespace simulator {
namespace {

using ufcs::DeviceAddress;

constexpr uint8_t kPing = 0x00, kAck = 0x01, kNck = 0x02, kGetOutputCapabilities = 0x06,
                  kGetSourceInfo = 0x07;
constexpr uint8_t kGetSinkInfo = 0x08, kGetErrorInfo = 0x0B;
constexpr uint8_t kRequest = 0x02, kSourceInformation = 0x03, kSinkInformation = 0x04;
constexpr uint8_t kConfigWatchdog = 0x08, kVerifyRequest = 0x0A, kPowerChange = 0x0C,
                  kTestRequest = 0xFF;

void putBe16(std::vector<uint8_t>& bytes, std::size_t at, uint16_t value) {
    common::writeBe16(bytes.data() + at, value);
}

}  // namespace

BusTraffic::BusTraffic(Options options)
    : options_(options), bus_(options.seed, options.eventsPerSecond, options.sequenceFaults) {}

BusEvent BusTraffic::next() {
    while (!bus_.hasEvents())
        scriptNextExchange();
    return bus_.takeEvent();
}

uint64_t BusTraffic::nextTicks() {
    while (!bus_.hasEvents())
        scriptNextExchange();
    return bus_.peekEvent().ticks;
}

void BusTraffic::attach(uint64_t ticks) {
    bus_.attach();
    bus_.catchUpTo(ticks);
    sessionStarted_ = false;
}

// The bus numbers the phone's messages as they go out.
Message BusTraffic::phoneControl(uint8_t command) {
    return ufcs::encodeControlMessage(DeviceAddress::Source, 0, command);
}
Message BusTraffic::phoneData(uint8_t command, const std::vector<uint8_t>& body) {
    return ufcs::encodeDataMessage(DeviceAddress::Source, 0, command, body);
}

void BusTraffic::scriptNextExchange() {
    bus_.pause();
    if (!sessionStarted_) {
        scriptSessionStart();
        return;
    }
    if (pendingFaults_ > 0 || bus_.uniform(0, 9999) < options_.faultRate * 10000) {
        if (pendingFaults_ > 0) --pendingFaults_;
        scriptFault();
        return;
    }
    const uint32_t pick = bus_.uniform(0, 99);
    if (pick < 30)
        bus_.phoneSends(phoneControl(kPing));
    else if (pick < 45)
        scriptRequest();
    else if (pick < 55)
        bus_.phoneSends(phoneControl(kGetSourceInfo));
    else if (pick < 62)
        scriptSinkInfo();
    else if (pick < 68) {
        std::vector<uint8_t> body(2, 0);
        putBe16(body, 0, static_cast<uint16_t>(bus_.uniform(1, 10) * 1000));
        bus_.phoneSends(phoneData(kConfigWatchdog, body));
    } else if (pick < 78)
        scriptVendor();
    else if (pick < 84)
        scriptTestRequest();
    else if (pick < 89) {
        std::vector<uint8_t> body = bus_.randomBytes(17);
        body[0] = static_cast<uint8_t>(bus_.uniform(0, 3));
        bus_.phoneSends(phoneData(kVerifyRequest, body));
    } else if (pick < 93)
        bus_.phoneSends(phoneControl(kGetErrorInfo));
    else if (pick < 97)
        scriptPowerChange();
    else
        scriptHardwareReset();
}

void BusTraffic::scriptSessionStart() {
    sessionStarted_ = true;
    bus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::HandshakeDPlus));
    bus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::HandshakeSourceAnswer));
    bus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::HandshakeDMinus));
    bus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::HandshakeSinkReply));
    bus_.phoneSends(phoneControl(kGetOutputCapabilities));
    scriptRequest();
}

void BusTraffic::scriptRequest() {
    const std::vector<OutputMode>& modes = bus_.charger().modes();
    const OutputMode& mode = modes[bus_.uniform(0, static_cast<uint32_t>(modes.size() - 1))];
    // Now and then the phone asks for more than the mode offers, and the charger refuses.
    const bool impossible = bus_.uniform(0, 9) == 0;
    const uint16_t millivolts =
        impossible ? static_cast<uint16_t>(mode.maxMillivolts + 1000)
                   : static_cast<uint16_t>(
                         bus_.uniform(mode.minMillivolts / 100, mode.maxMillivolts / 100) * 100);
    const uint16_t milliamps =
        static_cast<uint16_t>(bus_.uniform(10, mode.maxMilliamps / 100) * 100);
    std::vector<uint8_t> body(8, 0);
    body[0] = static_cast<uint8_t>(mode.number << 4);
    putBe16(body, 4, static_cast<uint16_t>(millivolts / 10));
    putBe16(body, 6, static_cast<uint16_t>(milliamps / 10));
    bus_.phoneSends(phoneData(kRequest, body));
}

void BusTraffic::scriptSinkInfo() {
    bus_.chargerSends(bus_.charger().control(kGetSinkInfo));
    std::vector<uint8_t> body(8, 0);
    body[2] = static_cast<uint8_t>(50 + bus_.uniform(25, 40));        // battery temperature + 50
    body[3] = static_cast<uint8_t>(50 + bus_.uniform(25, 40));        // port temperature + 50
    putBe16(body, 4, static_cast<uint16_t>(bus_.uniform(360, 430)));  // battery voltage, 10 mV
    putBe16(body, 6, static_cast<uint16_t>(bus_.charger().loadMilliamps() / 10));
    bus_.phoneSends(phoneData(kSinkInformation, body));
}

void BusTraffic::scriptVendor() {
    // Vendor messages are the long ones: up to five capture pages.
    const std::size_t length =
        bus_.uniform(0, 3) == 0 ? bus_.uniform(120, 255) : bus_.uniform(1, 40);
    bus_.phoneSends(
        ufcs::encodeVendorMessage(DeviceAddress::Source, 0, 0x2B1A, bus_.randomBytes(length)));
}

void BusTraffic::scriptTestRequest() {
    std::vector<uint8_t> body = bus_.randomBytes(bus_.uniform(2, 200));
    body[0] = static_cast<uint8_t>(0x80 | (2 << 3) | ufcs::kTypeControl);
    body[1] = kPing;
    bus_.phoneSends(phoneData(kTestRequest, body));
}

void BusTraffic::scriptPowerChange() {
    std::vector<uint8_t> body;
    for (const OutputMode& mode : bus_.charger().modes()) {
        body.push_back(static_cast<uint8_t>(mode.number << 4));
        body.resize(body.size() + 2);
        putBe16(body, body.size() - 2, static_cast<uint16_t>(mode.maxMilliamps * 8 / 100));
    }
    bus_.chargerSends(bus_.charger().data(kPowerChange, body));
}

void BusTraffic::scriptHardwareReset() {
    const bool bySink = bus_.uniform(0, 1) == 0;
    bus_.hardwareReset(static_cast<uint8_t>(bySink ? ufcs::EventKind::ResetSourceDMinus
                                                   : ufcs::EventKind::ResetSinkDPlus));
    // After a reset the pair may agree on another baud rate.
    static constexpr uint8_t kBauds[] = {ufcs::kBaud115200, ufcs::kBaud115200, ufcs::kBaud57600,
                                         ufcs::kBaud38400, ufcs::kBaud19200};
    bus_.setBaudCode(kBauds[bus_.uniform(0, 4)]);
    scriptSessionStart();
}

void BusTraffic::scriptFault() {
    switch (bus_.uniform(0, 5)) {
        case 0: {  // a ping whose CRC was hit on the line: the charger answers NCK
            Message ping = phoneControl(kPing);
            ping.back() ^= 0x5A;
            bus_.phoneSends(std::move(ping));
            break;
        }
        case 1: {  // the charger's ACK of the phone's last message again, cut short
            Message ack =
                ufcs::encodeControlMessage(DeviceAddress::Sink, bus_.lastPhoneNumber(), kAck);
            ack.pop_back();
            bus_.rawFromCharger(std::move(ack));
            break;
        }
        case 2: {  // a ping with a trailing byte: the charger refuses it
            const uint8_t number = bus_.nextPhoneNumber();
            Message ping = ufcs::encodeControlMessage(DeviceAddress::Source, number, kPing);
            ping.push_back(0x00);
            bus_.rawFromPhone(std::move(ping));
            bus_.rawFromCharger(ufcs::encodeControlMessage(DeviceAddress::Sink, number, kNck));
            break;
        }
        case 3:
            bus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::DecodeErrorDPlus));
            break;
        case 4:
            bus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::DecodeErrorDMinus));
            break;
        default: {  // a data message whose length byte does not match what was captured
            std::vector<uint8_t> body(8, 0);
            putBe16(body, 4, static_cast<uint16_t>(bus_.charger().outputMillivolts() / 10));
            Message info = bus_.charger().data(kSourceInformation, body);
            info.insert(info.end() - 1, 0xEE);
            const auto number = static_cast<uint8_t>((info[1] >> 1) & 0x0F);
            bus_.rawFromCharger(std::move(info));
            bus_.rawFromPhone(ufcs::encodeControlMessage(DeviceAddress::Source, number, kNck));
            break;
        }
    }
}

}  // namespace simulator
