#include "simulator/analyzer_responder.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "common/byte_order.h"
#include "device/frames.h"
#include "device/hid_device.h"
#include "instrument/replies.h"
#include "ufcs/crc8.h"
#include "ufcs/names.h"
#include "ufcs/wire_format.h"

namespace simulator {
namespace {

using ufcs::DeviceAddress;

// The most events one read generates, so a late reader catches up in steps.
constexpr uint64_t kMostEventsPerRead = 256;
constexpr uint64_t kMicrosecondsPerTick = 200;

// The phone's messages, before the bus numbers them.
Message control(uint8_t command) {
    return ufcs::encodeControlMessage(DeviceAddress::Source, 0, command);
}
Message data(uint8_t command, const std::vector<uint8_t>& body) {
    return ufcs::encodeDataMessage(DeviceAddress::Source, 0, command, body);
}

BusTraffic::Options trafficOptions(const InstrumentSettings& settings) {
    BusTraffic::Options options(settings.seed, settings.faultRate);
    options.eventsPerSecond = settings.recordsPerSecond;
    options.sequenceFaults = settings.faults.sequence;
    return options;
}

uint8_t baudCodeOf(uint16_t low16) {
    switch (low16) {
        case 0xC200:
            return ufcs::kBaud115200;
        case 0xE100:
            return ufcs::kBaud57600;
        case 0x9600:
            return ufcs::kBaud38400;
        case 0x4B00:
            return ufcs::kBaud19200;
        default:
            return 0;
    }
}

}  // namespace

AnalyzerResponder::AnalyzerResponder(const InstrumentSettings& settings, Outbox& outbox,
                                     common::Clock& clock)
    : Responder(clock),
      settings_(settings),
      outbox_(outbox),
      traffic_(trafficOptions(settings)),
      phoneBus_(settings.seed + 1, 25, settings.faults.sequence),
      timeBase_(now()) {}

uint64_t AnalyzerResponder::instrumentTicks(TimePoint at) const {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(at - timeBase_).count() /
        kMicrosecondsPerTick);
}

Responder::TimePoint AnalyzerResponder::timeOfTicks(uint64_t ticks) const {
    return timeBase_ + std::chrono::microseconds(ticks * kMicrosecondsPerTick);
}

bool AnalyzerResponder::takeFrame(const uint8_t* frame) {
    if (frame[2] == device::kFrameClassCommand) {
        handleCommand(frame[8], frame[9]);
        return true;
    }
    if (frame[2] == device::kFrameClassSend) {
        if (chargingDevice_) handleSend(frame);
        return true;
    }
    return false;
}

void AnalyzerResponder::restartTrafficClock() {
    const TimePoint at = now();
    trafficStart_ = at;
    trafficDue_ = 0;
    traffic_.setEventsPerSecond(settings_.recordsPerSecond);
    traffic_.catchUpTo(instrumentTicks(at));
    nextTrafficAt_ = timeOfTicks(traffic_.nextTicks());
}

void AnalyzerResponder::injectTraffic(std::size_t events) {
    for (std::size_t i = 0; i < events; ++i)
        queueEvent(traffic_.next());
}

std::optional<Responder::TimePoint> AnalyzerResponder::nextDue() const {
    if (!listening_ || settings_.recordsPerSecond <= 0) return std::nullopt;
    if (!chargingDevice_) return nextTrafficAt_;
    return trafficStart_ +
           std::chrono::duration_cast<TimePoint::duration>(
               std::chrono::duration<double>((trafficDue_ + 1) / settings_.recordsPerSecond));
}

void AnalyzerResponder::generateDue() {
    if (!listening_ || settings_.recordsPerSecond <= 0) return;
    const TimePoint at = now();
    if (!chargingDevice_) {
        // Each event goes out when the instrument's clock reaches its time stamp.
        const uint64_t nowTicks = instrumentTicks(at);
        for (uint64_t n = 0; n < kMostEventsPerRead && traffic_.nextTicks() <= nowTicks; ++n)
            queueEvent(traffic_.next());
        nextTrafficAt_ = timeOfTicks(traffic_.nextTicks());
        return;
    }
    const double elapsed = std::chrono::duration<double>(at - trafficStart_).count();
    const auto due = static_cast<uint64_t>(elapsed * settings_.recordsPerSecond);
    for (uint64_t n = 0; trafficDue_ < due && n < kMostEventsPerRead; ++n, ++trafficDue_) {
        // As the phone, the instrument keeps the charger's watchdog fed with pings.
        if (trafficDue_ % 10 == 0) {
            phoneBus_.catchUpTo(instrumentTicks(at));
            phoneBus_.phoneSends(control(ufcs::control_command::kPing));
            drainBus(phoneBus_);
        }
    }
}

