#include "simulator/bus.h"

#include <algorithm>
#include <cmath>

#include "ufcs/crc8.h"
#include "ufcs/names.h"
#include "ufcs/wire_format.h"

namespace simulator {
namespace {

constexpr double kTicksPerSecond = 5000;
constexpr double kNaturalGapTicks = 200;  // 25 events a second
constexpr unsigned kFaultEvery = 8;
using ufcs::control_command::kAck;
using ufcs::control_command::kNck;
using ufcs::control_command::kPowerReady;
using ufcs::control_command::kSoftReset;

bool isAckOrNck(const Message& message) {
    return message.size() == 5 && (message[2] & 0x07) == ufcs::kTypeControl &&
           (message[3] == kAck || message[3] == kNck);
}

}  // namespace

Bus::Bus(uint32_t seed, double eventsPerSecond, SequenceFaults faults)
    : rng_(seed),
      charger_(seed * 7919u + 1, defaultOutputModes(), faults.charger),
      faults_(faults) {
    setEventsPerSecond(eventsPerSecond);
}

void Bus::setEventsPerSecond(double rate) {
    meanGapTicks_ = rate > 0 ? kTicksPerSecond / rate : kNaturalGapTicks;
}

uint32_t Bus::uniform(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(rng_);
}

std::vector<uint8_t> Bus::randomBytes(std::size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(uniform(0, 255));
    return bytes;
}

bool Bus::faultDue(bool enabled, unsigned& chances) {
    return enabled && chances++ % kFaultEvery == 0;
}

namespace {

// What an event does to its line: when it may start after the line was last
// used, and how long it keeps the line afterwards. Packets leave the 2 ms
// the standard asks between two on one line; a handshake's pulses last 12 ms
// and may drop an idle line a millisecond early; a hardware reset holds the
// line low for 2.5 ms (1.25 ms for the cable's).
struct LineUse {
    int line = -1;  // 0: D+, 1: D-, -1: neither
    double leadInSeconds = 0;
    double busySeconds = 0;
};

LineUse lineUse(uint8_t kind, std::size_t bytes, uint8_t baudCode) {
    using ufcs::EventKind;
    constexpr double kPacketIdle = 2.2e-3, kSignalIdle = 1e-3;
    switch (static_cast<EventKind>(kind)) {
        case EventKind::MessageDPlus:
        case EventKind::MessageDMinus: {
            const double seconds = static_cast<double>(ufcs::wireDurationUs(bytes, baudCode)) / 1e6;
            return {kind == 1 ? 0 : 1, 0, seconds + kPacketIdle};
        }
        case EventKind::DecodeErrorDPlus:
        case EventKind::DecodeErrorDMinus:  // a byte the instrument could not read
            return {kind == 0x16 ? 0 : 1, 0,
                    static_cast<double>(ufcs::wireDurationUs(1, baudCode)) / 1e6 + kPacketIdle};
        case EventKind::HandshakeDPlus:
        case EventKind::HandshakeDMinus:
            return {kind == 0xF0 ? 0 : 1, 1e-3, 12e-3 + kSignalIdle};
        case EventKind::HandshakeSourceAnswer:
        case EventKind::HandshakeSinkReply:
            return {kind == 0xF1 ? 0 : 1, 0, kSignalIdle};
        case EventKind::ResetSinkDPlus:
        case EventKind::ResetSourceDMinus:
            return {kind == 0xF4 ? 0 : 1, 0, 2.5e-3};
        case EventKind::ResetCableDPlus:
        case EventKind::ResetCableDMinus:
            return {kind == 0xF6 ? 0 : 1, 0, 1.25e-3 + kSignalIdle};
        default:
            return {};
    }
}

uint64_t ceilTicks(double seconds) {
    return static_cast<uint64_t>(std::ceil(seconds * kTicksPerSecond));
}

}  // namespace

void Bus::push(uint8_t kind, Message wire, Gap gap) {
    static constexpr std::pair<uint32_t, uint32_t> kGapTicks[] = {
        {2, 8}, {10, 60}, {100, 400}, {2000, 4000}, {20, 100}, {75, 80}, {2250, 2300}};
    const auto [low, high] = kGapTicks[static_cast<int>(gap)];
    // Above the natural rate every step shrinks alike, so the rate still holds.
    const double scale = std::min(1.0, meanGapTicks_ / kNaturalGapTicks);
    uint64_t step = static_cast<uint64_t>(uniform(low, high) * scale);
    // An ACK goes out once the message it answers has ended.
    if (gap == Gap::Ack) step += lastWireTicks_;
    // Nothing starts on a line before what went before on it has finished.
    const LineUse use = lineUse(kind, wire.size(), baudCode_);
    if (use.line >= 0) {
        const uint64_t earliest = lineFreeTicks_[use.line] + ceilTicks(use.leadInSeconds);
        if (ticks_ + step < earliest) step = earliest - ticks_;
        lineFreeTicks_[use.line] = ticks_ + step + ceilTicks(use.busySeconds);
    }
    lastWireTicks_ =
        ceilTicks(static_cast<double>(ufcs::wireDurationUs(wire.size(), baudCode_)) / 1e6);
    ticks_ += step;
    pauseDebt_ += meanGapTicks_ - static_cast<double>(step);
    BusEvent event;
    event.kind = kind;
    event.baudCode = baudCode_;
    event.ticks = ticks_;
    event.millivolts = static_cast<uint16_t>(charger_.outputMillivolts() + uniform(0, 40) - 20);
    event.milliamps = static_cast<uint16_t>(charger_.loadMilliamps() + uniform(0, 60));
    event.wire = std::move(wire);
    events_.push_back(std::move(event));
}

void Bus::pause() {
    const double wanted = std::max(0.0, pauseDebt_) * uniform(50, 150) / 100.0;
    const auto step = static_cast<uint64_t>(wanted);
    ticks_ += step;
    pauseDebt_ -= static_cast<double>(step);
}

void Bus::catchUpTo(uint64_t ticks) {
    if (ticks > ticks_) ticks_ = ticks;
    pauseDebt_ = 0;
}

BusEvent Bus::takeEvent() {
    BusEvent event = std::move(events_.front());
    events_.pop_front();
    return event;
}

void Bus::phoneSends(Message message) {
    if (message.size() >= 5) {
        const bool crcWasValid =
            ufcs::Crc8(message.data() + 1, static_cast<unsigned>(message.size() - 2)) ==
            message.back();
        const bool repeat = phoneNumber_ > 0 && faultDue(faults_.repeatNumber, numberChances_);
        const uint8_t number = repeat ? lastPhoneNumber() : nextPhoneNumber();
        message[1] = static_cast<uint8_t>((message[1] & 0xE1) | ((number & 0x0F) << 1));
        if (crcWasValid) {
            message.back() =
                ufcs::Crc8(message.data() + 1, static_cast<unsigned>(message.size() - 2));
        }
    }
    rawFromPhone(message, Gap::Answer);
    const std::vector<Message> replies = charger_.answer(message);
    for (const Message& reply : replies) {
        const bool powerReady =
            reply.size() == 5 && (reply[2] & 0x07) == ufcs::kTypeControl && reply[3] == kPowerReady;
        const ChargerFaults& breaches = charger_.faults();
        Gap gap = isAckOrNck(reply) ? (breaches.slowAck ? Gap::SlowAck : Gap::Ack) : Gap::Answer;
        if (powerReady) {
            // The output has settled to what was granted when Power_Ready goes out.
            const bool late = breaches.lateReady && charger_.grantedVoltage10mV() > 2000;
            gap = late                                                   ? Gap::LateReady
                  : faultDue(faults_.slowPowerReady, powerReadyChances_) ? Gap::SlowPowerReady
                                                                         : Gap::PowerReady;
            charger_.settleOutput();
        }
        rawFromCharger(reply, gap);
        if (!isAckOrNck(reply)) phoneAcks(reply);
    }
    if (message.size() >= 5 && (message[2] & 0x07) == ufcs::kTypeControl &&
        message[3] == kSoftReset)
        phoneNumber_ = 0;
}

void Bus::phoneAcks(const Message& message) {
    if (faultDue(faults_.dropAck, ackChances_)) return;
    const auto number = static_cast<uint8_t>((message[1] >> 1) & 0x0F);
    rawFromPhone(ufcs::encodeControlMessage(ufcs::DeviceAddress::Source, number, kAck), Gap::Ack);
}

void Bus::chargerSends(const Message& message) {
    rawFromCharger(message, Gap::Answer);
    phoneAcks(message);
}

void Bus::rawFromPhone(Message message, Gap gap) {
    push(static_cast<uint8_t>(ufcs::EventKind::MessageDMinus), std::move(message), gap);
}

void Bus::rawFromCharger(Message message, Gap gap) {
    push(static_cast<uint8_t>(ufcs::EventKind::MessageDPlus), std::move(message), gap);
}

void Bus::lineSignal(uint8_t kind) {
    push(kind, {}, Gap::Signal);
}

void Bus::hardwareReset(uint8_t kind) {
    lineSignal(kind);
    charger_.reset();
    phoneNumber_ = 0;
}

void Bus::attach() {
    events_.clear();
    charger_.reset();
    phoneNumber_ = 0;
    ackChances_ = numberChances_ = powerReadyChances_ = 0;
}

}  // namespace simulator
