#include "analyzer/ui/dialogs.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <functional>

#include "ufcs/names.h"

namespace analyzer::ui {
namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// "确定" accepts, "取消" rejects, both right-aligned under the dialog's content.
QHBoxLayout* okCancelRow(QDialog* dialog) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定"), dialog);
    auto* cancel = new QPushButton(QStringLiteral("取消"), dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    row->addWidget(ok);
    row->addWidget(cancel);
    return row;
}

// One box of a popup: the column it sits in, its caption and the filter field it edits.
using BoxVisitor = std::function<void(int column, const QString& caption, bool& field)>;

// Walks a group's boxes in display order. The constructor and filter() both
// use it, so box i always edits the same field.
void forEachBox(FilterPopup::Group group, ufcs::ListFilter& f, const BoxVisitor& visit) {
    using Group = FilterPopup::Group;
    switch (group) {
        case Group::Type: {
            const char* captions[] = {"控制消息", "数据消息", "厂商自定"};
            for (int i = 0; i < 3; ++i)
                visit(0, QString::fromUtf8(captions[i]), f.types[i]);
            break;
        }
        case Group::Receiver:
            for (int i = 0; i < 3; ++i)
                visit(0, text(ufcs::DeviceAddressNames[i + 1]), f.receivers[i]);
            break;
        case Group::Message: {
            for (std::size_t i = 0; i < f.controlCommands.size(); ++i)
                visit(0, text(ufcs::ControlMessageNames[i].english), f.controlCommands[i]);
            for (std::size_t row = 1; row < f.dataCommands.size(); ++row)
                visit(1, text(ufcs::DataMessageNames[row].english), f.dataCommands[row]);
            visit(2, QStringLiteral("厂家自定义消息"), f.vendorMessages);
            const char* resets[] = {"D+设备", "D-设备", "D+线缆", "D-线缆"};
            for (int i = 0; i < 4; ++i)
                visit(2, QString::fromUtf8(resets[i]), f.resets[i]);
            // Handshakes: the two requests, then the two replies, sink first in each pair.
            visit(2, QStringLiteral("充电设备"), f.handshakes[2]);
            visit(2, QStringLiteral("供电设备"), f.handshakes[0]);
            visit(2, QStringLiteral("充电设备应答"), f.handshakes[3]);
            visit(2, QStringLiteral("供电设备应答"), f.handshakes[1]);
            break;
        }
        case Group::Baud: {
            const char* bauds[] = {"115200", "57600", "38400", "19200"};
            for (int i = 0; i < 4; ++i)
                visit(0, QString::fromUtf8(bauds[i]), f.bauds[i]);
            break;
        }
    }
}

}  // namespace

ModeDialog::ModeDialog(uint8_t mode, bool typeCPort, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("模式选择"));
    listening_ = new QRadioButton(QStringLiteral("监听模式"), this);
    chargingDevice_ = new QRadioButton(QStringLiteral("充电设备模式"), this);
    typeC_ = new QCheckBox(QStringLiteral("Type C接口"), this);

    // Only two modes are offered; anything but listening shows as the emulation.
    (mode == 1 ? listening_ : chargingDevice_)->setChecked(true);
    typeC_->setChecked(typeCPort);
    typeC_->setEnabled(mode != 1);
    // The port only matters while emulating; its tick survives a trip to listening.
    connect(listening_, &QRadioButton::clicked, typeC_, [this] { typeC_->setEnabled(false); });
    connect(chargingDevice_, &QRadioButton::clicked, typeC_, [this] { typeC_->setEnabled(true); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(listening_);
    layout->addWidget(chargingDevice_);
    layout->addWidget(typeC_);
    layout->addLayout(okCancelRow(this));
}

uint8_t ModeDialog::mode() const {
    return chargingDevice_->isChecked() ? 2 : 1;
}

bool ModeDialog::typeCPort() const {
    return typeC_->isChecked();
}

RefusalDialog::RefusalDialog(bool refuseAck, bool refusePing, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("拒收设置"));
    ack_ = new QCheckBox(QStringLiteral("拒收ACK"), this);
    ping_ = new QCheckBox(QStringLiteral("拒收Ping"), this);
    ack_->setChecked(refuseAck);
    ping_->setChecked(refusePing);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ack_);
    layout->addWidget(ping_);
    layout->addLayout(okCancelRow(this));
}

bool RefusalDialog::refuseAck() const {
    return ack_->isChecked();
}

bool RefusalDialog::refusePing() const {
    return ping_->isChecked();
}

