#include "analyzer/ui/charging_device_controls.h"

#include <QPointer>

#include "analyzer/ui/output_modes_panel.h"
#include "analyzer/ui/send_dialog.h"
#include "qt/text.h"

namespace analyzer::ui {

ChargingDeviceControls::ChargingDeviceControls(Session& session, common::Clock& clock,
                                               QWidget* window,
                                               std::function<void(const QString&)> message)
    : QObject(window),
      session_(session),
      clock_(clock),
      sendDialog_(new SendDialog(window)),
      modesPanel_(new OutputModesPanel(window)) {
    sendDialog_->setMessageSink(std::move(message));
    connect(sendDialog_, &QDialog::finished, this, &ChargingDeviceControls::sendDialogToggled);
    // The dialogs' requests are carried out queued, after the click that made them has finished.
    connect(sendDialog_, &SendDialog::sendRequested, this, [this](int position) {
        QMetaObject::invokeMethod(
            this, [this, position] { sendUfcs(position, session_.mode()); }, Qt::QueuedConnection);
    });
    connect(modesPanel_, &OutputModesPanel::requestMode, this, [this](int position, int mode) {
        QMetaObject::invokeMethod(
            this, [this, position, mode] { sendUfcs(position, mode); }, Qt::QueuedConnection);
    });
    connect(modesPanel_, &OutputModesPanel::requestPending, this,
            [this](const PendingOutputRequest& pending) {
                pending_ = pending;
                QMetaObject::invokeMethod(
                    this, [this] { sendUfcs(kSendPendingRequest, device::kModeChargingDevice); },
                    Qt::QueuedConnection);
            });
}

bool ChargingDeviceControls::sendDialogShown() const {
    return sendDialog_->isVisible();
}

void ChargingDeviceControls::toggleSendDialog() {
    if (sendDialog_->isVisible()) {
        sendDialog_->hide();
    } else {
        sendDialog_->prepareForMode(session_.mode());
        sendDialog_->show();
    }
    emit sendDialogToggled();
}

void ChargingDeviceControls::showModesPanel() {
    // Hidden and shown again, which also brings it to the front.
    modesPanel_->hide();
    modesPanel_->show();
    modesPanel_->raise();
}

void ChargingDeviceControls::hide() {
    sendDialog_->hide();
    modesPanel_->hide();
}

void ChargingDeviceControls::hideSendDialog() {
    sendDialog_->hide();
}

void ChargingDeviceControls::setCapabilityTable(const instrument::OutputCapabilityTable& table) {
    sendDialog_->setCapabilityTable(table);
    modesPanel_->setTable(table);
}

void ChargingDeviceControls::setLiveTexts(const StatusTexts& texts) {
    sendDialog_->setLiveTexts(texts);
    modesPanel_->setLiveTexts(texts);
}

void ChargingDeviceControls::setStatus(const StatusEffects& effects) {
    modesPanel_->setMode(session_.mode());
    if (effects.sendConfirmChanged) sendDialog_->setSendEnabled(effects.sendConfirmEnabled);
}

void ChargingDeviceControls::sendUfcs(int position, int mode) {
    const std::vector<Frame> frames =
        composeSend(position, mode, sendDialog_->pages(), session_.capabilityTable(), pending_);
    if (frames.empty()) return;
    // The log tells the send once the link has written it, with the time it was asked.
    session_.sendFrames(frames, [dialog = QPointer<SendDialog>(sendDialog_), position,
                                 pages = sendDialog_->pages(),
                                 asked = clock_.localTime()](int result) {
        const std::string entry = sendLogEntry(position, pages, result == device::kWritten, asked);
        if (dialog && !entry.empty()) dialog->appendLog(qt_adapters::fromStd(entry));
    });
}

}  // namespace analyzer::ui
