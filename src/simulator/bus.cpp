#include "simulator/bus.h"

#include "ufcs/crc8.h"
#include "ufcs/names.h"
#include "ufcs/wire_format.h"

namespace simulator {
namespace {

constexpr uint64_t kTicksPerMs = 5;
using ufcs::control_command::kAck;
using ufcs::control_command::kNck;

bool isAckOrNck(const Message& message) {
    return message.size() == 5 && (message[2] & 0x07) == ufcs::kTypeControl &&
           (message[3] == kAck || message[3] == kNck);
}

}  // namespace

Bus::Bus(uint32_t seed) : rng_(seed), charger_(seed * 7919u + 1) {}

uint32_t Bus::uniform(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(rng_);
}

std::vector<uint8_t> Bus::randomBytes(std::size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(uniform(0, 255));
    return bytes;
}

void Bus::push(uint8_t kind, Message wire) {
    ticks_ += uniform(1, 40) * kTicksPerMs;
    BusEvent event;
    event.kind = kind;
    event.baudCode = baudCode_;
    event.ticks = ticks_;
    event.millivolts = static_cast<uint16_t>(charger_.outputMillivolts() + uniform(0, 40) - 20);
    event.milliamps = static_cast<uint16_t>(charger_.loadMilliamps() + uniform(0, 60));
    event.wire = std::move(wire);
    events_.push_back(std::move(event));
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
        message[1] = static_cast<uint8_t>((message[1] & 0xE1) | ((nextPhoneNumber() & 0x0F) << 1));
        if (crcWasValid) {
            message.back() =
                ufcs::Crc8(message.data() + 1, static_cast<unsigned>(message.size() - 2));
        }
    }
    rawFromPhone(message);
    const std::vector<Message> replies = charger_.answer(message);
    for (const Message& reply : replies) {
        rawFromCharger(reply);
        if (!isAckOrNck(reply)) {
            rawFromPhone(
                ufcs::encodeControlMessage(ufcs::DeviceAddress::Source, nextPhoneNumber(), kAck));
        }
    }
}

void Bus::chargerSends(const Message& message) {
    rawFromCharger(message);
    rawFromPhone(ufcs::encodeControlMessage(ufcs::DeviceAddress::Source, nextPhoneNumber(), kAck));
}

void Bus::rawFromPhone(Message message) {
    push(static_cast<uint8_t>(ufcs::EventKind::MessageDMinus), std::move(message));
}

void Bus::rawFromCharger(Message message) {
    push(static_cast<uint8_t>(ufcs::EventKind::MessageDPlus), std::move(message));
}

void Bus::lineSignal(uint8_t kind) {
    push(kind, {});
}

void Bus::hardwareReset(uint8_t kind) {
    lineSignal(kind);
    charger_.reset();
    phoneNumber_ = 0;
}

}  // namespace simulator
