#include "recorder/ui/panels.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "common/integer_field.h"
#include "qt/text.h"

namespace recorder::ui {
namespace {

using qt_adapters::fromStd;

// A radio pair in a row of its own group; the second button is returned checked when `second`.
QRadioButton* radioPair(QGridLayout* grid, int row, const QString& label, const QString& first,
                        const QString& second, bool secondChecked, QWidget* parent) {
    auto* group = new QButtonGroup(parent);
    auto* a = new QRadioButton(first, parent);
    auto* b = new QRadioButton(second, parent);
    group->addButton(a);
    group->addButton(b);
    (secondChecked ? b : a)->setChecked(true);
    grid->addWidget(new QLabel(label, parent), row, 0);
    grid->addWidget(a, row, 1);
    grid->addWidget(b, row, 2);
    return b;
}

}  // namespace

TimedStopPanel::TimedStopPanel(const TimedStop& stored, QWidget* parent)
    : QWidget(parent),
      box_(new QCheckBox(QStringLiteral("定时停止"), this)),
      hours_(new QLineEdit(QString::number(stored.hours), this)),
      minutes_(new QLineEdit(QString::number(stored.minutes), this)) {
    setStyleSheet(QStringLiteral("QLabel, QCheckBox { color: rgb(220,220,220); }"));
    box_->setChecked(stored.on);
    hours_->setMaximumWidth(26);
    minutes_->setMaximumWidth(26);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addWidget(hours_);
    row->addWidget(new QLabel(QStringLiteral("时"), this));
    row->addWidget(minutes_);
    row->addWidget(new QLabel(QStringLiteral("分后停止"), this));
    row->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(box_);
    layout->addLayout(row);
    connect(box_, &QCheckBox::toggled, this, &TimedStopPanel::enableFields);
    connect(box_, &QCheckBox::toggled, this, &TimedStopPanel::announce);
    for (QLineEdit* field : {hours_, minutes_})
        connect(field, &QLineEdit::editingFinished, this, &TimedStopPanel::announce);
    enableFields();
}

void TimedStopPanel::announce() {
    if (!live_) return;
    const QString now =
        QStringLiteral("%1 %2:%3").arg(box_->isChecked()).arg(hours_->text(), minutes_->text());
    if (now == announced_) return;
    announced_ = now;
    emit changed();
}

void TimedStopPanel::enableFields() {
    hours_->setEnabled(box_->isEnabled() && box_->isChecked());
    minutes_->setEnabled(box_->isEnabled() && box_->isChecked());
}

void TimedStopPanel::setLive(bool live) {
    live_ = live;
    announced_ =
        QStringLiteral("%1 %2:%3").arg(box_->isChecked()).arg(hours_->text(), minutes_->text());
    setToolTip(live ? QStringLiteral("测试中修改立即生效，从本次测试开始时计时") : QString());
}

std::optional<TimedStop> TimedStopPanel::read(
    const std::function<void(const QString&)>& tell) const {
    if (!box_->isChecked()) {
        TimedStop off;
        off.hours = hours_->text().toInt();
        off.minutes = minutes_->text().toInt();
        return off;
    }
    const common::IntegerField hours =
        common::checkIntegerField(hours_->text().toStdString(), 0, 23);
    const common::IntegerField minutes =
        common::checkIntegerField(minutes_->text().toStdString(), 0, 59);
    for (const common::IntegerField* field : {&hours, &minutes}) {
        if (field->problem) {
            tell(fromStd(*field->problem));
            return std::nullopt;
        }
    }
    return TimedStop{true, static_cast<int>(hours.value), static_cast<int>(minutes.value)};
}

TimedStopNotice::TimedStopNotice(int hours, int minutes, QWidget* parent)
    : QDialog(parent), hours_(hours), minutes_(minutes), label_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("定时"));
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    show(3);
    auto* tick = new QTimer(this);
    connect(tick, &QTimer::timeout, this, [this] { show(countdown_ > 0 ? countdown_ - 1 : 0); });
    tick->start(1000);
    QTimer::singleShot(3000, this, &QDialog::accept);
}

void TimedStopNotice::show(int countdown) {
    countdown_ = countdown;
    label_->setText(text());
}

QString TimedStopNotice::text() const {
    return QStringLiteral("已设定时，将在%1时%2分停止\n\n                           %3")
        .arg(hours_)
        .arg(minutes_)
        .arg(countdown_);
}

