#include "analyzer/session.h"

#include <chrono>
#include <future>

#include "analyzer/settings.h"
#include "common/format.h"
#include "device/connect_exchange.h"
#include "device/instrument_catalog.h"
#include "ufcs/names.h"

namespace analyzer {
namespace {

using namespace std::chrono_literals;

constexpr auto kStatusPeriod = 250ms;

}  // namespace

Session::Session(device::HidDevice& device, ufcs::CaptureStore& store, common::Profile& profile,
                 common::EventLoop& loop, common::Clock& clock, SessionListener& listener)
    : device_(device),
      store_(store),
      profile_(profile),
      loop_(loop),
      clock_(clock),
      listener_(listener),
      intake_(store, *this),
      dispatcher_(store, intake_, *this),
      link_(device, clock,
            [this](device::InstrumentLink::Job task) { postToOwner(std::move(task)); }) {
    link_.setRemovalHandler([this] { onDeviceRemoved(); });
}

Session::~Session() {
    stopCapture();
    link_.setRemovalHandler(nullptr);
    *alive_ = false;
}

void Session::postToOwner(std::function<void()> task) {
    loop_.post([alive = std::weak_ptr<bool>(alive_), task = std::move(task)] {
        if (auto flag = alive.lock(); flag && *flag) task();
    });
}

void Session::loadRefusalSettings() {
    const RefusalSettings saved = AnalyzerSettings(profile_).refusal();
    refuseAck_ = saved.refuseAck;
    refusePing_ = saved.refusePing;
}

void Session::saveRefusalSettings(bool refuseAck, bool refusePing) {
    setRefusal(refuseAck, refusePing);
    AnalyzerSettings(profile_).saveRefusal({refuseAck, refusePing});
}

void Session::setRefusal(bool refuseAck, bool refusePing) {
    refuseAck_ = refuseAck;
    refusePing_ = refusePing;
}

void Session::sendFrames(std::vector<device::CommandFrame> frames, std::function<void(int)> done) {
    link_.post([this, frames = std::move(frames), done = std::move(done)] {
        int result = device::kWritten;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (i > 0) clock_.sleepFor(10ms);
            result = device_.write(frames[i].data());
        }
        if (done) postToOwner([done, result] { done(result); });
    });
}

int Session::sendCommand(device::CommandCode code, uint8_t param) {
    const device::CommandFrame frame = device::commandFrame(code, param);
    return device_.write(frame.data());
}

void Session::toggleListening() {
    if (connected_)
        stopListening();
    else
        startListening();
}

bool Session::openOnLink(uint64_t capture) {
    if (device_.isOpen()) return true;
    if (device_.open()) {
        // The first free instrument was taken: the pane says which busy ones it passed over.
        if (std::string told = device::passedOverText(device_); !told.empty())
            postToOwner([this, told = std::move(told)] { pane(told + "\r\n", PaneStyle::Normal); });
        return true;
    }
    postToOwner([this, capture, why = device_.errorText()] {
        if (capture == captureNumber_.load()) openFailed(why);
    });
    return false;
}

void Session::openFailed(const std::string& why) {
    const common::LocalTime t = clock_.localTime();
    pane(common::format(
             "\r\n设备连接失败! %d:%02d:%02d \r\n请确认设备已经连上并没有被其它程序占用！\r\n",
             t.hour, t.minute, t.second),
         PaneStyle::NormalAtEnd);
    // The device's own reason (not found, busy, a lock file it cannot use).
    if (!why.empty()) pane("（" + why + "）\r\n", PaneStyle::NormalAtEnd);
    connected_ = false;
    listener_.onListeningChanged(false);
}

void Session::checkCalibration() {
    if (calibrationValue_ == kUncalibrated) {
        pane("未校准电流!\r\n", PaneStyle::Normal);
    } else if (calibrationValue_ > kLargestCalibration) {
        const std::string text = common::format("校准值：%.3f \r\n", calibrationValue_ * 0.001);
        listener_.onMessageBox("电流校准值太大！将会导致测试电流不准确！" + text);
    }
}

void Session::prepareCapture() {
    startAnswered_ = false;
    listener_.onCaptureStarting();
    dispatcher_.resetForCapture();
    ufcs::CaptureHeaderRecord header;
    header.mode = mode_;
    header.currentUncalibrated = !currentCalibrated();
    header.secondValue = secondValue_;
    header.currentRangeMa = currentRangeMa_;
    header.refuseAck = refuseAck_;
    header.refusePing = refusePing_;
    header.writeTo(store_.record(0));
    store_.setCount(1);
    intake_.setRefuseAck(refuseAck_);
    intake_.setRefusePing(refusePing_);
    intake_.setCurrentCalibrated(currentCalibrated());
}

