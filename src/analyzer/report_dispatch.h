#pragma once
// The analyzer's dispatch of what the instrument sends: status, live values
// and calibration replies go to the listener, capture pages to the record
// assembler and intake of the capture store. Runs on the link thread.

#include <atomic>
#include <cstdint>
#include <string_view>

#include "instrument/replies.h"
#include "ufcs/capture_intake.h"
#include "ufcs/capture_store.h"
#include "ufcs/record_assembler.h"

namespace analyzer {

inline constexpr std::string_view kStoreFullText = "数据已爆表！";
inline constexpr std::string_view kLostStepText = "传输页错误！";
// A report arriving for assembly with the count above this fills the store.
inline constexpr uint32_t kStoreFullCount = 65530;

// What a status reply asks of the window.
struct StatusEffects {
    uint8_t code = 0;
    uint8_t mode = 0;                  // the new operating mode, 0 when unchanged
    bool disableSendAndModes = false;  // hide the send and output-modes windows
    bool sendConfirmChanged = false;   // the send window's confirm button ...
    bool sendConfirmEnabled = false;   // ... enabled or disabled
    bool startStatusTimer = false;
    bool enableSend = false;
    bool captureStarted = false;          // capture switched on: the packet curve starts over
    bool capabilityTableFollows = false;  // the next report completes the output capability table
};

// Everything the dispatch has to tell; called on the thread that reads reports.
class AnalyzerReportListener : public ufcs::IntakeListener {
  public:
    virtual void onStatus(const StatusEffects& effects) = 0;
    virtual void onCapabilityTable(const instrument::OutputCapabilityTable& table) = 0;
    virtual void onLiveValues(const instrument::LiveValues& values) = 0;
    virtual void onCalibrationResult(const instrument::CalibrationResult& result) = 0;
    // The store is full; capture is off from now on.
    virtual void onStoreFull(std::string_view text) = 0;
    // A page arrived without its first page. Pages are dropped from now on
    // until the owner calls AnalyzerReportDispatcher::recoverFromLostStep().
    virtual void onLostStep() = 0;
};

class AnalyzerReportDispatcher {
  public:
    AnalyzerReportDispatcher(ufcs::CaptureStore& store, ufcs::CaptureIntake& intake,
                             AnalyzerReportListener& listener)
        : store_(store), intake_(intake), listener_(listener) {}

    // One report of 64 bytes, the report id already skipped.
    void HandleReport(const uint8_t* report);

    // Before a new capture, with no thread reading reports: capture off, no
    // table pending, assembler idle, pages taken.
    void resetForCapture();
    // On the owner's thread after a lost step, once nothing reads the records
    // past the header any more: cuts the capture back to its header, and the
    // reading thread takes pages again. False when no lost step is pending (a
    // new capture started since, or another call recovered already).
    bool recoverFromLostStep();
    bool lostStepPending() const {
        return pageIntake_.load(std::memory_order_acquire) == PageIntake::LostStep;
    }
    void stopCapture() { capturing_.store(false, std::memory_order_release); }
    bool capturing() const { return capturing_.load(std::memory_order_acquire); }

  private:
    // Between a lost step and the owner's recovery the reading thread drops
    // pages, so it never writes a record the owner may be reading.
    enum class PageIntake : uint8_t { Taking, LostStep, Recovered };

    void handleStatus(const uint8_t* report);
    bool takingPages();
    void handleCapturePage(const uint8_t* report);
    void switchCaptureOn();

    ufcs::CaptureStore& store_;
    ufcs::CaptureIntake& intake_;
    AnalyzerReportListener& listener_;
    ufcs::RecordAssembler assembler_;
    std::atomic<bool> capturing_{false};
    std::atomic<PageIntake> pageIntake_{PageIntake::Taking};
    bool tablePending_ = false;
    instrument::OutputCapabilityTable table_;
};

}  // namespace analyzer
