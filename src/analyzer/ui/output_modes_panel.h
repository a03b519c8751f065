#pragma once
// "档位信息": the charger's output modes and live values while the analyzer
// emulates a charging device, and "设置电压" to request a voltage and current.

#include <QDialog>
#include <QStringList>
#include <functional>

#include "analyzer/composer.h"
#include "analyzer/session.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace analyzer::ui {

class SetOutputDialog;

class OutputModesPanel final : public QDialog {
    Q_OBJECT
  public:
    explicit OutputModesPanel(QWidget* parent = nullptr);

    // Refills the rows: number and description buttons for modes 1..min(count, 7).
    void setTable(const instrument::OutputCapabilityTable& table);
    void setLiveTexts(const StatusTexts& texts);
    // The operating mode the number buttons pass with their request.
    void setMode(int mode) { mode_ = mode; }

    QPushButton* numberButton(int row) const;       // row 0-6
    QPushButton* descriptionButton(int row) const;  // row 0-6
    // The four cells of a row's description: voltage and current range, the two steps.
    QStringList descriptionCells(int row) const;
    QPushButton* voltageOnlyButton() const;
    QLabel* label(const QString& startsWith) const;
    // How the set-voltage dialog is run (exec() by default; tests answer it).
    void setDialogRunner(std::function<void(SetOutputDialog&)> runner) {
        runDialog_ = std::move(runner);
    }

  signals:
    // `position` 20-34 asks for mode position-19 at its maximum; 1000 asks for `pending`.
    void requestMode(int position, int mode);
    void requestPending(const PendingOutputRequest& pending);

  private:
    void openSetOutput(int row);
    void openVoltageOnly();

    instrument::OutputCapabilityTable table_;
    int mode_ = 1;
    std::function<void(SetOutputDialog&)> runDialog_;
    struct Widgets;
    Widgets* widgets_;
};

// "设置电压": a voltage and current for one mode, or a voltage alone over all modes.
class SetOutputDialog final : public QDialog {
    Q_OBJECT
  public:
    using Limits = analyzer::OutputLimits;
    SetOutputDialog(const Limits& limits, bool voltageOnly,
                    const instrument::OutputCapabilityTable& table,
                    std::function<const std::string&()> voltageText, QWidget* parent = nullptr);

    QLineEdit* voltageField() const { return voltage_; }
    QLineEdit* currentField() const { return current_; }
    QToolButton* stayOpenButton() const { return stayOpen_; }
    QLabel* sentLabel() const { return sent_; }
    // Presses OK: validates, then emits `request`; closes unless stay-open is on.
    void confirm();
    void setMessageSink(std::function<void(const QString&)> sink) {
        messageSink_ = std::move(sink);
    }

  signals:
    void request(const PendingOutputRequest& pending);

  private:
    Limits limits_;
    bool voltageOnly_;
    instrument::OutputCapabilityTable table_;
    QLineEdit* voltage_;
    QLineEdit* current_;
    QToolButton* stayOpen_;
    QLabel* sent_;
    bool stayOpenOn_ = false;
    std::function<void(const QString&)> messageSink_;
};

}  // namespace analyzer::ui
