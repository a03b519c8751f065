#include "device/analyzer_protocol.h"

#include <cstring>

#include "common/byte_order.h"

namespace device {
namespace {

constexpr uint8_t kReplyMarker = 0x55;
constexpr uint8_t kReplyClass = 0x12;
constexpr uint8_t kReplyStatus = 0x11;
constexpr uint8_t kReplyLiveValues = 0x22;
constexpr uint8_t kReplyCalibration = 0x33;

// The first 56 bytes of the capability table ride in the status reply, the rest in the next report.
constexpr std::size_t kTableHeadBytes = 56;

bool isReply(const uint8_t* report, uint8_t kind) {
    return report[0] == kReplyMarker && report[1] == kReplyClass && report[2] == kind;
}

}  // namespace

CommandFrame commandFrame(CommandCode code, uint8_t param) {
    CommandFrame frame{};
    frame[1] = 0x01;
    frame[2] = 0x11;  // frame class: instrument command
    frame[3] = 0x11;
    frame[4] = 0x04;
    frame[5] = 0x01;
    frame[6] = 0x01;
    frame[7] = 0x64;
    frame[8] = static_cast<uint8_t>(code);
    frame[9] = param;
    return frame;
}

ConnectReply parseConnectReply(const uint8_t* report) {
    return ConnectReply{common::readBe16(report + 20), common::readBe16(report + 22),
                        common::readBe16(report + 24)};
}

void AnalyzerReportDispatcher::resetForCapture() {
    capturing_.store(false, std::memory_order_release);
    pageIntake_.store(PageIntake::Taking, std::memory_order_release);
    tablePending_ = false;
    assembler_.reset();
}

bool AnalyzerReportDispatcher::recoverFromLostStep() {
    if (pageIntake_.load(std::memory_order_acquire) != PageIntake::LostStep) return false;
    store_.setCount(1);
    PageIntake lost = PageIntake::LostStep;
    return pageIntake_.compare_exchange_strong(lost, PageIntake::Recovered,
                                               std::memory_order_acq_rel);
}

bool AnalyzerReportDispatcher::takingPages() {
    switch (pageIntake_.load(std::memory_order_acquire)) {
        case PageIntake::Taking:
            return true;
        case PageIntake::LostStep:
            return false;
        case PageIntake::Recovered:
            assembler_.reset();
            pageIntake_.store(PageIntake::Taking, std::memory_order_relaxed);
            return true;
    }
    return false;
}

void AnalyzerReportDispatcher::HandleReport(const uint8_t* report) {
    if (tablePending_) {
        // Whatever it holds, this report is the tail of the capability table.
        std::memcpy(table_.bytes.data() + kTableHeadBytes, report, kReportSize);
        tablePending_ = false;
        listener_.onCapabilityTable(table_);
        return;
    }
    if (isReply(report, kReplyStatus)) {
        handleStatus(report);
    } else if (isReply(report, kReplyLiveValues)) {
        listener_.onLiveValues(
            LiveValues{common::readLe16(report + 10), common::readLe16(report + 12),
                       common::readLe16(report + 14), common::readLe16(report + 16), report[18]});
    } else if (isReply(report, kReplyCalibration)) {
        listener_.onCalibrationResult(CalibrationResult{common::readBe16(report + 7), report[11]});
    } else {
        handleCapturePage(report);
    }
}

void AnalyzerReportDispatcher::handleStatus(const uint8_t* report) {
    StatusEffects effects;
    effects.code = report[6];
    const bool wasCapturing = capturing();
    bool startsCapture = true;
    switch (effects.code) {
        case kStatusSendUnavailable:
            effects.disableSendAndModes = true;
            break;
        case kStatusChargingDevice:
            effects.mode = kModeChargingDevice;
            effects.sendConfirmChanged = true;
            effects.sendConfirmEnabled = false;
            effects.startStatusTimer = true;
            break;
        case kStatusChargingDeviceWithTable:
            effects.mode = kModeChargingDevice;
            effects.sendConfirmChanged = true;
            effects.sendConfirmEnabled = true;
            effects.startStatusTimer = true;
            effects.enableSend = true;
            effects.capabilityTableFollows = true;
            startsCapture = !wasCapturing;
            break;
        case kStatusListening:
            effects.mode = kModeListening;
            effects.startStatusTimer = true;
            break;
        case kStatusTableOnly:
            effects.capabilityTableFollows = true;
            startsCapture = false;
            break;
        default:
            break;
    }
    if (effects.capabilityTableFollows) {
        table_ = OutputCapabilityTable{};
        table_.modeCount = report[7];
        std::memcpy(table_.bytes.data(), report + 8, kTableHeadBytes);
        tablePending_ = true;
    }
    if (startsCapture) {
        switchCaptureOn();
        effects.captureStarted = true;
    }
    listener_.onStatus(effects);
}

void AnalyzerReportDispatcher::switchCaptureOn() {
    capturing_.store(true, std::memory_order_release);
    assembler_.reset();
}

void AnalyzerReportDispatcher::handleCapturePage(const uint8_t* report) {
    if (!capturing() || !takingPages()) return;
    if (store_.count() > kStoreFullCount) {
        // Capture goes off here so the worker reports the full store once, not per page.
        stopCapture();
        listener_.onStoreFull(kStoreFullText);
        return;
    }
    switch (assembler_.addPage(report, store_)) {
        case ufcs::RecordAssembler::Result::Completed:
            intake_.AddCapturedRecord();
            break;
        case ufcs::RecordAssembler::Result::LostStep:
            pageIntake_.store(PageIntake::LostStep, std::memory_order_release);
            listener_.onLostStep();
            break;
        case ufcs::RecordAssembler::Result::NoRoom:
            stopCapture();
            listener_.onStoreFull(kStoreFullText);
            break;
        case ufcs::RecordAssembler::Result::Pending:
            break;
    }
}

}  // namespace device