LogicLinesDialog::LogicLinesDialog(const QStringList& lines, const QStringList& analog,
                                   const logic::LineRoles& proposed, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("选择 D+ 和 D-"));
    auto* grid = new QGridLayout;
    auto lineBox = [this](const QStringList& names, bool optional) {
        auto* box = new QComboBox(this);
        if (optional) box->addItem(QStringLiteral("不用"));
        for (int i = 0; i < names.size(); ++i)
            box->addItem(QStringLiteral("%1  %2").arg(i).arg(names[i]));
        return box;
    };
    dplus_ = lineBox(lines, false);
    dminus_ = lineBox(lines, false);
    dplus_->setCurrentIndex(static_cast<int>(proposed.dplus));
    dminus_->setCurrentIndex(static_cast<int>(proposed.dminus));
    grid->addWidget(new QLabel(QStringLiteral("D+（供电设备发送）"), this), 0, 0);
    grid->addWidget(dplus_, 0, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("D-（充电设备发送）"), this), 1, 0);
    grid->addWidget(dminus_, 1, 1, 1, 3);
    if (!analog.isEmpty()) {
        // Each analog line with the factor that makes its reading volts or amperes.
        auto analogRow = [&](int row, const QString& label, const QString& unit,
                             std::optional<std::size_t> line, double scale, QComboBox*& box,
                             QDoubleSpinBox*& scaleBox) {
            box = lineBox(analog, true);
            box->setCurrentIndex(line ? static_cast<int>(*line) + 1 : 0);
            scaleBox = new QDoubleSpinBox(this);
            scaleBox->setDecimals(4);
            scaleBox->setRange(0.0001, 100000);
            scaleBox->setValue(scale);
            grid->addWidget(new QLabel(label, this), row, 0);
            grid->addWidget(box, row, 1);
            grid->addWidget(new QLabel(QStringLiteral("×"), this), row, 2);
            auto* scaleRow = new QHBoxLayout;
            scaleRow->addWidget(scaleBox);
            scaleRow->addWidget(new QLabel(unit, this));
            grid->addLayout(scaleRow, row, 3);
        };
        analogRow(2, QStringLiteral("VBUS（总线电压）"), QStringLiteral("= 伏"), proposed.vbus,
                  proposed.vbusScale, vbus_, vbusScale_);
        analogRow(3, QStringLiteral("IBUS（总线电流）"), QStringLiteral("= 安"), proposed.ibus,
                  proposed.ibusScale, ibus_, ibusScale_);
    }
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("文件中的线名没有标明各线的用途，请选择："), this));
    layout->addLayout(grid);
    layout->addLayout(okCancelRow(this));
}

logic::LineRoles LogicLinesDialog::roles() const {
    logic::LineRoles chosen;
    chosen.dplus = static_cast<std::size_t>(dplus());
    chosen.dminus = static_cast<std::size_t>(dminus());
    auto analogLine = [](const QComboBox* box) -> std::optional<std::size_t> {
        if (!box || box->currentIndex() <= 0) return std::nullopt;
        return static_cast<std::size_t>(box->currentIndex() - 1);
    };
    chosen.vbus = analogLine(vbus_);
    chosen.ibus = analogLine(ibus_);
    if (vbusScale_) chosen.vbusScale = vbusScale_->value();
    if (ibusScale_) chosen.ibusScale = ibusScale_->value();
    return chosen;
}

int LogicLinesDialog::dplus() const {
    return dplus_->currentIndex();
}

int LogicLinesDialog::dminus() const {
    return dminus_->currentIndex();
}

FilterPopup::FilterPopup(Group group, const ufcs::ListFilter& filter, QWidget* parent)
    : QDialog(parent, Qt::Popup), group_(group), filter_(filter) {
    auto* layout = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    layout->addLayout(columns);
    QList<QVBoxLayout*> columnLayouts;

    ufcs::ListFilter initial = filter_;
    forEachBox(group_, initial, [&](int column, const QString& caption, bool& field) {
        while (columnLayouts.size() <= column) {
            columnLayouts.append(new QVBoxLayout);
            columns->addLayout(columnLayouts.back());
        }
        auto* box = new QCheckBox(caption, this);
        box->setChecked(field);
        columnLayouts[column]->addWidget(box);
        boxes_.append(box);
    });
    for (QVBoxLayout* column : columnLayouts)
        column->addStretch();

    auto* buttons = new QHBoxLayout;
    if (group_ == Group::Message) {
        auto* all = new QPushButton(QStringLiteral("全选"), this);
        auto* none = new QPushButton(QStringLiteral("全不选"), this);
        connect(all, &QPushButton::clicked, this, [this] {
            for (QCheckBox* box : boxes_)
                box->setChecked(true);
        });
        connect(none, &QPushButton::clicked, this, [this] {
            for (QCheckBox* box : boxes_)
                box->setChecked(false);
        });
        buttons->addWidget(all);
        buttons->addWidget(none);
    }
    buttons->addStretch();
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(ok);
    layout->addLayout(buttons);
}

ufcs::ListFilter FilterPopup::filter() const {
    ufcs::ListFilter result = filter_;
    qsizetype i = 0;
    forEachBox(group_, result,
               [&](int, const QString&, bool& field) { field = boxes_[i++]->isChecked(); });
    return result;
}

QCheckBox* FilterPopup::box(const QString& caption) const {
    for (QCheckBox* box : boxes_) {
        if (box->text() == caption) return box;
    }
    return nullptr;
}

TimingDialog::TimingDialog(const QString& summary, const ufcs::SequenceReport& report,
                           QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("时序"));
    resize(760, 420);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(summary, this));
    auto* list = new QListWidget(this);
    for (const ufcs::SequenceNote& note : report.notes()) {
        if (!note.isFinding()) continue;
        auto* item = new QListWidgetItem(
            QStringLiteral("第 %1 条    ").arg(note.index) + QString::fromStdString(note.text),
            list);
        item->setData(Qt::UserRole, note.index);
    }
    layout->addWidget(list, 1);
    layout->addWidget(new QLabel(QStringLiteral("双击一行转到该记录"), this));
    connect(list, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        emit recordChosen(item->data(Qt::UserRole).toUInt());
    });
}

}  // namespace analyzer::ui
