#pragma once
// The analyzer's capture session without its window: connecting to the
// instrument, listening in either operating mode, the status poll, sends,
// removal and failures, and the settings that shape a capture. Everything
// that talks to the instrument is a job on its link (opening, the connect
// exchange and start frames, polls, sends, the stop command and the close);
// reports are read on the link's reader. Every text the window shows reaches
// the listener with its exact words, on the owner's thread; the owner never
// talks to the instrument or waits out one of its pauses.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analyzer/report_dispatch.h"
#include "common/clock.h"
#include "common/event_loop.h"
#include "common/profile.h"
#include "device/hid_device.h"
#include "device/instrument_link.h"
#include "ufcs/capture_intake.h"
#include "ufcs/capture_store.h"
#include "ufcs/decoder.h"

namespace analyzer {

// How a text is appended to the detail pane: 0 and 100 cyan (100 leaves the
// caret at the end), 1 red, 2 yellow.
enum class PaneStyle : int { Normal = 0, Error = 1, Note = 2, NormalAtEnd = 100 };

// How the decoder's pane segments are shown.
constexpr PaneStyle paneStyleOf(ufcs::PaneType type) {
    switch (type) {
        case ufcs::PaneType::Error:
            return PaneStyle::Error;
        case ufcs::PaneType::Note:
            return PaneStyle::Note;
        case ufcs::PaneType::Normal:
            break;
    }
    return PaneStyle::Normal;
}

struct StatusTexts {
    std::string voltage;  // "  %2.2f" volts, for the 电压 box
    std::string current;  // "  %2.2f" amperes, for the 电流 box
    instrument::LiveValues values;
};

inline constexpr const char* kIdleValueText = " ------";
// The instrument refused to start listening, or stopped answering while it listened.
inline constexpr const char* kStartRefusedText = "设备拒绝!";
inline constexpr const char* kInstrumentSilentText = "设备传输中断!";

// Told on the owner's thread (through the event loop), never on the worker's.
class SessionListener {
  public:
    virtual ~SessionListener() = default;
    virtual void onPaneText(const std::string& /*text*/, PaneStyle /*style*/) {}
    virtual void onMessageBox(const std::string& /*text*/) {}
    // A capture is about to start: the list, the tree, the pane and the packet curve start over.
    virtual void onCaptureStarting() {}
    // Listening started (true) or the capture stopped (false).
    virtual void onListeningChanged(bool /*listening*/) {}
    // The store's count grew to `count` (several records may be behind one call).
    virtual void onRecordsAdded(uint32_t /*count*/) {}
    // The capture was cut back to its header.
    virtual void onLostStep() {}
    virtual void onStoreFull(const std::string& /*text*/) {}
    virtual void onStatus(const analyzer::StatusEffects& /*effects*/) {}
    virtual void onCapabilityTable(const instrument::OutputCapabilityTable& /*table*/) {}
    virtual void onStatusTick(const StatusTexts& /*texts*/) {}
};

class Session final : private analyzer::AnalyzerReportListener {
  public:
    Session(device::HidDevice& device, ufcs::CaptureStore& store, common::Profile& profile,
            common::EventLoop& loop, common::Clock& clock, SessionListener& listener);
    ~Session() override;

    // Operating mode: 1 listening, 2 charging-device emulation.
    uint8_t mode() const { return mode_; }
    void setMode(uint8_t mode) { mode_ = mode; }
    bool typeCPort() const { return typeCPort_; }
    void setTypeCPort(bool on) { typeCPort_ = on; }

    // Refusal of ACK and Ping. Opening the settings makes the saved values the running ones.
    bool refuseAck() const { return refuseAck_; }
    bool refusePing() const { return refusePing_; }
    void loadRefusalSettings();
    void saveRefusalSettings(bool refuseAck, bool refusePing);
    void setRefusal(bool refuseAck, bool refusePing);  // for this run only

    // A capture is starting or running, or the instrument is held for the
    // upgrade dialog.
    bool connected() const { return connected_; }
    bool workerRunning() const { return link_.reading(); }
    // A job is running or waiting on the link (tests, and an exit that must
    // know the instrument was left in order).
    bool linkBusy() const { return link_.busy(); }