void AnalyzerResponder::queueEvent(const BusEvent& event) {
    for (const Report& page : capturePages(event))
        outbox_.push_back(page);
    ++eventsCaptured_;
}

void AnalyzerResponder::drainBus(Bus& bus) {
    while (bus.hasEvents())
        queueEvent(bus.takeEvent());
}

Charger& AnalyzerResponder::activeCharger() {
    return chargingDevice_ ? phoneBus_.charger() : traffic_.charger();
}

device::Report AnalyzerResponder::connectReply() const {
    device::Report report = device::replyHead(device::ReplyKind::Connect);
    std::memcpy(report.data() + 13, settings_.hardwareVersion.data(), 3);
    common::writeBe16(report.data() + 16, settings_.firmwareVersion);
    common::writeBe16(report.data() + 18, settings_.ufcsVersion);
    device::writeConnectReply(
        {settings_.calibrationValue, settings_.secondValue, settings_.currentRangeMa},
        report.data());
    return report;
}

void AnalyzerResponder::handleCommand(uint8_t code, uint8_t param) {
    switch (code) {
        case 1:  // start listening; repeated while already started, it changes nothing
            if (!listening_ && param == 1) startListening();
            break;
        case 2:
            listening_ = chargingDevice_ = false;
            outbox_.clear();
            break;
        case 3: {
            Charger& charger = activeCharger();
            outbox_.push_back(instrument::liveValuesReply(instrument::LiveValues{
                static_cast<uint16_t>(charger.outputMillivolts() + phoneBus_.uniform(0, 30)),
                static_cast<uint16_t>(charger.loadMilliamps() + phoneBus_.uniform(0, 30)),
                charger.grantedVoltage10mV(), charger.grantedCurrent10mA(),
                charger.grantedMode()}));
            break;
        }
        case 4:
            outbox_.push_back(connectReply());
            break;
        case 7:
        case 8:
            if (!listening_) startChargingDevice();
            break;
        default:  // firmware blocks and unknown codes: nothing to answer here
            break;
    }
}

void AnalyzerResponder::startListening() {
    listening_ = true;
    chargingDevice_ = false;
    const TimePoint at = now();
    trafficStart_ = at;
    trafficDue_ = 0;
    // A new capture sees the charger attached afresh: handshakes, then the first negotiation.
    traffic_.attach(instrumentTicks(at));
    nextTrafficAt_ = timeOfTicks(traffic_.nextTicks());
    outbox_.push_back(instrument::statusReply(instrument::kStatusListening));
}

void AnalyzerResponder::startChargingDevice() {
    listening_ = true;
    chargingDevice_ = true;
    trafficStart_ = now();
    trafficDue_ = 0;
    phoneBus_.attach();
    phoneBus_.catchUpTo(instrumentTicks(trafficStart_));
    outbox_.push_back(instrument::statusReply(instrument::kStatusChargingDevice));
    phoneBus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::HandshakeDMinus));
    phoneBus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::HandshakeSinkReply));
    phoneBus_.phoneSends(control(ufcs::control_command::kGetOutputCapabilities));
    drainBus(phoneBus_);
    const std::array<uint8_t, 120> table = phoneBus_.charger().capabilityTable();
    const auto modes = static_cast<uint8_t>(std::min<std::size_t>(
        phoneBus_.charger().modes().size(), instrument::OutputCapabilityTable::kMostEntries));
    outbox_.push_back(
        instrument::statusReply(instrument::kStatusChargingDeviceWithTable, modes, table.data()));
    Report tail{};
    std::memcpy(tail.data(), table.data() + 56, tail.size());
    outbox_.push_back(tail);
}

