#pragma once
// The recorder's small panels and dialogs: the timed stop, its notice, the
// output switch and the CSV options.

#include <QDialog>
#include <QWidget>
#include <functional>
#include <optional>

#include "recorder/settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace recorder::ui {

class TimedStopPanel final : public QWidget {
    Q_OBJECT
  public:
    TimedStopPanel(const TimedStop& stored, QWidget* parent = nullptr);
    // The fields checked as the dialog framework checks them; on a problem the
    // message goes to `tell` and nothing is returned. Off: the fields are not looked at.
    std::optional<TimedStop> read(const std::function<void(const QString&)>& tell) const;
    // While a test runs, a change (the box, or a field left or confirmed with
    // Enter) is announced by changed(), to apply at once.
    void setLive(bool live);
    bool live() const { return live_; }
    QCheckBox* checkBox() const { return box_; }
    QLineEdit* hoursField() const { return hours_; }
    QLineEdit* minutesField() const { return minutes_; }

  signals:
    void changed();

  private:
    void enableFields();
    void announce();
    QCheckBox* box_;
    QLineEdit* hours_;
    QLineEdit* minutes_;
    bool live_ = false;
    QString announced_;  // what was last announced, so a field left unchanged says nothing
};

// "定时": shown when a timed test starts; counts down from 3 and closes itself after 3 s.
class TimedStopNotice final : public QDialog {
    Q_OBJECT
  public:
    TimedStopNotice(int hours, int minutes, QWidget* parent = nullptr);
    QString text() const;

  private:
    void show(int countdown);
    int hours_, minutes_, countdown_ = 3;
    QLabel* label_;
};

class OutputSwitchPanel final : public QWidget {
    Q_OBJECT
  public:
    explicit OutputSwitchPanel(QWidget* parent = nullptr);
    // Back to 关; `disable` also disables the pair until the next test connects.
    void reset(bool disable);
    // After a connect: disabled, then enabled again by the 400 ms timer.
    void holdBriefly();
    QRadioButton* offButton() const { return off_; }
    QRadioButton* onButton() const { return on_; }

  signals:
    void switched(int state);  // 0 off, 1 on

  private:
    QRadioButton* off_;
    QRadioButton* on_;
    QTimer* timer_;
};

// 另存为CSV格式's options (title "Tarsel电压电流测量").
class CsvOptionsDialog final : public QDialog {
    Q_OBJECT
  public:
    // `zoneShown`: the time zone lines are shown, so their part may be exported alone.
    CsvOptionsDialog(const CsvOptions& options, bool zoneShown = false, QWidget* parent = nullptr);
    // The options, or the framework's prompt when the period is wrong.
    std::optional<CsvOptions> options(QString& problem) const;
    // Only the samples between the time zone lines.
    bool zoneOnly() const;
    QLineEdit* periodField() const { return period_; }
    QCheckBox* everySampleBox() const { return everySample_; }
    QCheckBox* zoneOnlyBox() const { return zoneOnly_; }

  private:
    QLineEdit* period_;
    QCheckBox* everySample_;
    QCheckBox* zoneOnly_;
    QRadioButton* millivolts_;
    QRadioButton* milliamps_;
    QRadioButton* milliwatts_;
    QCheckBox* utf8_;
};

}  // namespace recorder::ui