    // "开始监听" / "停止监听": starts when not connected, stops otherwise.
    void toggleListening();
    // Starts a capture on the link: the open, the connect exchange and the
    // start frames run there; onListeningChanged(true) tells when listening
    // has begun, and an instrument that cannot be opened is told in the pane
    // and by onListeningChanged(false). Always true (kept for callers that
    // started synchronously).
    bool startListening();
    void stopListening();
    // For the upgrade dialog: runs `job` on the link after the jobs before
    // it, with the instrument opened as a capture would open it but without
    // reading, so the dialog's own exchanges are the only reads; `opened` is
    // false (and the pane says why) when it cannot be opened.
    void runWithInstrument(std::function<void(device::HidDevice& device, bool opened)> job);
    // The instrument did not answer the connect exchange: the pane says so and
    // the instrument is released.
    void connectFailed();
    // Ends the capture; with a pause, the stop command goes out first, then the pause.
    void stopCapture(std::optional<std::chrono::milliseconds> stopCommandPause = std::nullopt);
    // The window closes: stop listening and release the instrument.
    void closeAnalyzer();

    uint16_t calibrationValue() const { return calibrationValue_; }
    bool currentCalibrated() const { return calibrationValue_ != kUncalibrated; }
    const instrument::OutputCapabilityTable& capabilityTable() const { return table_; }
    const instrument::LiveValues& liveValues() const { return live_; }
    const std::string& voltageText() const { return voltageText_; }
    const std::string& currentText() const { return currentText_; }

    // Writes the frames of one send 10 ms apart on the link; `done` gets the
    // last write's result (the send's) on the owner's thread.
    void sendFrames(std::vector<device::CommandFrame> frames, std::function<void(int)> done);
    // CPU time the last reader spent, in seconds.
    double workerCpuSeconds() const { return link_.readerCpuSeconds(); }
    // How long the instrument may send nothing while it is polled before the
    // capture ends as interrupted.
    void setSilenceLimit(std::chrono::milliseconds limit) { silenceLimit_ = limit; }

    static constexpr uint16_t kUncalibrated = 0xFFFF;
    static constexpr uint16_t kLargestCalibration = 2000;

  private:
    // On the link: opens the instrument, telling the owner when it cannot.
    bool openOnLink(uint64_t capture);
    void openFailed(const std::string& why);
    void connectOnLink(uint64_t capture, uint8_t mode, bool typeCPort);
    void takeConnectReply(uint64_t capture, const std::optional<device::ConnectReply>& reply,
                          std::promise<bool>& decision);
    void prepareCapture();
    void startReading();
    void announceListening();
    bool sendStartListening(uint8_t mode, bool typeCPort);
    int sendCommand(device::CommandCode code, uint8_t param);
    void checkCalibration();
    void statusTick();
    bool startRefused(const analyzer::StatusEffects& effects);
    void onDeviceRemoved();
    void pane(const std::string& text, PaneStyle style) { listener_.onPaneText(text, style); }
    // Runs `task` on the owner's thread, unless the session is gone by then.
    void postToOwner(std::function<void()> task);

    // Report dispatch, on the worker thread.
    void onRecordTaken(uint32_t count) override;
    void onStatus(const analyzer::StatusEffects& effects) override;
    void onCapabilityTable(const instrument::OutputCapabilityTable& table) override;
    void onLiveValues(const instrument::LiveValues& values) override;
    void onCalibrationResult(const instrument::CalibrationResult& result) override;
    void onStoreFull(std::string_view text) override;
    void onLostStep() override;

    device::HidDevice& device_;
    ufcs::CaptureStore& store_;
    common::Profile& profile_;
    common::EventLoop& loop_;
    common::Clock& clock_;
    SessionListener& listener_;
    ufcs::CaptureIntake intake_;
    analyzer::AnalyzerReportDispatcher dispatcher_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    uint8_t mode_ = device::kModeListening;
    bool typeCPort_ = false;
    bool refuseAck_ = false;
    bool refusePing_ = false;
    bool connected_ = false;
    uint16_t calibrationValue_ = 0;
    uint16_t secondValue_ = 0;
    uint16_t currentRangeMa_ = 0;
    instrument::LiveValues live_;
    instrument::OutputCapabilityTable table_;
    std::string voltageText_ = kIdleValueText;
    std::string currentText_ = kIdleValueText;
    common::TimerId statusTimer_ = 0;
    bool startAnswered_ = false;
    std::chrono::milliseconds silenceLimit_{3000};
    // When the link thread last read a report, in the clock's ticks.
    std::atomic<common::Clock::TimePoint::rep> lastReport_{0};

    std::atomic<bool> recordsNoticePending_{false};
    // Counts the captures (and stops): a job of an earlier one tells the owner nothing.
    std::atomic<uint64_t> captureNumber_{0};
    // Last: its jobs and reader end before the members they use go.
    device::InstrumentLink link_;
};

}  // namespace analyzer
