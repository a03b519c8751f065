#include "analyzer/ui/output_modes_panel.h"
#include "common/integer_field.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

namespace analyzer::ui {
namespace {

constexpr int kRows = 7;
constexpr int kCellPadding = 10;

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

// The stay-open toggle: a filled pin head while on, a hollow one while off.
QIcon pinIcon(bool on) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::darkGray, 1.5));
    painter.drawLine(QPointF(8, 9), QPointF(8, 15));
    painter.setBrush(on ? QBrush(Qt::red) : QBrush(Qt::NoBrush));
    painter.drawEllipse(QRectF(3.5, 1.5, 9, 8));
    return QIcon(pixmap);
}

}  // namespace

// Owned by the panel as a child object, so it goes with it.
struct OutputModesPanel::Widgets : QObject {
    using QObject::QObject;
    std::array<QPushButton*, kRows> numbers{};
    std::array<QPushButton*, kRows> descriptions{};
    std::array<std::array<QLabel*, 4>, kRows> cells{};  // over each description button
    QPushButton* voltageOnly = nullptr;
    QLabel* voltage = nullptr;
    QLabel* current = nullptr;
    QLabel* modeNumber = nullptr;
    QLabel* requestedVoltage = nullptr;
    QLabel* requestedCurrent = nullptr;
    // The last tick's voltage text, for the set-voltage dialog's top line.
    std::string voltageText = kIdleValueText;
};

OutputModesPanel::OutputModesPanel(QWidget* parent)
    : QDialog(parent),
      runDialog_([](SetOutputDialog& dialog) { dialog.exec(); }),
      widgets_(new Widgets(this)) {
    setWindowTitle(QStringLiteral("档位信息"));
    Widgets& w = *widgets_;
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    w.voltage = new QLabel(this);
    w.current = new QLabel(this);
    top->addWidget(w.voltage);
    top->addWidget(w.current);
    top->addStretch();
    layout->addLayout(top);
    w.modeNumber = new QLabel(this);
    w.requestedVoltage = new QLabel(this);
    w.requestedCurrent = new QLabel(this);
    layout->addWidget(w.modeNumber);
    layout->addWidget(w.requestedVoltage);
    layout->addWidget(w.requestedCurrent);

    // One grid for the titles and the rows, so every column lines up. A row's cells lie
    // over its description button, which takes their clicks.
    auto* rows = new QGridLayout;
    rows->setHorizontalSpacing(0);
    for (std::size_t column = 0; column < kOutputModeColumns.size(); ++column) {
        const std::string_view title = kOutputModeColumns[column];
        auto* label =
            new QLabel(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())), this);
        label->setContentsMargins(column == 0 ? 0 : kCellPadding, 0, kCellPadding, 0);
        rows->addWidget(label, 0, static_cast<int>(column),
                        column == 0 ? Qt::AlignCenter : Qt::AlignLeft);
    }
    for (int row = 0; row < kRows; ++row) {
        auto* number = new QPushButton(QString::number(row + 1), this);
        auto* description = new QPushButton(this);
        number->hide();
        description->hide();
        connect(number, &QPushButton::clicked, this,
                [this, row] { emit requestMode(20 + row, mode_); });
        connect(description, &QPushButton::clicked, this, [this, row] { openSetOutput(row); });
        rows->addWidget(number, row + 1, 0);
        rows->addWidget(description, row + 1, 1, 1, static_cast<int>(w.cells[row].size()));
        for (std::size_t cell = 0; cell < w.cells[row].size(); ++cell) {
            auto* label = new QLabel(this);
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
            label->setContentsMargins(kCellPadding, 0, kCellPadding, 0);
            label->hide();
            rows->addWidget(label, row + 1, static_cast<int>(cell) + 1);
            w.cells[row][cell] = label;
        }
        w.numbers[row] = number;
        w.descriptions[row] = description;
    }
    rows->setColumnStretch(static_cast<int>(kOutputModeColumns.size()) - 1, 1);
    layout->addLayout(rows);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("点击编号或电压选择档位电压或者"), this));
    w.voltageOnly = new QPushButton(QStringLiteral("输入电压"), this);
    w.voltageOnly->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
    connect(w.voltageOnly, &QPushButton::clicked, this, &OutputModesPanel::openVoltageOnly);
    bottom->addWidget(w.voltageOnly);
    bottom->addStretch();
    auto* exit = new QPushButton(QStringLiteral("退出"), this);
    connect(exit, &QPushButton::clicked, this, &QWidget::hide);
    bottom->addWidget(exit);
    layout->addLayout(bottom);

    setLiveTexts({kIdleValueText, kIdleValueText, {}});
}

