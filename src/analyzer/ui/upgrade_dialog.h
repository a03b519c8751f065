#pragma once
// "升级": the analyzer's upgrade dialog. Its program group checks for a newer
// analyzer and hands over to the updater; its firmware group reads the
// instrument's versions, asks for newer firmware, downloads it and transfers
// it page by page. Downloads run off the window thread, the connect exchange
// and the transfer on the instrument's link; the transfer cannot be cancelled
// once its header is out, and the dialog then stays until it ends.

#include <QDialog>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "analyzer/session.h"
#include "qt/qt_event_loop.h"
#include "qt/upgrade/program_update.h"
#include "qt/wake_lock.h"
#include "upgrade/upgrade_flow.h"

namespace net {
class HttpDownload;
}

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace analyzer::ui {

class UpgradeDialog final : public QDialog {
    Q_OBJECT
  public:
    UpgradeDialog(Session& session, common::Clock& clock, const upgrade::UpgradeSettings& settings,
                  const QString& programDir, QWidget* parent = nullptr);
    ~UpgradeDialog() override;

    // The steps of opening: the program check, the instrument, the firmware check.
    void start();

    qt_adapters::ProgramUpdate& programUpdate() { return *programUpdate_; }
    // Asked before unsigned firmware is downloaded (no key set), as for the program.
    void setUnsignedConsent(std::function<bool(const std::string& server)> consent) {
        firmwareConsent_ = consent;
        programUpdate_->setUnsignedConsent(std::move(consent));
    }
    QLabel* programLatest() const { return programLatest_; }
    QPushButton* programButton() const { return programButton_; }
    QLabel* firmwareCurrent() const { return firmwareCurrent_; }
    QLabel* firmwareLatest() const { return firmwareLatest_; }
    QLabel* hardwareLabel() const { return hardwareLabel_; }
    QLabel* ufcsLabel() const { return ufcsLabel_; }
    QPushButton* firmwareButton() const { return firmwareButton_; }
    QLabel* firmwareStatus() const { return firmwareStatus_; }
    QProgressBar* firmwareProgress() const { return firmwareProgress_; }
    bool transferring() const { return transferring_; }
    bool checking() const { return checksPending_ > 0; }

  signals:
    void programHandedOver();
    void message(const QString& text);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    void buildProgramGroup(QGroupBox* group);
    void buildFirmwareGroup(QGroupBox* group);
    void connectInstrument();
    // Runs `job` on the instrument's link; the dialog outlives every job it posted.
    void onLink(std::function<void(device::HidDevice& device, bool opened)> job);
    void noInstrument();
    void takeVersions(const std::optional<instrument::InstrumentVersions>& versions);
    void takeFirmwareReply(const upgrade::FetchResult& reply);
    void upgradeFirmware();
    void takeFirmwareImage(const upgrade::FetchResult& image);
    void transfer(std::vector<uint8_t> image);
    void transferEnded(instrument::FirmwareOutcome outcome);
    void showFirmwareStatus(const QString& text);
    bool mayClose();

    Session& session_;
    common::Clock& clock_;
    upgrade::UpgradeSettings settings_;
    qt_adapters::WakeLock wake_;
    std::unique_ptr<qt_adapters::ProgramUpdate> programUpdate_;
    std::function<bool(const std::string&)> firmwareConsent_ = [this](const std::string& server) {
        return qt_adapters::askUnsignedConsent(this, server);
    };
    std::optional<instrument::InstrumentVersions> versions_;
    upgrade::FirmwareCheck firmwareCheck_;  // its flag and checksum outlive one reply
    upgrade::FirmwareOffer firmwareOffer_;
    int checksPending_ = 0;
    QPointer<net::HttpDownload> firmwareDownload_;
    // The link's results reach the dialog's thread through this loop's own
    // queue, an ordering ThreadSanitizer can see.
    qt_adapters::QtEventLoop fromWorker_{this};
    // The dialog's jobs on the link (the connect exchange, the transfer) not yet ended.
    std::mutex jobsMutex_;
    std::condition_variable jobEnded_;
    int jobsOnLink_ = 0;
    bool transferring_ = false;
    std::atomic<bool> cancelTransfer_{false};
    bool closeWhenDone_ = false;

    QLabel* programLatest_ = nullptr;
    QPushButton* programButton_ = nullptr;
    QLabel* firmwareCurrent_ = nullptr;
    QLabel* firmwareLatest_ = nullptr;
    QLabel* hardwareLabel_ = nullptr;
    QLabel* ufcsLabel_ = nullptr;
    QPushButton* firmwareButton_ = nullptr;
    QPushButton* firmwareCancel_ = nullptr;
    QLabel* firmwareStatus_ = nullptr;
    QLabel* timeLeft_ = nullptr;
    QProgressBar* firmwareProgress_ = nullptr;
    QPushButton* exitButton_ = nullptr;
};

// 版本升级 from the main window: a running capture stops (the dialog's
// exchanges are the only reads of the link), `run` shows the dialog, and the
// instrument is released again afterwards so that 开始监听 starts afresh.
// True when the program was handed to the updater (the window then closes).
bool runUpgrade(Session& session, common::Clock& clock, const upgrade::UpgradeSettings& settings,
                const QString& programDir, QWidget* parent,
                const std::function<void(UpgradeDialog&)>& run,
                const std::function<void(const QString&)>& message);

}  // namespace analyzer::ui