bool Session::startListening() {
    if (connected_) return true;
    connected_ = true;
    const uint64_t capture = ++captureNumber_;
    // The open, the connect exchange and the start frames, with their pauses,
    // run on the link; the owner takes the reply and sets the capture up in between.
    link_.post(
        [this, capture, mode = mode_, typeC = typeCPort_] { connectOnLink(capture, mode, typeC); });
    return true;
}

void Session::runWithInstrument(std::function<void(device::HidDevice&, bool)> job) {
    connected_ = true;
    link_.post([this, capture = captureNumber_.load(), job = std::move(job)] {
        job(device_, openOnLink(capture));
    });
}

void Session::connectOnLink(uint64_t capture, uint8_t mode, bool typeCPort) {
    if (!openOnLink(capture)) return;
    const std::optional<device::ConnectReply> reply = device::connectExchange(device_, clock_);
    auto decision = std::make_shared<std::promise<bool>>();
    std::future<bool> prepared = decision->get_future();
    postToOwner([this, capture, reply, decision] { takeConnectReply(capture, reply, *decision); });
    // Waits for the owner, unless it stops the capture (or goes) meanwhile;
    // the stop's own job then closes the instrument.
    while (prepared.wait_for(20ms) != std::future_status::ready) {
        if (captureNumber_.load() != capture) return;
    }
    if (!prepared.get()) return;
    if (!sendStartListening(mode, typeCPort)) {
        postToOwner([this, capture, reason = device_.errorText()] {
            if (capture != captureNumber_.load()) return;
            pane("下传失败\r\n" + (reason.empty() ? "" : reason + "\r\n") + "下传失败1\r\n",
                 PaneStyle::Normal);
            stopCapture();
        });
        return;
    }
    // Announced before the reader starts, so the owner hears of listening
    // before anything the reader finds (a refused start among it).
    postToOwner([this, capture] {
        if (capture == captureNumber_.load()) announceListening();
    });
    startReading();
}

void Session::connectFailed() {
    const common::LocalTime t = clock_.localTime();
    pane(common::format("连接设备失败! %d:%02d:%02d \r\n", t.hour, t.minute, t.second),
         PaneStyle::Normal);
    stopCapture();
}

void Session::takeConnectReply(uint64_t capture, const std::optional<device::ConnectReply>& reply,
                               std::promise<bool>& decision) {
    if (!connected_ || capture != captureNumber_.load()) {
        decision.set_value(false);
        return;
    }
    if (!reply) {
        decision.set_value(false);
        connectFailed();
        return;
    }
    calibrationValue_ = reply->calibrationValue;
    secondValue_ = reply->secondValue;
    currentRangeMa_ = reply->currentRangeMa;
    checkCalibration();
    // The capture is set up before the link thread reads, so it never sees it half made.
    prepareCapture();
    decision.set_value(true);
}

void Session::announceListening() {
    if (!connected_) return;
    if (!currentCalibrated()) pane("未校准电流!\r\n", PaneStyle::Normal);
    std::string modeLine =
        "模式：" + std::string(ufcs::nameOrEmpty(ufcs::OperatingModeNames, mode_));
    if (refuseAck_) modeLine += " 拒收ACK";
    if (refusePing_) modeLine += " 拒收Ping";
    pane(modeLine + "\r\n", PaneStyle::Normal);
    listener_.onListeningChanged(true);
}

bool Session::sendStartListening(uint8_t mode, bool typeCPort) {
    const bool chargingDevice = mode == device::kModeChargingDevice;
    device::CommandCode first = device::CommandCode::StartListening;
    if (chargingDevice) {
        first = typeCPort ? device::CommandCode::StartChargingDeviceTypeC
                          : device::CommandCode::StartChargingDevice;
    }
    if (sendCommand(first, mode) != device::kWritten) return false;
    clock_.sleepFor(chargingDevice ? 310ms : 10ms);
    return sendCommand(device::CommandCode::StartListening, mode) == device::kWritten &&
           sendCommand(device::CommandCode::StartListening, mode) == device::kWritten;
}

void Session::stopListening() {
    if (connected_) stopCapture(20ms);
}

void Session::closeAnalyzer() {
    if (connected_)
        stopCapture(100ms);
    else
        stopCapture();
}

void Session::startReading() {
    link_.startReading(
        [this](const uint8_t* report) {
            lastReport_.store(clock_.now().time_since_epoch().count(), std::memory_order_relaxed);
            dispatcher_.HandleReport(report);
        },
        [this](const std::string& text) { pane(text, PaneStyle::Normal); });
}