void OutputModesPanel::setTable(const instrument::OutputCapabilityTable& table) {
    table_ = table;
    const int shown = std::min<int>(table.modeCount, kRows);
    for (int row = 0; row < kRows; ++row) {
        const bool visible = row < shown;
        QPushButton* description = widgets_->descriptions[row];
        if (visible) {
            // The row's text as the instrument's program wrote it, for tools that read buttons.
            description->setAccessibleName(text(outputModeRowText(table.entry(row))));
            const auto cells = outputModeCells(table.entry(row));
            for (std::size_t cell = 0; cell < cells.size(); ++cell)
                widgets_->cells[row][cell]->setText(text(cells[cell]));
        }
        widgets_->numbers[row]->setVisible(visible);
        description->setVisible(visible);
        for (QLabel* cell : widgets_->cells[row])
            cell->setVisible(visible);
    }
}

void OutputModesPanel::setLiveTexts(const StatusTexts& texts) {
    Widgets& w = *widgets_;
    w.voltageText = texts.voltage;
    w.voltage->setText(QStringLiteral("当前电压：") + text(texts.voltage) + QStringLiteral(" V"));
    w.current->setText(QStringLiteral("当前电流：") + text(texts.current) + QStringLiteral(" A"));
    w.modeNumber->setText(QStringLiteral("当前模式编号：%1").arg(texts.values.modeNumber));
    w.requestedVoltage->setText(
        QStringLiteral("当前成功申请电压：") +
        QString::asprintf("%2.2f", texts.values.requestedVoltage10mV * 0.01) +
        QStringLiteral(" V"));
    w.requestedCurrent->setText(
        QStringLiteral("当前成功申请电流：") +
        QString::asprintf("%2.2f", texts.values.requestedCurrent10mA * 0.01) +
        QStringLiteral(" A"));
}

QPushButton* OutputModesPanel::numberButton(int row) const {
    return widgets_->numbers.at(row);
}

QPushButton* OutputModesPanel::descriptionButton(int row) const {
    return widgets_->descriptions.at(row);
}

QStringList OutputModesPanel::descriptionCells(int row) const {
    QStringList texts;
    for (const QLabel* cell : widgets_->cells.at(static_cast<std::size_t>(row)))
        texts << cell->text();
    return texts;
}

QPushButton* OutputModesPanel::voltageOnlyButton() const {
    return widgets_->voltageOnly;
}

QLabel* OutputModesPanel::label(const QString& startsWith) const {
    for (QLabel* l : findChildren<QLabel*>()) {
        if (l->text().startsWith(startsWith)) return l;
    }
    return nullptr;
}

void OutputModesPanel::openSetOutput(int row) {
    Widgets* w = widgets_;
    SetOutputDialog dialog(
        modeLimits(table_, row), false, table_,
        [w]() -> const std::string& { return w->voltageText; }, this);
    connect(&dialog, &SetOutputDialog::request, this, &OutputModesPanel::requestPending);
    runDialog_(dialog);
}

void OutputModesPanel::openVoltageOnly() {
    const SetOutputDialog::Limits limits = voltageOnlyLimits(table_);
    Widgets* w = widgets_;
    SetOutputDialog dialog(
        limits, true, table_, [w]() -> const std::string& { return w->voltageText; }, this);
    connect(&dialog, &SetOutputDialog::request, this, &OutputModesPanel::requestPending);
    runDialog_(dialog);
}

