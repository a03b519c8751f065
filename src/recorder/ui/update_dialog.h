#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include "qt/upgrade/program_update.h"
#include "upgrade/download_checks.h"

namespace recorder::ui {

// "版本更新": the recorder's program check, its download and the hand-over to the updater.
class UpdateDialog final : public QDialog {
    Q_OBJECT
  public:
    UpdateDialog(const upgrade::UpgradeSettings& settings, const QString& programDir,
                 QWidget* parent = nullptr);
    qt_adapters::ProgramUpdate& programUpdate() { return *update_; }
    QLabel* latest() const { return latest_; }
    QPushButton* updateButton() const { return updateButton_; }
    bool handedOver() const { return handedOver_; }

  private:
    QLabel* latest_ = nullptr;
    QPushButton* updateButton_ = nullptr;
    qt_adapters::ProgramUpdate* update_ = nullptr;
    bool handedOver_ = false;
};

}  // namespace recorder::ui