void Session::stopCapture(std::optional<std::chrono::milliseconds> stopCommandPause) {
    if (statusTimer_) loop_.stopTimer(statusTimer_);
    statusTimer_ = 0;
    ++captureNumber_;  // a connect on its way gives up; its late news is dropped
    dispatcher_.stopCapture();
    // On the link, after whatever was posted before: the reading ends, the
    // stop command and its pause go out, and the instrument closes (never
    // during a read). Pages read meanwhile are no longer taken.
    link_.post([this, stopCommandPause] {
        link_.stopReading();
        dispatcher_.stopCapture();
        if (stopCommandPause && device_.isOpen()) {
            sendCommand(device::CommandCode::StopListening, 0);
            clock_.sleepFor(*stopCommandPause);
        }
        device_.close();
    });
    connected_ = false;
    voltageText_ = currentText_ = kIdleValueText;
    table_ = instrument::OutputCapabilityTable{};
    listener_.onListeningChanged(false);
}

void Session::onDeviceRemoved() {
    if (!connected_) return;
    stopCapture();
    pane("设备已经断开!\r\n", PaneStyle::NormalAtEnd);
}

void Session::statusTick() {
    // Polled every tick, an instrument that answers nothing at all has stopped.
    const common::Clock::TimePoint last(
        common::Clock::TimePoint::duration(lastReport_.load(std::memory_order_relaxed)));
    if (clock_.now() - last > silenceLimit_) {
        stopCapture();
        pane(std::string(kInstrumentSilentText) + "\r\n", PaneStyle::NormalAtEnd);
        return;
    }
    voltageText_ = common::format("  %2.2f", live_.busMillivolts * 0.001);
    currentText_ = common::format("  %2.2f", live_.busMilliamps * 0.001);
    listener_.onStatusTick(StatusTexts{voltageText_, currentText_, live_});
    link_.post([this, mode = mode_] { sendCommand(device::CommandCode::StatusPoll, mode); });
}

void Session::onRecordTaken(uint32_t) {
    // One notice at a time in the owner's queue; it reads the count when it runs.
    if (recordsNoticePending_.exchange(true)) return;
    postToOwner([this] {
        recordsNoticePending_ = false;
        listener_.onRecordsAdded(store_.count());
    });
}

void Session::onStatus(const analyzer::StatusEffects& effects) {
    postToOwner([this, effects] {
        if (!connected_ || startRefused(effects)) return;
        if (effects.mode) mode_ = effects.mode;
        if (effects.startStatusTimer && !statusTimer_) {
            lastReport_.store(clock_.now().time_since_epoch().count(), std::memory_order_relaxed);
            statusTimer_ = loop_.startTimer(kStatusPeriod, [this] { statusTick(); });
        }
        listener_.onStatus(effects);
    });
}

// Asked to listen, the instrument answers 0x12 (the recorder's start measuring
// is the same frame, and is refused the same way).
bool Session::startRefused(const analyzer::StatusEffects& effects) {
    if (startAnswered_) return false;
    startAnswered_ = true;
    if (mode_ != device::kModeListening || effects.code == instrument::kStatusListening)
        return false;
    stopCapture(20ms);
    pane(std::string(kStartRefusedText) + "\r\n", PaneStyle::NormalAtEnd);
    return true;
}

void Session::onCapabilityTable(const instrument::OutputCapabilityTable& table) {
    postToOwner([this, table] {
        table_ = table;
        listener_.onCapabilityTable(table);
    });
}

void Session::onLiveValues(const instrument::LiveValues& values) {
    postToOwner([this, values] { live_ = values; });
}

void Session::onCalibrationResult(const instrument::CalibrationResult& result) {
    postToOwner([this, result] {
        const std::string text =
            common::format("校准值%d：%.3f \r\n", result.index, result.value * 0.001);
        pane(text, PaneStyle::NormalAtEnd);
        listener_.onMessageBox(result.value <= kLargestCalibration ? text
                                                                   : "校准失败，值太大！" + text);
        stopCapture();
    });
}

void Session::onStoreFull(std::string_view text) {
    postToOwner([this, message = std::string(text)] {
        listener_.onMessageBox(message);
        listener_.onStoreFull(message);
        stopCapture();
    });
}

void Session::onLostStep() {
    postToOwner([this] {
        // A capture started since has nothing to recover; its list must stay.
        if (!dispatcher_.lostStepPending()) return;
        listener_.onLostStep();
        dispatcher_.recoverFromLostStep();
    });
}

}  // namespace analyzer
