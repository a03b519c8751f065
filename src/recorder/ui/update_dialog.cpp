#include "recorder/ui/update_dialog.h"

#include <QVBoxLayout>

#include "qt/text.h"

namespace recorder::ui {

UpdateDialog::UpdateDialog(const upgrade::UpgradeSettings& settings, const QString& programDir,
                           QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("版本更新"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(qt_adapters::fromStd(upgrade::currentProgramText())));
    latest_ = new QLabel;
    layout->addWidget(latest_);
    updateButton_ = new QPushButton(QStringLiteral("更新"));
    layout->addWidget(updateButton_, 0, Qt::AlignLeft);
    auto* status = new QLabel;
    status->setWordWrap(true);
    layout->addWidget(status);
    auto* cancel = new QPushButton(QStringLiteral("取消下载"));
    layout->addWidget(cancel, 0, Qt::AlignLeft);
    setMinimumWidth(320);
    update_ =
        new qt_adapters::ProgramUpdate(upgrade::UpgradedProgram::Recorder, settings, programDir,
                                       {latest_, updateButton_, cancel, status}, this);
    connect(update_, &qt_adapters::ProgramUpdate::handedOver, this, [this] {
        handedOver_ = true;
        accept();
    });
}

}  // namespace recorder::ui
