#include "recorder/meter_link.h"

#include "device/connect_exchange.h"

namespace recorder {

using namespace std::chrono_literals;

MeterLink::MeterLink(device::HidDevice& device, common::Clock& clock, common::EventLoop& owner)
    : device_(device),
      clock_(clock),
      owner_(owner),
      link_(device, clock,
            [&owner](device::LinkWorker::Task task) { owner.post(std::move(task)); }) {}

MeterLink::~MeterLink() {
    link_.stop();
    if (device_.isOpen()) device_.close();
}

MeterLink::Connection MeterLink::connect() {
    Connection result;
    if (!device_.open()) {
        // The device's own reason (not found, busy, a lock file it cannot use) follows.
        result.message = std::string(kMeterConnectFailed);
        if (const std::string why = device_.errorText(); !why.empty())
            result.message += "\n（" + why + "）";
        return result;
    }
    connected_ = true;
    const auto info = device::connectExchange(device_, clock_);
    if (!info) {
        stop();
        result.message = std::string(kNoDeviceInfo);
        return result;
    }
    currentCalibrated_ = info->calibrationValue != instrument::kUncalibrated;
    result.currentCalibrated = currentCalibrated_;

    uint8_t reply[device::kLinkReportLength]{};
    const bool accepted =
        device_.write(instrument::meterRequest(instrument::MeterCommand::StartMeasuring).data()) ==
            device::kWritten &&
        device_.read(reply) == device::kDataRead && instrument::isStartAccepted(reply + 1);
    if (!accepted) {
        stop();
        result.message = std::string(kDeviceRefused);
        return result;
    }
    device_.write(instrument::outputSwitchRequest(0).data());  // its result is not looked at
    clock_.sleepFor(8ms);
    result.ok = true;
    return result;
}

void MeterLink::startSampling(std::chrono::milliseconds period, SampleHandler onSample,
                              std::function<void(int)> onFault) {
    arm(std::move(onSample), std::move(onFault));
    // A removal reported for an earlier test must not stop this one.
    link_.setRemovalHandler([this, test = test_.load()] {
        if (test == test_.load() && link_.running()) raiseFault(kFaultRemoved);
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
    link_.stop();
    if (connected_) {
        clock_.sleepFor(110ms);
        {
            std::lock_guard lock(pendingMutex_);
            pendingRequest_ = instrument::meterRequest(instrument::MeterCommand::StopMeasuring);
            pending_ = true;
        }
        sendPending();
    }
    device_.close();
    connected_ = false;
}

MeterLink::QueueResult MeterLink::queue(const device::CommandFrame& request, bool sendWhenIdle) {
    if (!connected_) return QueueResult::NotConnected;
    {
        std::lock_guard lock(pendingMutex_);
        pendingRequest_ = request;
        pending_ = true;
    }
    if (link_.running() || !sendWhenIdle) return QueueResult::AtNextTick;
    sendPending();
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
    owner_.post([this, code, test = test_.load()] {
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
        std::optional<instrument::MeterSample> sample = instrument::parseSampleReply(reply + 1);
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
    if (device_.write(instrument::meterRequest(instrument::MeterCommand::ReadSample).data()) !=
        device::kRemoved)
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

}  // namespace recorder