SetOutputDialog::SetOutputDialog(const Limits& limits, bool voltageOnly,
                                 const instrument::OutputCapabilityTable& table,
                                 std::function<const std::string&()> voltageText, QWidget* parent)
    : QDialog(parent), limits_(limits), voltageOnly_(voltageOnly), table_(table) {
    setWindowTitle(QStringLiteral("设置电压"));
    setModal(true);
    messageSink_ = [this](const QString& message) {
        QMessageBox::warning(this, windowTitle(), message);
    };

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* live = new QLabel(QStringLiteral("当前电压：") + text(voltageText()), this);
    stayOpen_ = new QToolButton(this);
    stayOpen_->setCheckable(true);
    stayOpen_->setAutoRaise(true);
    stayOpen_->setIcon(pinIcon(false));
    connect(stayOpen_, &QToolButton::toggled, this, [this](bool on) {
        stayOpenOn_ = on;
        stayOpen_->setIcon(pinIcon(on));
    });
    top->addWidget(live);
    top->addStretch();
    top->addWidget(stayOpen_);
    layout->addLayout(top);

    auto* mode = new QLabel(QStringLiteral("输出模式编号：%1").arg(limits.mode), this);
    layout->addWidget(mode);
    auto* fields = new QGridLayout;
    auto range = [this](int least, int most) {
        return new QLabel(QStringLiteral("(%1-%2)").arg(least * 10).arg(most * 10), this);
    };
    voltage_ = new QLineEdit(QString::number(limits.maxVoltage10mV * 10), this);
    current_ = new QLineEdit(QString::number(limits.maxCurrent10mA * 10), this);
    auto* currentCaption = new QLabel(QStringLiteral("请求输出电流(mA):"), this);
    auto* currentRange = range(limits.minCurrent10mA, limits.maxCurrent10mA);
    fields->addWidget(new QLabel(QStringLiteral("请求输出电压(mV):"), this), 0, 0);
    fields->addWidget(voltage_, 0, 1);
    fields->addWidget(range(limits.minVoltage10mV, limits.maxVoltage10mV), 0, 2);
    fields->addWidget(currentCaption, 1, 0);
    fields->addWidget(current_, 1, 1);
    fields->addWidget(currentRange, 1, 2);
    layout->addLayout(fields);
    if (voltageOnly) {
        for (QWidget* hidden :
             {static_cast<QWidget*>(mode), static_cast<QWidget*>(currentCaption),
              static_cast<QWidget*>(current_), static_cast<QWidget*>(currentRange)})
            hidden->hide();
    }

    auto* buttons = new QHBoxLayout;
    sent_ = new QLabel(this);
    buttons->addWidget(sent_);
    buttons->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &SetOutputDialog::confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    auto* tick = new QTimer(this);
    connect(tick, &QTimer::timeout, this, [live, voltageText] {
        live->setText(QStringLiteral("当前电压：") + text(voltageText()));
    });
    tick->start(200);
    auto* sentTimer = new QTimer(this);
    sentTimer->setObjectName(QStringLiteral("sentTimer"));
    sentTimer->setSingleShot(true);
    sentTimer->setInterval(300);
    connect(sentTimer, &QTimer::timeout, sent_, &QLabel::clear);
}

void SetOutputDialog::confirm() {
    // A refused field keeps the focus and nothing is sent.
    auto check = [this](QLineEdit* field, int least10, int most10, int& value) {
        const common::IntegerField typed =
            common::checkIntegerField(field->text().toStdString(), least10 * 10LL, most10 * 10LL);
        if (!typed.problem) {
            value = static_cast<int>(typed.value);
            return true;
        }
        messageSink_(text(*typed.problem));
        field->setFocus();
        field->selectAll();
        return false;
    };
    PendingOutputRequest pending{limits_.mode, 0, 0};
    if (!voltageOnly_ &&
        !check(current_, limits_.minCurrent10mA, limits_.maxCurrent10mA, pending.milliamps))
        return;
    if (!check(voltage_, limits_.minVoltage10mV, limits_.maxVoltage10mV, pending.millivolts))
        return;
    if (voltageOnly_) pending = voltageOnlyRequest(table_, pending.millivolts);
    emit request(pending);
    if (!stayOpenOn_) {
        accept();
        return;
    }
    sent_->setText(QStringLiteral("已发送!"));
    // Restarted by each send, so the label stays a full 300 ms after the last one.
    findChild<QTimer*>(QStringLiteral("sentTimer"))->start();
}

}  // namespace analyzer::ui
