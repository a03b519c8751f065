#include "simulator/bus_traffic.h"

#include <algorithm>

#include "common/byte_order.h"
#include "ufcs/wire_format.h"

namespace simulator {
namespace {

using ufcs::DeviceAddress;

constexpr uint8_t kPing = 0x00, kAck = 0x01, kNck = 0x02, kAccept = 0x03, kPowerReady = 0x05;
constexpr uint8_t kGetOutputCapabilities = 0x06, kGetSourceInfo = 0x07, kGetSinkInfo = 0x08;
constexpr uint8_t kGetErrorInfo = 0x0B;
constexpr uint8_t kOutputCapabilities = 0x01, kRequest = 0x02, kSourceInformation = 0x03;
constexpr uint8_t kSinkInformation = 0x04, kErrorInformation = 0x07, kConfigWatchdog = 0x08;
constexpr uint8_t kRefuse = 0x09, kVerifyRequest = 0x0A, kVerifyResponse = 0x0B;
constexpr uint8_t kPowerChange = 0x0C, kTestRequest = 0xFF;

constexpr uint64_t kTicksPerMs = 5;

void putBe16(std::vector<uint8_t>& bytes, std::size_t at, uint16_t value) {
    common::writeBe16(bytes.data() + at, value);
}

}  // namespace

std::vector<OutputMode> defaultOutputModes() {
    return {
        {1, 3400, 5500, 100, 3000},
        {2, 5000, 11000, 100, 6000},
        {3, 5000, 21000, 100, 3250},
    };
}

std::vector<uint8_t> outputCapabilityRecords(const std::vector<OutputMode>& modes) {
    std::vector<uint8_t> data;
    for (const OutputMode& mode : modes) {
        const std::size_t at = data.size();
        data.resize(at + 8);
        data[at] = static_cast<uint8_t>(mode.number << 4);  // 10 mA current step, 10 mV voltage step
        putBe16(data, at + 1, static_cast<uint16_t>(mode.maxMillivolts / 10));
        putBe16(data, at + 3, static_cast<uint16_t>(mode.minMillivolts / 10));
        putBe16(data, at + 5, static_cast<uint16_t>(mode.maxMilliamps / 10));
        data[at + 7] = static_cast<uint8_t>(mode.minMilliamps / 10);
    }
    return data;
}

BusTraffic::BusTraffic(Options options)
    : options_(options), rng_(options.seed), modes_(defaultOutputModes()),
      baudCode_(ufcs::kBaud115200) {}

BusEvent BusTraffic::next() {
    while (queue_.empty()) scriptNextExchange();
    BusEvent event = std::move(queue_.front());
    queue_.pop_front();
    return event;
}

uint32_t BusTraffic::uniform(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(rng_);
}

std::vector<uint8_t> BusTraffic::randomBytes(std::size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(uniform(0, 255));
    return bytes;
}

void BusTraffic::push(uint8_t kind, std::vector<uint8_t> wire) {
    ticks_ += uniform(1, 40) * kTicksPerMs;
    BusEvent event;
    event.kind = kind;
    event.baudCode = baudCode_;
    event.ticks = ticks_;
    event.millivolts = static_cast<uint16_t>(busMillivolts_ + uniform(0, 40) - 20);
    event.milliamps = static_cast<uint16_t>(busMilliamps_ + uniform(0, 60));
    event.wire = std::move(wire);
    queue_.push_back(std::move(event));
}

// The source talks on D+ and the sink on D-.
void BusTraffic::fromSource(std::vector<uint8_t> wire) {
    push(static_cast<uint8_t>(ufcs::EventKind::MessageDPlus), std::move(wire));
}
void BusTraffic::fromSink(std::vector<uint8_t> wire) {
    push(static_cast<uint8_t>(ufcs::EventKind::MessageDMinus), std::move(wire));
}
void BusTraffic::lineEvent(uint8_t kind) { push(kind, {}); }

void BusTraffic::ackFromSource() {
    fromSource(ufcs::encodeControlMessage(DeviceAddress::Sink, sourceNumber_++, kAck));
}
void BusTraffic::ackFromSink() {
    fromSink(ufcs::encodeControlMessage(DeviceAddress::Source, sinkNumber_++, kAck));
}

void BusTraffic::scriptNextExchange() {
    if (!sessionStarted_) {
        scriptSessionStart();
        return;
    }
    if (uniform(0, 9999) < options_.faultRate * 10000) {
        scriptFault();
        return;
    }
    const uint32_t pick = uniform(0, 99);
    if (pick < 30) scriptPing();
    else if (pick < 45) scriptRequest();
    else if (pick < 55) scriptSourceInfo();
    else if (pick < 62) scriptSinkInfo();
    else if (pick < 68) scriptWatchdog();
    else if (pick < 78) scriptVendor();
    else if (pick < 84) scriptTestRequest();
    else if (pick < 89) scriptVerify();
    else if (pick < 93) scriptErrorInfo();
    else if (pick < 97) scriptPowerChange();
    else scriptHardwareReset();
}

void BusTraffic::scriptSessionStart() {
    sessionStarted_ = true;
    sourceNumber_ = sinkNumber_ = 0;
    busMillivolts_ = 5000;
    busMilliamps_ = 500;
    lineEvent(static_cast<uint8_t>(ufcs::EventKind::HandshakeDPlus));
    lineEvent(static_cast<uint8_t>(ufcs::EventKind::HandshakeSourceAnswer));
    lineEvent(static_cast<uint8_t>(ufcs::EventKind::HandshakeDMinus));
    lineEvent(static_cast<uint8_t>(ufcs::EventKind::HandshakeSinkReply));
    fromSink(ufcs::encodeControlMessage(DeviceAddress::Source, sinkNumber_++, kGetOutputCapabilities));
    ackFromSource();
    fromSource(ufcs::encodeDataMessage(DeviceAddress::Sink, sourceNumber_++, kOutputCapabilities,
                                       outputCapabilityRecords(modes_)));
    ackFromSink();
    scriptRequest();
}

void BusTraffic::scriptRequest() {
    const OutputMode& mode = modes_[uniform(0, static_cast<uint32_t>(modes_.size() - 1))];
    // Now and then the phone asks for more than the mode offers and is refused.
    const bool impossible = uniform(0, 9) == 0;
    const uint16_t millivolts = impossible ? static_cast<uint16_t>(mode.maxMillivolts + 1000)
                                           : static_cast<uint16_t>(uniform(mode.minMillivolts / 100,
                                                                           mode.maxMillivolts / 100) * 100);
    const uint16_t milliamps = static_cast<uint16_t>(uniform(10, mode.maxMilliamps / 100) * 100);
    std::vector<uint8_t> data(8, 0);
    data[0] = static_cast<uint8_t>(mode.number << 4);
    putBe16(data, 4, static_cast<uint16_t>(millivolts / 10));
    putBe16(data, 6, static_cast<uint16_t>(milliamps / 10));
    const uint8_t requestNumber = sinkNumber_;
    fromSink(ufcs::encodeDataMessage(DeviceAddress::Source, sinkNumber_++, kRequest, data));
    ackFromSource();
    if (impossible) {
        const std::vector<uint8_t> refusal = {static_cast<uint8_t>(requestNumber & 0x0F),
                                              ufcs::kTypeData, kRequest, 4};
        fromSource(ufcs::encodeDataMessage(DeviceAddress::Sink, sourceNumber_++, kRefuse, refusal));
        ackFromSink();
        return;
    }
    fromSource(ufcs::encodeControlMessage(DeviceAddress::Sink, sourceNumber_++, kAccept));
    ackFromSink();
    busMillivolts_ = millivolts;
    busMilliamps_ = static_cast<uint16_t>(milliamps * uniform(60, 95) / 100);
    fromSource(ufcs::encodeControlMessage(DeviceAddress::Sink, sourceNumber_++, kPowerReady));
    ackFromSink();
}

void BusTraffic::scriptPing() {
    fromSink(ufcs::encodeControlMessage(DeviceAddress::Source, sinkNumber_++, kPing));
    ackFromSource();
}

void BusTraffic::scriptSourceInfo() {
    fromSink(ufcs::encodeControlMessage(DeviceAddress::Source, sinkNumber_++, kGetSourceInfo));
    ackFromSource();
    std::vector<uint8_t> data(8, 0);
    data[2] = static_cast<uint8_t>(50 + uniform(25, 45));  // internal temperature + 50
    data[3] = static_cast<uint8_t>(50 + uniform(25, 40));  // port temperature + 50
    putBe16(data, 4, static_cast<uint16_t>(busMillivolts_ / 10));
    putBe16(data, 6, static_cast<uint16_t>(busMilliamps_ / 10));
    fromSource(ufcs::encodeDataMessage(DeviceAddress::Sink, sourceNumber_++, kSourceInformation, data));
    ackFromSink();
}

void BusTraffic::scriptSinkInfo() {
    fromSource(ufcs::encodeControlMessage(DeviceAddress::Sink, sourceNumber_++, kGetSinkInfo));
    ackFromSink();
    std::vector<uint8_t> data(8, 0);
    data[2] = static_cast<uint8_t>(50 + uniform(25, 40));
    data[3] = static_cast<uint8_t>(50 + uniform(25, 40));
    putBe16(data, 4, static_cast<uint16_t>(uniform(360, 430)));  // battery voltage, 10 mV
    putBe16(data, 6, static_cast<uint16_t>(busMilliamps_ / 10));
    fromSink(ufcs::encodeDataMessage(DeviceAddress::Source, sinkNumber_++, kSinkInformation, data));
    ackFromSource();
}

void BusTraffic::scriptWatchdog() {
    std::vector<uint8_t> data(2, 0);
    putBe16(data, 0, static_cast<uint16_t>(uniform(1, 10) * 1000));
    fromSink(ufcs::encodeDataMessage(DeviceAddress::Source, sinkNumber_++, kConfigWatchdog, data));
    ackFromSource();
}

void BusTraffic::scriptVendor() {
    // Vendor messages are the long ones: up to five capture pages.
    const std::size_t length = uniform(0, 3) == 0 ? uniform(120, 255) : uniform(1, 40);
    fromSink(ufcs::encodeVendorMessage(DeviceAddress::Source, sinkNumber_++, 0x2B1A,
                                       randomBytes(length)));
    ackFromSource();
}

void BusTraffic::scriptTestRequest() {
    std::vector<uint8_t> data = randomBytes(uniform(2, 200));
    data[0] = static_cast<uint8_t>(0x80 | (2 << 3) | ufcs::kTypeControl);
    data[1] = kPing;
    fromSink(ufcs::encodeDataMessage(DeviceAddress::Source, sinkNumber_++, kTestRequest, data));
    ackFromSource();
}

void BusTraffic::scriptVerify() {
    std::vector<uint8_t> request = randomBytes(17);
    request[0] = static_cast<uint8_t>(uniform(0, 3));
    fromSink(ufcs::encodeDataMessage(DeviceAddress::Source, sinkNumber_++, kVerifyRequest, request));
    ackFromSource();
    fromSource(ufcs::encodeDataMessage(DeviceAddress::Sink, sourceNumber_++, kVerifyResponse,
                                       randomBytes(48)));
    ackFromSink();
}

void BusTraffic::scriptErrorInfo() {
    fromSink(ufcs::encodeControlMessage(DeviceAddress::Source, sinkNumber_++, kGetErrorInfo));
    ackFromSource();
    std::vector<uint8_t> flags(4, 0);
    if (uniform(0, 3) == 0) flags[3] = static_cast<uint8_t>(1u << uniform(0, 7));
    fromSource(ufcs::encodeDataMessage(DeviceAddress::Sink, sourceNumber_++, kErrorInformation, flags));
    ackFromSink();
}

void BusTraffic::scriptPowerChange() {
    std::vector<uint8_t> data;
    for (const OutputMode& mode : modes_) {
        data.push_back(static_cast<uint8_t>(mode.number << 4));
        data.resize(data.size() + 2);
        putBe16(data, data.size() - 2, static_cast<uint16_t>(mode.maxMilliamps * 8 / 100));
    }
    fromSource(ufcs::encodeDataMessage(DeviceAddress::Sink, sourceNumber_++, kPowerChange, data));
    ackFromSink();
}

void BusTraffic::scriptHardwareReset() {
    const bool bySink = uniform(0, 1) == 0;
    lineEvent(static_cast<uint8_t>(bySink ? ufcs::EventKind::ResetSourceDMinus
                                          : ufcs::EventKind::ResetSinkDPlus));
    // After a reset the pair may agree on another baud rate.
    static constexpr uint8_t kBauds[] = {ufcs::kBaud115200, ufcs::kBaud115200, ufcs::kBaud57600,
                                         ufcs::kBaud38400, ufcs::kBaud19200};
    baudCode_ = kBauds[uniform(0, 4)];
    scriptSessionStart();
}

void BusTraffic::scriptFault() {
    switch (uniform(0, 5)) {
        case 0: {  // a ping whose CRC was hit on the line
            std::vector<uint8_t> wire =
                ufcs::encodeControlMessage(DeviceAddress::Source, sinkNumber_++, kPing);
            wire.back() ^= 0x5A;
            fromSink(std::move(wire));
            fromSource(ufcs::encodeControlMessage(DeviceAddress::Sink, sourceNumber_++, kNck));
            break;
        }
        case 1: {  // a frame cut short
            std::vector<uint8_t> wire =
                ufcs::encodeControlMessage(DeviceAddress::Sink, sourceNumber_++, kAck);
            wire.pop_back();
            fromSource(std::move(wire));
            break;
        }
        case 2: {  // a frame with a trailing byte
            std::vector<uint8_t> wire =
                ufcs::encodeControlMessage(DeviceAddress::Source, sinkNumber_++, kAck);
            wire.push_back(0x00);
            fromSink(std::move(wire));
            break;
        }
        case 3:
            lineEvent(static_cast<uint8_t>(ufcs::EventKind::DecodeErrorDPlus));
            break;
        case 4:
            lineEvent(static_cast<uint8_t>(ufcs::EventKind::DecodeErrorDMinus));
            break;
        default: {  // a data message whose length byte does not match what was captured
            std::vector<uint8_t> data(8, 0);
            putBe16(data, 4, static_cast<uint16_t>(busMillivolts_ / 10));
            std::vector<uint8_t> wire =
                ufcs::encodeDataMessage(DeviceAddress::Sink, sourceNumber_++, kSourceInformation, data);
            wire.insert(wire.end() - 1, 0xEE);
            fromSource(std::move(wire));
            break;
        }
    }
}

}  // namespace simulator
