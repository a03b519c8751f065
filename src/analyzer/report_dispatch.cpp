#include "analyzer/report_dispatch.h"

#include <cstring>

namespace analyzer {

using device::ReplyKind;

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
        std::memcpy(table_.bytes.data() + instrument::kTableHeadBytes, report, device::kReportSize);
        tablePending_ = false;
        listener_.onCapabilityTable(table_);
        return;
    }
    if (device::isReply(report, ReplyKind::Status)) {
        handleStatus(report);
    } else if (device::isReply(report, ReplyKind::LiveValues)) {
        listener_.onLiveValues(instrument::parseLiveValues(report));
    } else if (device::isReply(report, ReplyKind::Calibration)) {
        listener_.onCalibrationResult(instrument::parseCalibrationResult(report));
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
        case instrument::kStatusSendUnavailable:
            effects.disableSendAndModes = true;
            break;
        case instrument::kStatusChargingDevice:
            effects.mode = device::kModeChargingDevice;
            effects.sendConfirmChanged = true;
            effects.sendConfirmEnabled = false;
            effects.startStatusTimer = true;
            break;
        case instrument::kStatusChargingDeviceWithTable:
            effects.mode = device::kModeChargingDevice;
            effects.sendConfirmChanged = true;
            effects.sendConfirmEnabled = true;
            effects.startStatusTimer = true;
            effects.enableSend = true;
            effects.capabilityTableFollows = true;
            startsCapture = !wasCapturing;
            break;
        case instrument::kStatusListening:
            effects.mode = device::kModeListening;
            effects.startStatusTimer = true;
            break;
        case instrument::kStatusTableOnly:
            effects.capabilityTableFollows = true;
            startsCapture = false;
            break;
        default:
            break;
    }
    if (effects.capabilityTableFollows) {
        table_ = instrument::OutputCapabilityTable{};
        table_.modeCount = report[7];
        std::memcpy(table_.bytes.data(), report + 8, instrument::kTableHeadBytes);
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

}  // namespace analyzer