namespace {

namespace code = device::send_code;
namespace cc = ufcs::control_command;

// Send codes that ask the phone for one control message.
constexpr std::array<std::pair<uint8_t, uint8_t>, 10> kControlSends = {{
    {code::kPing, cc::kPing},
    {code::kSoftReset, cc::kSoftReset},
    {code::kGetOutputCapabilities, cc::kGetOutputCapabilities},
    {code::kGetSourceInfo, cc::kGetSourceInfo},
    {code::kGetCableInfo, cc::kGetCableInfo},
    {code::kGetDeviceInfo, cc::kGetDeviceInfo},
    {code::kGetErrorInfo, cc::kGetErrorInfo},
    {code::kExitUfcsMode, cc::kExitUfcsMode},
    {code::kDetectCableInfo, cc::kDetectCableInfo},
    {code::kStartCableDetect, cc::kStartCableDetect},
}};

// The data message a send frame's payload stands for; nothing for other codes.
std::optional<Message> dataMessageOf(uint8_t sendCode, const uint8_t* payload) {
    namespace dc = ufcs::data_command;
    switch (sendCode) {
        case code::kRequest: {  // current and voltage in 10 mA / 10 mV, little-endian, the mode
            std::vector<uint8_t> body(8, 0);
            body[0] = static_cast<uint8_t>(payload[4] << 4);
            common::writeBe16(body.data() + 4, common::readLe16(payload + 2));
            common::writeBe16(body.data() + 6, common::readLe16(payload));
            return data(dc::kRequest, body);
        }
        case code::kConfigWatchdog: {
            std::vector<uint8_t> body(2);
            common::writeBe16(body.data(), common::readLe16(payload));
            return data(dc::kConfigWatchdog, body);
        }
        case code::kVerifyRequest:
            return data(dc::kVerifyRequest, {payload, payload + 17});
        case code::kVerifyResponse:
            return data(dc::kVerifyResponse, {payload, payload + 48});
        case code::kTestRequest: {  // type, device, voltage-accuracy mode, command, test mode
            const uint8_t flags =
                static_cast<uint8_t>((payload[4] ? 0x80 : 0) | (payload[2] ? 0x40 : 0) |
                                     (((payload[1] + 1) & 7) << 3) | (payload[0] & 7));
            return data(dc::kTestRequest, {flags, payload[3]});
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

void AnalyzerResponder::handleSend(const uint8_t* frame) {
    phoneBus_.catchUpTo(instrumentTicks(now()));
    const uint8_t sendCode = frame[3];
    const uint8_t* payload = frame + 5;
    for (const auto& [sent, command] : kControlSends) {
        if (sent == sendCode) phoneBus_.phoneSends(control(command));
    }
    if (std::optional<Message> message = dataMessageOf(sendCode, payload)) {
        phoneBus_.phoneSends(std::move(*message));
    } else if (sendCode == code::kVendor || sendCode == code::kCustom) {
        takeSegment(frame);
    } else if (sendCode == code::kSetBaudRate) {
        if (const uint8_t baud = baudCodeOf(common::readLe16(payload))) phoneBus_.setBaudCode(baud);
    } else if (sendCode == code::kHardwareReset) {
        phoneBus_.hardwareReset(static_cast<uint8_t>(ufcs::EventKind::ResetSourceDMinus));
        phoneBus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::HandshakeDMinus));
        phoneBus_.lineSignal(static_cast<uint8_t>(ufcs::EventKind::HandshakeSinkReply));
    }
    drainBus(phoneBus_);
}

// A vendor or custom message arrives in segments of 59 message bytes from
// byte 6, byte 5 numbering them from 1; the phone sends it once it is whole.
void AnalyzerResponder::takeSegment(const uint8_t* frame) {
    const bool vendor = frame[3] == code::kVendor;
    const std::size_t total = vendor ? 4u + frame[4] : frame[4] + 3u;
    if (frame[5] == 1) segmented_.clear();
    const std::size_t take =
        std::min(device::kSegmentBytes, total - std::min(total, segmented_.size()));
    segmented_.insert(segmented_.end(), frame + device::kSegmentOffset,
                      frame + device::kSegmentOffset + take);
    if (segmented_.size() < total) return;
    if (vendor) {
        const auto address = static_cast<DeviceAddress>(segmented_[0]);
        const uint16_t vendorId = static_cast<uint16_t>((segmented_[2] << 8) | segmented_[3]);
        phoneBus_.phoneSends(ufcs::encodeVendorMessage(
            address, 0, vendorId, std::vector<uint8_t>(segmented_.begin() + 4, segmented_.end())));
    } else {
        Message message = {ufcs::kTrainingByte};
        message.insert(message.end(), segmented_.begin(), segmented_.end());
        message.push_back(0);
        message.back() = ufcs::Crc8(message.data() + 1, static_cast<unsigned>(message.size() - 2));
        phoneBus_.phoneSends(std::move(message));
    }
    segmented_.clear();
}

}  // namespace simulator
