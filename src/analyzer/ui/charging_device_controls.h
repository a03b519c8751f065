#pragma once
// What the window offers while it emulates the charging device (mode 2): the
// send dialog (发送消息) and the output-modes panel (档位信息), and the
// UFCS sends either asks for, composed from the charger's table and logged.

#include <QObject>
#include <functional>

#include "analyzer/composer.h"
#include "analyzer/session.h"
#include "common/clock.h"

class QWidget;

namespace analyzer::ui {

class OutputModesPanel;
class SendDialog;

class ChargingDeviceControls final : public QObject {
    Q_OBJECT
  public:
    ChargingDeviceControls(Session& session, common::Clock& clock, QWidget* window,
                           std::function<void(const QString&)> message);

    SendDialog* sendDialog() const { return sendDialog_; }
    OutputModesPanel* modesPanel() const { return modesPanel_; }
    bool sendDialogShown() const;

    // 发送消息 / 停止发送.
    void toggleSendDialog();
    // 档位信息: the panel, brought to the front.
    void showModesPanel();
    void hide();
    void hideSendDialog();
    void setCapabilityTable(const instrument::OutputCapabilityTable& table);
    void setLiveTexts(const StatusTexts& texts);
    void setStatus(const StatusEffects& effects);

    // A send of the send list (0-19) or of the output-modes panel (20-34, 1000);
    // only mode 2 sends anything.
    void sendUfcs(int position, int mode);

  signals:
    // The send dialog was shown or closed (by its button, the window manager or Escape).
    void sendDialogToggled();

  private:
    Session& session_;
    common::Clock& clock_;
    SendDialog* sendDialog_;
    OutputModesPanel* modesPanel_;
    PendingOutputRequest pending_;
};

}  // namespace analyzer::ui
