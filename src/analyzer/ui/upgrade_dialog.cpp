#include "analyzer/ui/upgrade_dialog.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "net/http_download.h"
#include "qt/text.h"

namespace analyzer::ui {
namespace {

using qt_adapters::fromStd;

QLabel* addLabel(QVBoxLayout* layout, const QString& text = {}) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    layout->addWidget(label);
    return label;
}

// Tells the dialog, on its own thread, how the transfer goes.
class PostedProgress final : public instrument::FirmwareTransferListener {
  public:
    PostedProgress(common::EventLoop& dialogLoop, QLabel* status, QLabel* timeLeft,
                   QProgressBar* bar, std::atomic<bool>& headerSent)
        : dialogLoop_(dialogLoop),
          status_(status),
          timeLeft_(timeLeft),
          bar_(bar),
          headerSent_(headerSent) {
        clock_.start();
    }
    void onHeaderSent() override { headerSent_ = true; }
    void onStatusText(std::string_view text) override {
        dialogLoop_.post(
            [status = status_, text = std::string(text)] { status->setText(fromStd(text)); });
    }
    void onProgress(uint32_t done, uint32_t pages) override {
        const std::string left =
            instrument::timeLeftText(done, pages, std::chrono::milliseconds(clock_.elapsed()));
        dialogLoop_.post([bar = bar_, timeLeft = timeLeft_, done, pages, left] {
            bar->setRange(0, static_cast<int>(pages));
            bar->setValue(static_cast<int>(done));
            bar->show();
            timeLeft->setText(QStringLiteral("第 %1/%2 页  ").arg(done).arg(pages) + fromStd(left));
            timeLeft->show();
        });
    }

  private:
    common::EventLoop& dialogLoop_;
    QLabel* status_;
    QLabel* timeLeft_;
    QProgressBar* bar_;
    std::atomic<bool>& headerSent_;
    QElapsedTimer clock_;
};

}  // namespace