OutputSwitchPanel::OutputSwitchPanel(QWidget* parent)
    : QWidget(parent),
      off_(new QRadioButton(QStringLiteral("关"), this)),
      on_(new QRadioButton(QStringLiteral("开"), this)),
      timer_(new QTimer(this)) {
    setStyleSheet(QStringLiteral("QRadioButton { color: rgb(220,220,220); }"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("输出："), this);
    label->setStyleSheet(QStringLiteral("color: rgb(220,220,220)"));
    layout->addWidget(label);
    layout->addWidget(off_);
    layout->addWidget(on_);
    layout->addStretch();
    off_->setChecked(true);
    timer_->setSingleShot(true);
    timer_->setInterval(400);
    connect(timer_, &QTimer::timeout, this, [this] { setEnabled(true); });
    connect(off_, &QRadioButton::clicked, this, [this] { emit switched(0); });
    connect(on_, &QRadioButton::clicked, this, [this] { emit switched(1); });
}

void OutputSwitchPanel::reset(bool disable) {
    off_->setChecked(true);
    if (disable) setEnabled(false);
}

void OutputSwitchPanel::holdBriefly() {
    off_->setChecked(true);
    setEnabled(false);
    timer_->start();
}

CsvOptionsDialog::CsvOptionsDialog(const CsvOptions& options, bool zoneShown, QWidget* parent)
    : QDialog(parent),
      period_(new QLineEdit(QString::number(options.periodSeconds), this)),
      everySample_(new QCheckBox(QStringLiteral("每个采样（0.1秒，不丢失数据）"), this)),
      zoneOnly_(new QCheckBox(QStringLiteral("只导出两条时间区域线之间的部分"), this)) {
    setWindowTitle(QStringLiteral("Tarsel电压电流测量"));
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("请选择采样周期："), this), 0, 0);
    grid->addWidget(period_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("秒"), this), 0, 2);
    // Every sample needs no period: the field waits, greyed, for the box to be cleared.
    everySample_->setChecked(options.everySample);
    period_->setEnabled(!options.everySample);
    connect(everySample_, &QCheckBox::toggled, period_,
            [this](bool on) { period_->setEnabled(!on); });
    grid->addWidget(everySample_, 4, 0, 1, 3);
    // Grey, with the reason, when there are no zone lines to export between.
    zoneOnly_->setEnabled(zoneShown);
    if (!zoneShown) zoneOnly_->setToolTip(QStringLiteral("请先显示时间区域线"));
    grid->addWidget(zoneOnly_, 5, 0, 1, 3);
    millivolts_ = radioPair(grid, 1, QStringLiteral("请选择电压单位："), QStringLiteral("V"),
                            QStringLiteral("mV"), options.millivolts, this);
    milliamps_ = radioPair(grid, 2, QStringLiteral("请选择电流单位："), QStringLiteral("A "),
                           QStringLiteral("mA "), options.milliamps, this);
    milliwatts_ = radioPair(grid, 3, QStringLiteral("请选择功率单位："), QStringLiteral("W"),
                            QStringLiteral("mW"), options.milliwatts, this);
    utf8_ = new QCheckBox(QStringLiteral("UTF-8编码（默认GBK，与旧版一致）"), this);
    utf8_->setChecked(options.utf8);
    auto* note = new QLabel(
        QStringLiteral(
            "说明：采样周期会造成数据丢失，越大丢失越多，但太小会增大数据量，请合适选择。"),
        this);
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        QString problem;
        if (this->options(problem))
            accept();
        else
            QMessageBox::warning(this, windowTitle(), problem);
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(utf8_);
    layout->addWidget(note);
    layout->addWidget(buttons);
    setMinimumWidth(380);
}

std::optional<CsvOptions> CsvOptionsDialog::options(QString& problem) const {
    CsvOptions options;
    options.everySample = everySample_->isChecked();
    const common::IntegerField period =
        common::checkIntegerField(period_->text().toStdString(), kLeastCsvPeriod, kMostCsvPeriod);
    if (period.problem && !options.everySample) {
        problem = fromStd(*period.problem);
        return std::nullopt;
    }
    options.periodSeconds = period.problem ? 1 : static_cast<int>(period.value);
    options.millivolts = millivolts_->isChecked();
    options.milliamps = milliamps_->isChecked();
    options.milliwatts = milliwatts_->isChecked();
    options.utf8 = utf8_->isChecked();
    return options;
}

bool CsvOptionsDialog::zoneOnly() const {
    return zoneOnly_->isEnabled() && zoneOnly_->isChecked();
}

}  // namespace recorder::ui
