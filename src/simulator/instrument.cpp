#include "simulator/instrument.h"

#include <cstring>

#include "analyzer/replies.h"
#include "device/hid_device.h"

namespace simulator {

Instrument::Instrument(InstrumentSettings settings) : settings_(settings) {}

bool Instrument::plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

void Instrument::unplug() {
    {
        std::lock_guard lock(mutex_);
        plugged_ = false;
        for (Responder* responder : responders_)
            responder->unplugged();
        outbox_.clear();
    }
    wake_.notify_all();
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
        outbox_.push_back(analyzer::calibrationReply(value, index));
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

bool Instrument::emulatingChargingDevice() const {
    std::lock_guard lock(mutex_);
    return analyzer_.emulatingChargingDevice();
}

int Instrument::receive(const uint8_t* frame) {
    {
        std::lock_guard lock(mutex_);
        if (!plugged_) return device::kRemoved;
        LinkReport copy;
        std::memcpy(copy.data(), frame, copy.size());
        received_.push_back(copy);
        if (!answering_) return device::kWritten;
        for (Responder* responder : responders_) {
            if (responder->takeFrame(frame)) break;
        }
    }
    wake_.notify_all();
    return device::kWritten;
}

int Instrument::deliver(uint8_t* report, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::unique_lock lock(mutex_);
    while (true) {
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
        if (answering_) {
            for (const Responder* responder : responders_) {
                if (const auto due = responder->nextDue()) wakeAt = std::min(wakeAt, *due);
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) return device::kTimedOut;
        wake_.wait_until(lock, wakeAt);
    }
}

}  // namespace simulator
