#include "simulator/instrument.h"

#include <cstdlib>
#include <cstring>

#include "common/format.h"
#include "device/hid_device.h"
#include "instrument/replies.h"

namespace simulator {

Instrument::Instrument(InstrumentSettings settings, common::Clock& clock)
    : clock_(clock), settings_(settings) {}

bool Instrument::plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

void Instrument::unplug() {
    {
        std::lock_guard lock(mutex_);
        unplugLocked();
    }
    wake_.notify_all();
}

void Instrument::unplugLocked() {
    plugged_ = false;
    for (Responder* responder : responders_)
        responder->unplugged();
    outbox_.clear();
}

void Instrument::plugIn() {
    std::lock_guard lock(mutex_);
    plugged_ = true;
}

void Instrument::setAnswering(bool answering) {
    std::lock_guard lock(mutex_);
    answering_ = answering;
}

void Instrument::setCalibrationValue(uint16_t value) {
    std::lock_guard lock(mutex_);
    settings_.calibrationValue = value;
}

void Instrument::setRecordsPerSecond(double rate) {
    std::lock_guard lock(mutex_);
    settings_.recordsPerSecond = rate;
    analyzer_.restartTrafficClock();
}

void Instrument::injectTraffic(std::size_t events) {
    {
        std::lock_guard lock(mutex_);
        analyzer_.injectTraffic(events);
    }
    wake_.notify_all();
}

void Instrument::injectLostPage() {
    {
        std::lock_guard lock(mutex_);
        device::Report page{};
        page[0] = 0x7E;  // not a first page
        outbox_.push_back(page);
    }
    wake_.notify_all();
}

void Instrument::injectFaults(unsigned count) {
    std::lock_guard lock(mutex_);
    analyzer_.injectFaults(count);
}

void Instrument::sendCalibrationResult(uint16_t value, uint8_t index) {
    {
        std::lock_guard lock(mutex_);
        outbox_.push_back(instrument::calibrationReply(value, index));
    }
    wake_.notify_all();
}

std::vector<LinkReport> Instrument::receivedFrames() const {
    std::lock_guard lock(mutex_);
    return received_;
}

void Instrument::clearReceivedFrames() {
    std::lock_guard lock(mutex_);
    received_.clear();
}

uint64_t Instrument::eventsCaptured() const {
    std::lock_guard lock(mutex_);
    return analyzer_.eventsCaptured();
}

bool Instrument::listening() const {
    std::lock_guard lock(mutex_);
    return analyzer_.listening();
}

uint8_t Instrument::outputSwitch() const {
    std::lock_guard lock(mutex_);
    return meter_.outputSwitch();
}

uint16_t Instrument::firmwareVersion() const {
    std::lock_guard lock(mutex_);
    return settings_.firmwareVersion;
}

void Instrument::applyTimedFaults() {
    if (!testStartedAt_) return;
    const auto elapsed = clock_.now() - *testStartedAt_;
    const SimulatedFaults& faults = settings_.faults;
    if (faults.silenceAfter && elapsed >= *faults.silenceAfter) answering_ = false;
    if (faults.unplugAfter && elapsed >= *faults.unplugAfter && plugged_) unplugLocked();
}

bool applyFault(const std::string& text, InstrumentSettings& settings) {
    SimulatedFaults& faults = settings.faults;
    const auto at = text.find('@');
    if (at != std::string::npos) {
        const std::string kind = text.substr(0, at);
        const double seconds = common::parseNumber(text.substr(at + 1)).value_or(-1);
        if (!(seconds >= 0 && seconds < 1e6)) return false;
        const auto after = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
        const auto page = static_cast<uint32_t>(seconds);
        if (kind == "refuse-page" || kind == "unplug-page") {
            if (page != seconds || page == 0 || page > 0xFFFF) return false;
            (kind == "refuse-page" ? faults.refusePage : faults.unplugAtPage) = page;
        } else if (kind == "unplug")
            faults.unplugAfter = after;
        else if (kind == "silence")
            faults.silenceAfter = after;
        else
            return false;
        return true;
    }
    if (text == "misses")
        faults.misses = true;
    else if (text == "wrong-code")
        faults.wrongCode = true;
    else if (text == "refuse-start")
        faults.refuseStart = true;
    else if (text == "silent-burn")
        faults.silentBurn = true;
    else if (text == "drop-ack")
        faults.sequence.dropAck = true;
    else if (text == "repeat-number")
        faults.sequence.repeatNumber = true;
    else if (text == "slow-power-ready")
        faults.sequence.slowPowerReady = true;
    else if (text == "late-ready")
        faults.sequence.charger.lateReady = true;
    else if (text == "output-off")
        faults.sequence.charger.outputOff = true;
    else if (text == "readback-off")
        faults.sequence.charger.readBackOff = true;
    else if (text == "refuse-in-range")
        faults.sequence.charger.refuseInRange = true;
    else if (text == "accept-out-of-range")
        faults.sequence.charger.acceptOutOfRange = true;
    else if (text == "unanswered")
        faults.sequence.charger.unanswered = true;
    else if (text == "slow-ack")
        faults.sequence.charger.slowAck = true;
    else if (text == "skip-number")
        faults.sequence.charger.skipNumber = true;
    else if (text == "uncalibrated")
        settings.calibrationValue = 0xFFFF;
    else
        return false;
    return true;
}

bool Instrument::emulatingChargingDevice() const {
    std::lock_guard lock(mutex_);
    return analyzer_.emulatingChargingDevice();
}

int Instrument::receive(const uint8_t* frame) {
    {
        std::lock_guard lock(mutex_);
        applyTimedFaults();
        if (!plugged_) return device::kRemoved;
        // The first start of listening or measuring starts the timed faults' clock.
        if (!testStartedAt_ && frame[2] == device::kFrameClassCommand && frame[8] == 1)
            testStartedAt_ = clock_.now();
        LinkReport copy;
        std::memcpy(copy.data(), frame, copy.size());
        received_.push_back(copy);
        uint32_t page = 0;
        if (FirmwareResponder::isFirmwarePage(frame, page) &&
            settings_.faults.unplugAtPage == page) {
            unplugLocked();
            return device::kRemoved;
        }
        if (!answering_) return device::kWritten;
        for (Responder* responder : responders_) {
            if (responder->takeFrame(frame)) break;
        }
    }
    wake_.notify_all();
    return device::kWritten;
}

int Instrument::deliver(uint8_t* report, std::chrono::milliseconds wait) {
    const auto deadline = clock_.now() + wait;
    std::unique_lock lock(mutex_);
    while (true) {
        applyTimedFaults();
        if (!plugged_) return device::kRemoved;
        if (answering_) {
            for (Responder* responder : responders_)
                responder->generateDue();
        }
        if (!outbox_.empty() && answering_) {
            report[0] = 0;  // report id
            std::memcpy(report + 1, outbox_.front().data(), outbox_.front().size());
            outbox_.pop_front();
            return device::kDataRead;
        }
        auto wakeAt = deadline;
        if (testStartedAt_ && (settings_.faults.unplugAfter || settings_.faults.silenceAfter)) {
            // A timed fault falls due without a frame to notice it.
            wakeAt = std::min(wakeAt, clock_.now() + std::chrono::milliseconds(20));
        }
        if (answering_) {
            for (const Responder* responder : responders_) {
                if (const auto due = responder->nextDue()) wakeAt = std::min(wakeAt, *due);
            }
        }
        if (clock_.now() >= deadline) return device::kTimedOut;
        clock_.waitUntil(wake_, lock, wakeAt);
    }
}

}  // namespace simulator
