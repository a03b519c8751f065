#include "instrument/meter_link.h"

#include "device/connect_exchange.h"

namespace instrument {

using namespace std::chrono_literals;

MeterLink::MeterLink(device::HidDevice& device, common::Clock& clock, common::EventLoop& owner)
    : device_(device),
      clock_(clock),
      owner_(owner),
      link_(device, clock,
            [&owner](device::InstrumentLink::Job task) { owner.post(std::move(task)); }) {}

MeterLink::~MeterLink() {
    stop();
    // The link's destructor runs the closing sequence before its thread ends.
}

void MeterLink::connect(std::function<void(const Connection&)> done) {
    connecting_ = true;
    const uint32_t attempt = ++attempt_;
    link_.post([this, attempt, done = std::move(done)] {
        const Connection result = connectOnLink();
        owner_.post([this, alive = std::weak_ptr(alive_), attempt, done, result] {
            if (alive.expired()) return;
            if (attempt != attempt_) return;  // stopped meanwhile: the stop closed the device
            connecting_ = false;
            connected_ = result.ok;
            done(result);
        });
    });
}

MeterLink::Connection MeterLink::connectOnLink() {
    Connection result;
    opened_ = device_.open();
    if (!opened_) {
        // The device's own reason (not found, busy, a lock file it cannot use) follows.
        result.message = std::string(kMeterConnectFailed);
        if (const std::string why = device_.errorText(); !why.empty())
            result.message += "\n（" + why + "）";
        return result;
    }
    const auto info = device::connectExchange(device_, clock_);
    if (!info) {
        closeOnLink();
        result.message = std::string(kNoDeviceInfo);
        return result;
    }
    currentCalibrated_ = info->calibrationValue != kUncalibrated;
    result.currentCalibrated = currentCalibrated_;

    uint8_t reply[device::kLinkReportLength]{};
    const bool accepted =
        device_.write(meterRequest(MeterCommand::StartMeasuring).data()) == device::kWritten &&
        device_.read(reply) == device::kDataRead && isStartAccepted(reply + 1);
    if (!accepted) {
        closeOnLink();
        result.message = std::string(kDeviceRefused);
        return result;
    }
    device_.write(outputSwitchRequest(0).data());  // its result is not looked at
    clock_.sleepFor(8ms);
    result.ok = true;
    return result;
}

// StopMeasuring after the last tick's exchange has settled, then the device closes.
void MeterLink::closeOnLink() {
    if (!opened_) return;  // another's, if open at all
    opened_ = false;
    clock_.sleepFor(110ms);
    {
        std::lock_guard lock(pendingMutex_);
        pendingRequest_ = meterRequest(MeterCommand::StopMeasuring);
        pending_ = true;
    }
    sendPending();
    device_.close();
}

void MeterLink::startSampling(std::chrono::milliseconds period, SampleHandler onSample,
                              std::function<void(int)> onFault) {
    arm(std::move(onSample), std::move(onFault));
    // A removal reported for an earlier test must not stop this one.
    link_.setRemovalHandler([this, alive = std::weak_ptr(alive_), test = test_.load()] {
        if (alive.expired()) return;
        if (test == test_.load() && link_.ticking()) raiseFault(kFaultRemoved);
    });
    link_.startTicking(period, [this] { tick(); });
}

void MeterLink::arm(SampleHandler onSample, std::function<void(int)> onFault) {
    {
        std::lock_guard lock(pendingMutex_);
        pending_ = false;  // a test start drops what was queued before it
        pendingRequest_.fill(0);
    }
    onSample_ = std::move(onSample);
    onFault_ = std::move(onFault);
    missed_ = 0;
    ticksWithout_ = 0;
    faulted_ = false;
    test_.fetch_add(1);
}

void MeterLink::stop() {
    link_.stopTicking();
    ++test_;  // a fault or removal still on its way belongs to the test that ended
    link_.post([this] { closeOnLink(); });  // nothing to do unless this link opened it
    ++attempt_;
    connected_ = connecting_ = false;
}

MeterLink::QueueResult MeterLink::queue(const device::CommandFrame& request, bool sendWhenIdle) {
    if (!connected_) return QueueResult::NotConnected;
    {
        std::lock_guard lock(pendingMutex_);
        pendingRequest_ = request;
        pending_ = true;
    }
    if (link_.ticking() || !sendWhenIdle) return QueueResult::AtNextTick;
    link_.post([this] { sendPending(); });
    return QueueResult::SentNow;
}

void MeterLink::sendPending() {
    device::CommandFrame request;
    {
        std::lock_guard lock(pendingMutex_);
        request = pendingRequest_;
        pending_ = false;
        pendingRequest_.fill(0);
    }
    device_.write(request.data());
    clock_.sleepFor(100ms);
}

void MeterLink::raiseFault(int code) {
    if (faulted_.exchange(true)) return;
    owner_.post([this, alive = std::weak_ptr(alive_), code, test = test_.load()] {
        if (alive.expired()) return;
        if (test == test_.load() && onFault_) onFault_(code);
    });
}

bool MeterLink::readSample(bool once) {
    const auto writtenAt = clock_.now();
    uint8_t reply[device::kLinkReportLength];
    do {
        const int result = device_.read(reply);
        if (result == device::kRemoved) return false;
        if (result != device::kDataRead) continue;
        std::optional<MeterSample> sample = parseSampleReply(reply + 1);
        if (!sample) continue;
        if (!currentCalibrated_) sample->milliamps = 0;
        if (!onSample_(*sample)) raiseFault(kFaultStoreFull);
        missed_.store(0, std::memory_order_relaxed);
        return true;
    } while (!once && clock_.now() - writtenAt <= kSampleReadWindow);
    return false;
}

void MeterLink::tick() {
    if (faulted_.load()) return;  // the owner is stopping the test
    const uint32_t missed = missed_.load(std::memory_order_relaxed) + 1;
    missed_.store(missed, std::memory_order_relaxed);
    if (missed > kMostTicksWithoutSample) raiseFault(kFaultNoSamples);  // this tick still runs

    bool sampled = false;
    if (device_.write(meterRequest(MeterCommand::ReadSample).data()) != device::kRemoved)
        sampled = readSample(false);
    bool pending = false;
    {
        std::lock_guard lock(pendingMutex_);
        pending = pending_;
    }
    if (pending) {
        clock_.sleepFor(40ms);
        sendPending();
        sampled = readSample(true) || sampled;
    }
    if (!sampled) ticksWithout_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace instrument
