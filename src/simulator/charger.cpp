#include "simulator/charger.h"

#include "common/byte_order.h"
#include "instrument/replies.h"
#include "ufcs/crc8.h"
#include "ufcs/names.h"
#include "ufcs/wire_format.h"

namespace simulator {
namespace {

using ufcs::DeviceAddress;

using namespace ufcs::control_command;
using namespace ufcs::data_command;
constexpr uint8_t kExitUfcs = kExitUfcsMode;
constexpr uint8_t kReasonUnsupported = 2, kReasonOutOfRange = 4;

void putBe16(std::vector<uint8_t>& bytes, std::size_t at, uint16_t value) {
    common::writeBe16(bytes.data() + at, value);
}

bool crcValid(const Message& message) {
    return message.size() >= 5 &&
           ufcs::Crc8(message.data() + 1, static_cast<unsigned>(message.size() - 2)) ==
               message.back();
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
        data[at] =
            static_cast<uint8_t>(mode.number << 4);  // 10 mA current step, 10 mV voltage step
        putBe16(data, at + 1, static_cast<uint16_t>(mode.maxMillivolts / 10));
        putBe16(data, at + 3, static_cast<uint16_t>(mode.minMillivolts / 10));
        putBe16(data, at + 5, static_cast<uint16_t>(mode.maxMilliamps / 10));
        data[at + 7] = static_cast<uint8_t>(mode.minMilliamps / 10);
    }
    return data;
}

Charger::Charger(uint32_t seed, std::vector<OutputMode> modes, ChargerFaults faults)
    : modes_(std::move(modes)), faults_(faults), rng_(seed) {}

uint8_t Charger::nextNumber() {
    if (faults_.skipNumber && ++messagesSent_ == 3) ++messageNumber_;
    return messageNumber_++;
}

uint32_t Charger::uniform(uint32_t low, uint32_t high) {
    return std::uniform_int_distribution<uint32_t>(low, high)(rng_);
}

Message Charger::control(uint8_t command) {
    return ufcs::encodeControlMessage(DeviceAddress::Sink, nextNumber(), command);
}

Message Charger::data(uint8_t command, const std::vector<uint8_t>& body) {
    return ufcs::encodeDataMessage(DeviceAddress::Sink, nextNumber(), command, body);
}

void Charger::reset() {
    messageNumber_ = 0;
    outputMillivolts_ = 5000;
    loadMilliamps_ = pendingLoadMilliamps_ = 500;
    grantedVoltage10mV_ = 500;
    grantedCurrent10mA_ = 300;
    grantedMode_ = 1;
}

std::array<uint8_t, 120> Charger::capabilityTable() const {
    std::array<uint8_t, 120> table{};
    for (std::size_t i = 0; i < modes_.size() && i < 15; ++i) {
        const OutputMode& mode = modes_[i];
        // 10 mV voltage steps, 10 mA current steps.
        instrument::OutputModeEntry{0, static_cast<uint16_t>(mode.maxMillivolts / 10),
                                    static_cast<uint16_t>(mode.minMillivolts / 10),
                                    static_cast<uint16_t>(mode.maxMilliamps / 10),
                                    static_cast<uint8_t>(mode.minMilliamps / 10)}
            .writeTo(table.data() + i * instrument::OutputModeEntry::kSize);
    }
    return table;
}

Message Charger::acknowledge(const Message& fromPhone, uint8_t command) const {
    const auto number = static_cast<uint8_t>(fromPhone.size() > 1 ? (fromPhone[1] >> 1) & 0x0F : 0);
    return ufcs::encodeControlMessage(DeviceAddress::Sink, number, command);
}

void Charger::settleOutput() {
    outputMillivolts_ =
        static_cast<uint16_t>(grantedVoltage10mV_ * 10 + (faults_.outputOff ? 1000 : 0));
    loadMilliamps_ = pendingLoadMilliamps_;
}

std::vector<Message> Charger::answer(const Message& fromPhone) {
    if (!crcValid(fromPhone)) return {acknowledge(fromPhone, kNck)};
    const uint8_t type = fromPhone[2] & 0x07;
    const uint8_t command = fromPhone[3];
    std::vector<Message> replies = {acknowledge(fromPhone, kAck)};
    if (type == ufcs::kTypeVendor) return replies;
    if (type == ufcs::kTypeControl) {
        switch (command) {
            case kPing:
                break;
            case kSoftReset:
                reset();
                replies.push_back(control(kAccept));
                break;
            case kGetOutputCapabilities:
                replies.push_back(data(kOutputCapabilities, outputCapabilityRecords(modes_)));
                break;
            case kGetSourceInfo: {
                std::vector<uint8_t> body(8, 0);
                body[2] = static_cast<uint8_t>(50 + uniform(25, 45));  // internal temperature + 50
                body[3] = static_cast<uint8_t>(50 + uniform(25, 40));  // port temperature + 50
                const int reported = outputMillivolts_ + (faults_.readBackOff ? 300 : 0);
                putBe16(body, 4, static_cast<uint16_t>(reported / 10));
                putBe16(body, 6, static_cast<uint16_t>(loadMilliamps_ / 10));
                replies.push_back(data(kSourceInformation, body));
                break;
            }
            case kGetDeviceInfo:
                if (faults_.unanswered) break;
                replies.push_back(data(kDeviceInformation, {0, 0, 0, 0, 0x01, 0x02, 0x03, 0x10}));
                break;
            case kGetErrorInfo:
                replies.push_back(data(kErrorInformation, {0, 0, 0, 0}));
                break;
            case kExitUfcs:
                reset();
                break;
            default:  // questions for the phone or the cable, which a charger does not answer
                replies.push_back(data(kRefuse, {static_cast<uint8_t>((fromPhone[1] >> 1) & 0x0F),
                                                 ufcs::kTypeControl, command, kReasonUnsupported}));
        }
        return replies;
    }
    switch (command) {
        case kRequest:
            answerRequest(fromPhone, replies);
            break;
        case kConfigWatchdog:
        case kTestRequest:
            break;
        case kVerifyRequest: {
            std::vector<uint8_t> body(48);
            for (uint8_t& byte : body)
                byte = static_cast<uint8_t>(uniform(0, 255));
            replies.push_back(data(kVerifyResponse, body));
            break;
        }
        default:
            replies.push_back(data(kRefuse, {static_cast<uint8_t>((fromPhone[1] >> 1) & 0x0F),
                                             ufcs::kTypeData, command, kReasonUnsupported}));
    }
    return replies;
}

void Charger::answerRequest(const Message& request, std::vector<Message>& replies) {
    const bool wellFormed = request.size() == 14 && request[4] == 8;
    const unsigned modeNumber = wellFormed ? request[5] >> 4 : 0;
    const uint16_t voltage10mV = wellFormed ? common::readBe16(request.data() + 9) : 0;
    const uint16_t current10mA = wellFormed ? common::readBe16(request.data() + 11) : 0;
    const OutputMode* mode =
        modeNumber >= 1 && modeNumber <= modes_.size() ? &modes_[modeNumber - 1] : nullptr;
    const bool inRange = mode && voltage10mV * 10u >= mode->minMillivolts &&
                         voltage10mV * 10u <= mode->maxMillivolts &&
                         current10mA * 10u >= mode->minMilliamps &&
                         current10mA * 10u <= mode->maxMilliamps;
    const bool refusedAnyway =
        inRange && faults_.refuseInRange && voltage10mV * 10u == mode->maxMillivolts;
    const bool possible =
        (inRange && !refusedAnyway) || (mode && faults_.acceptOutOfRange && !inRange);
    if (!possible) {
        replies.push_back(data(kRefuse, {static_cast<uint8_t>((request[1] >> 1) & 0x0F),
                                         ufcs::kTypeData, kRequest, kReasonOutOfRange}));
        return;
    }
    replies.push_back(control(kAccept));
    grantedMode_ = static_cast<uint8_t>(modeNumber);
    grantedVoltage10mV_ = voltage10mV;
    grantedCurrent10mA_ = current10mA;
    pendingLoadMilliamps_ = static_cast<uint16_t>(current10mA * 10 * uniform(60, 95) / 100);
    replies.push_back(control(kPowerReady));
}

}  // namespace simulator