UpgradeDialog::UpgradeDialog(Session& session, common::Clock& clock,
                             const upgrade::UpgradeSettings& settings, const QString& programDir,
                             QWidget* parent)
    : QDialog(parent), session_(session), clock_(clock), settings_(settings) {
    setWindowTitle(QStringLiteral("升级"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* programGroup = new QGroupBox(QStringLiteral("解析程序"));
    auto* firmwareGroup = new QGroupBox(QStringLiteral("协议解析固件程序"));
    layout->addWidget(programGroup);
    layout->addWidget(firmwareGroup);
    exitButton_ = new QPushButton(QStringLiteral("退出"));
    layout->addWidget(exitButton_, 0, Qt::AlignRight);
    connect(exitButton_, &QPushButton::clicked, this, &QDialog::close);
    buildProgramGroup(programGroup);
    buildFirmwareGroup(firmwareGroup);
    setMinimumWidth(460);

    qt_adapters::ProgramUpdate::Controls controls{programLatest_, programButton_, nullptr, nullptr};
    auto* programLayout = static_cast<QVBoxLayout*>(programGroup->layout());
    controls.status = addLabel(programLayout);
    controls.cancel = new QPushButton(QStringLiteral("取消下载"));
    programLayout->addWidget(controls.cancel, 0, Qt::AlignLeft);
    programUpdate_ = std::make_unique<qt_adapters::ProgramUpdate>(
        upgrade::UpgradedProgram::Analyzer, settings_, programDir, controls);
    connect(programUpdate_.get(), &qt_adapters::ProgramUpdate::checked, this,
            [this] { --checksPending_; });
    connect(programUpdate_.get(), &qt_adapters::ProgramUpdate::message, this,
            &UpgradeDialog::message);
    connect(programUpdate_.get(), &qt_adapters::ProgramUpdate::handedOver, this, [this] {
        emit programHandedOver();
        close();
    });
}

UpgradeDialog::~UpgradeDialog() {
    cancelTransfer_ = true;
    // Only a job already running is waited for: the dialog stays open through
    // a transfer, so this is at most a connect exchange.
    std::unique_lock lock(jobsMutex_);
    jobEnded_.wait(lock, [this] { return jobsOnLink_ == 0; });
}

void UpgradeDialog::onLink(std::function<void(device::HidDevice&, bool)> job) {
    {
        std::lock_guard lock(jobsMutex_);
        ++jobsOnLink_;
    }
    session_.runWithInstrument(
        [this, job = std::move(job)](device::HidDevice& device, bool opened) {
            job(device, opened);
            std::lock_guard lock(jobsMutex_);
            --jobsOnLink_;
            jobEnded_.notify_all();
        });
}

void UpgradeDialog::buildProgramGroup(QGroupBox* group) {
    auto* layout = new QVBoxLayout(group);
    addLabel(layout, QStringLiteral("升级前请关闭其它Tarsel协议解析程序"));
    addLabel(layout, QStringLiteral("当前UFCS版本：1.0"));
    addLabel(layout, fromStd(upgrade::currentProgramText()));
    programLatest_ = addLabel(layout);
    programButton_ = new QPushButton(QStringLiteral("升级"));
    layout->addWidget(programButton_, 0, Qt::AlignLeft);
}

void UpgradeDialog::buildFirmwareGroup(QGroupBox* group) {
    auto* layout = new QVBoxLayout(group);
    firmwareCurrent_ = addLabel(layout);
    hardwareLabel_ = addLabel(layout);
    ufcsLabel_ = addLabel(layout);
    firmwareLatest_ = addLabel(layout);
    auto* buttons = new QHBoxLayout;
    firmwareButton_ = new QPushButton(QStringLiteral("升级"));
    firmwareCancel_ = new QPushButton(QStringLiteral("取消下载"));
    buttons->addWidget(firmwareButton_);
    buttons->addWidget(firmwareCancel_);
    buttons->addStretch();
    layout->addLayout(buttons);
    firmwareStatus_ = addLabel(layout);
    firmwareProgress_ = new QProgressBar;
    layout->addWidget(firmwareProgress_);
    timeLeft_ = addLabel(layout);
    for (QWidget* hidden : std::initializer_list<QWidget*>{
             hardwareLabel_, ufcsLabel_, firmwareButton_, firmwareCancel_, firmwareStatus_,
             firmwareProgress_, timeLeft_})
        hidden->hide();
    connect(firmwareButton_, &QPushButton::clicked, this, &UpgradeDialog::upgradeFirmware);
    connect(firmwareCancel_, &QPushButton::clicked, this, [this] {
        if (firmwareDownload_) firmwareDownload_->cancel();
    });
}

void UpgradeDialog::start() {
    checksPending_ = 2;
    programUpdate_->check();
    connectInstrument();
}

void UpgradeDialog::connectInstrument() {
    onLink([this](device::HidDevice& device, bool opened) {
        if (!opened) {
            fromWorker_.post([this] { noInstrument(); });
            return;
        }
        const std::optional<instrument::InstrumentVersions> versions =
            instrument::readInstrumentVersions(device, clock_);
        fromWorker_.post([this, versions] { takeVersions(versions); });
    });
}

// The session has told the pane why; the firmware side has nothing to ask about.
void UpgradeDialog::noInstrument() {
    firmwareCurrent_->setText(QStringLiteral("当前版本：设备未连接"));
    --checksPending_;
}

void UpgradeDialog::takeVersions(const std::optional<instrument::InstrumentVersions>& versions) {
    if (!versions) {
        session_.connectFailed();
        firmwareCurrent_->setText(QStringLiteral("当前版本：设备未连接"));
        --checksPending_;
        return;
    }
    versions_ = versions;
    firmwareCurrent_->setText(fromStd(instrument::currentFirmwareText(*versions)));
    hardwareLabel_->setText(fromStd(instrument::hardwareVersionText(*versions)));
    ufcsLabel_->setText(fromStd(instrument::ufcsVersionText(*versions)));
    hardwareLabel_->show();
    ufcsLabel_->show();
    qt_adapters::startFetch(
        upgrade::firmwareQueryRequest(*versions, settings_), this,
        [this](const upgrade::FetchResult& reply) { takeFirmwareReply(reply); });
}

void UpgradeDialog::takeFirmwareReply(const upgrade::FetchResult& reply) {
    firmwareOffer_ = upgrade::readFirmwareOffer(reply, firmwareCheck_);
    firmwareLatest_->setText(fromStd(firmwareOffer_.label));
    firmwareButton_->setVisible(firmwareOffer_.upgrade);
    --checksPending_;
}

void UpgradeDialog::upgradeFirmware() {
    if (!session_.connected() || !versions_) {
        showFirmwareStatus(fromStd(instrument::kFirmwareNotConnected));
        return;
    }
    if (settings_.publicKey.empty() && !firmwareConsent_(settings_.server)) return;
    firmwareButton_->setEnabled(false);
    firmwareCancel_->show();
    showFirmwareStatus(QStringLiteral("正在下载固件…"));
    firmwareDownload_ = qt_adapters::startFetch(
        upgrade::firmwareDownloadRequest(firmwareCheck_), this,
        [this](const upgrade::FetchResult& image) { takeFirmwareImage(image); },
        [this](quint64 received, qint64) {
            showFirmwareStatus(QStringLiteral("正在下载固件 %1 字节").arg(received));
        });
}

void UpgradeDialog::takeFirmwareImage(const upgrade::FetchResult& image) {
    firmwareCancel_->hide();
    if (!image.ok) {
        showFirmwareStatus(fromStd(instrument::kFirmwareDownloadFailed) + '\n' +
                           fromStd(image.error));
        // Nothing was sent to the instrument: the user may try again.
        firmwareButton_->setEnabled(true);
        return;
    }
    if (const auto refusal =
            upgrade::refusedFirmware(image, firmwareOffer_, settings_, *versions_)) {
        showFirmwareStatus(fromStd(*refusal));
        return;
    }
    transfer(image.bytes);
}

void UpgradeDialog::transfer(std::vector<uint8_t> image) {
    exitButton_->setEnabled(false);
    wake_.keepAwake(true);
    cancelTransfer_ = false;
    transferring_ = true;
    onLink([this, image = std::move(image), versions = *versions_,
            checksum = firmwareCheck_.checksum](device::HidDevice& device, bool opened) {
        std::atomic<bool> headerSent{false};
        PostedProgress progress(fromWorker_, firmwareStatus_, timeLeft_, firmwareProgress_,
                                headerSent);
        const instrument::FirmwareOutcome outcome =
            opened
                ? instrument::transferFirmware(
                      device, clock_, {image, versions.hardware[1], versions.hardware[0], checksum},
                      progress, &cancelTransfer_)
                : instrument::FirmwareOutcome::Failed;
        fromWorker_.post([this, outcome] { transferEnded(outcome); });
    });
}

void UpgradeDialog::transferEnded(instrument::FirmwareOutcome outcome) {
    transferring_ = false;
    wake_.keepAwake(false);
    exitButton_->setEnabled(true);
    timeLeft_->hide();
    showFirmwareStatus(fromStd(instrument::firmwareOutcomeText(outcome)));
    if (outcome == instrument::FirmwareOutcome::Burned) {
        firmwareCurrent_->hide();
        hardwareLabel_->hide();
        ufcsLabel_->hide();
        // Once the hidden labels have left the layout, the dialog takes in the gap.
        QTimer::singleShot(0, this, [this] { adjustSize(); });
    }
    if (closeWhenDone_) close();
}

void UpgradeDialog::showFirmwareStatus(const QString& text) {
    firmwareStatus_->setText(text);
    firmwareStatus_->show();
}

bool UpgradeDialog::mayClose() {
    programUpdate_->cancel();
    if (firmwareDownload_) firmwareDownload_->cancel();
    if (!transferring()) return true;
    // Before the header the transfer stops at once; after it, it runs to its end.
    cancelTransfer_ = true;
    closeWhenDone_ = true;
    showFirmwareStatus(firmwareStatus_->text() + QStringLiteral("\n升级进行中，完成后窗口将关闭"));
    return false;
}

void UpgradeDialog::closeEvent(QCloseEvent* event) {
    if (mayClose()) {
        QDialog::closeEvent(event);
        done(QDialog::Rejected);
    } else {
        event->ignore();
    }
}

void UpgradeDialog::reject() {
    if (mayClose()) QDialog::reject();
}

bool runUpgrade(Session& session, common::Clock& clock, const upgrade::UpgradeSettings& settings,
                const QString& programDir, QWidget* parent,
                const std::function<void(UpgradeDialog&)>& run,
                const std::function<void(const QString&)>& message) {
    if (session.connected()) session.stopCapture();
    UpgradeDialog dialog(session, clock, settings, programDir, parent);
    QObject::connect(&dialog, &UpgradeDialog::message, parent, message);
    bool handedOver = false;
    QObject::connect(&dialog, &UpgradeDialog::programHandedOver, parent,
                     [&handedOver] { handedOver = true; });
    dialog.start();
    run(dialog);
    if (session.connected() && !session.workerRunning()) session.stopCapture();
    return handedOver;
}

}  // namespace analyzer::ui
