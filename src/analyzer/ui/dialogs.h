#pragma once
// The analyzer's small modal dialogs and the list's filter popups.

#include <QComboBox>
#include <QDialog>
#include <QStringList>

#include "logic/capture_import.h"
#include "ufcs/list_filter.h"
#include "ufcs/sequence_check.h"

class QCheckBox;
class QDoubleSpinBox;
class QRadioButton;

namespace analyzer::ui {

// "模式选择": listening or charging-device emulation, and the Type-C port.
class ModeDialog final : public QDialog {
    Q_OBJECT
  public:
    ModeDialog(uint8_t mode, bool typeCPort, QWidget* parent = nullptr);
    uint8_t mode() const;    // 1 or 2
    bool typeCPort() const;  // the box's state, even while it is disabled

    QRadioButton* listeningButton() const { return listening_; }
    QRadioButton* chargingDeviceButton() const { return chargingDevice_; }
    QCheckBox* typeCBox() const { return typeC_; }

  private:
    QRadioButton* listening_;
    QRadioButton* chargingDevice_;
    QCheckBox* typeC_;
};

// "拒收设置": refuse ACK, refuse Ping.
class RefusalDialog final : public QDialog {
    Q_OBJECT
  public:
    RefusalDialog(bool refuseAck, bool refusePing, QWidget* parent = nullptr);
    bool refuseAck() const;
    bool refusePing() const;

    QCheckBox* ackBox() const { return ack_; }
    QCheckBox* pingBox() const { return ping_; }

  private:
    QCheckBox* ack_;
    QCheckBox* ping_;
};

// Which lines of a logic analyzer's recording are D+ and D-, and which of its
// analog lines (if any) carry the bus voltage and current with what scale,
// when their names do not say.
class LogicLinesDialog final : public QDialog {
    Q_OBJECT
  public:
    LogicLinesDialog(const QStringList& lines, const QStringList& analog,
                     const logic::LineRoles& proposed, QWidget* parent = nullptr);
    logic::LineRoles roles() const;
    int dplus() const;
    int dminus() const;
    QComboBox* dplusBox() const { return dplus_; }
    QComboBox* dminusBox() const { return dminus_; }
    // The analog rows, present only when the recording has analog lines; entry 0 is 不用.
    QComboBox* vbusBox() const { return vbus_; }
    QComboBox* ibusBox() const { return ibus_; }
    QDoubleSpinBox* vbusScaleBox() const { return vbusScale_; }
    QDoubleSpinBox* ibusScaleBox() const { return ibusScale_; }

  private:
    QComboBox* dplus_;
    QComboBox* dminus_;
    QComboBox* vbus_ = nullptr;
    QComboBox* ibus_ = nullptr;
    QDoubleSpinBox* vbusScale_ = nullptr;
    QDoubleSpinBox* ibusScale_ = nullptr;
};

// One of the four popups behind the list header's "B" buttons.
class FilterPopup final : public QDialog {
    Q_OBJECT
  public:
    enum class Group { Type, Receiver, Message, Baud };

    FilterPopup(Group group, const ufcs::ListFilter& filter, QWidget* parent = nullptr);
    // The filter given, with this popup's boxes as the user left them.
    ufcs::ListFilter filter() const;
    Group group() const { return group_; }
    // The box with this caption, for tests ("Ping", "供电设备", "115200", ...).
    QCheckBox* box(const QString& caption) const;

  private:
    Group group_;
    ufcs::ListFilter filter_;
    QList<QCheckBox*> boxes_;
};

// "时序": the capture's sequence findings, one a line; a double-click (or
// Enter) on one asks for its record.
class TimingDialog final : public QDialog {
    Q_OBJECT
  public:
    TimingDialog(const QString& summary, const ufcs::SequenceReport& report,
                 QWidget* parent = nullptr);

  signals:
    void recordChosen(uint32_t record);
};

}  // namespace analyzer::ui
