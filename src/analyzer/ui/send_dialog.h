#pragma once
// "发送消息": the send list, a parameter page per entry that has one, the
// send log, and "发送" / "清除". A checked page asks the main window to send.

#include <QDialog>
#include <functional>

#include "analyzer/composer.h"
#include "analyzer/session.h"

class QListWidget;
class QPushButton;
class QStackedWidget;
class QTextEdit;

namespace analyzer::ui {

class SendDialog final : public QDialog {
    Q_OBJECT
  public:
    explicit SendDialog(QWidget* parent = nullptr);

    // Each showing in charging-device mode enables Get_Output_Capabilities,
    // Get_Source_Info, Request and Config_Watchdog, and disables Get_Sink_Info.
    void prepareForMode(int mode);
    // The "发送" button follows the instrument's status replies.
    void setSendEnabled(bool enabled);
    // The Request page's mode rows and buttons "1"-"7" follow the charger's table.
    void setCapabilityTable(const instrument::OutputCapabilityTable& table);
    // The Request page's "当前电压：", "当前电流：", "当前模式编号：" labels.
    void setLiveTexts(const StatusTexts& texts);
    void appendLog(const QString& text);

    const SendPages& pages() const;
    void selectEntry(int position);
    int selectedEntry() const;
    // Presses "发送": checks the page, then asks for the send.
    void send();
    // Where a refused field's message goes (a message box by default).
    void setMessageSink(std::function<void(const QString&)> sink);
    // The page field with this command-line name ("voltage", "random", ...), for tests.
    QWidget* field(int position, const QString& name) const;

  signals:
    void sendRequested(int position);

  private:
    struct Impl;
    Impl* impl_;
};

}  // namespace analyzer::ui
