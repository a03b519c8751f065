#include "analyzer/ui/send_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <map>
#include <vector>

#include "ufcs/names.h"

namespace analyzer::ui {
namespace {

QString hexText(const uint8_t* bytes, std::size_t count) {
    QStringList parts;
    for (std::size_t i = 0; i < count; ++i)
        parts << QString::asprintf("%02X", bytes[i]);
    return parts.join(QLatin1Char(' '));
}

// The hex fields' messages name their field; number prompts are shared and need a recheck.

}  // namespace

// A QObject child of the dialog, so it goes with it and takes its connections along.
struct SendDialog::Impl : QObject {
    struct Field {
        std::string name;
        QWidget* widget;
        std::function<QString()> text;
    };
    struct ModeRow {
        QPushButton* button;
        std::array<QLabel*, 4> labels;  // voltage range, current range, voltage step, current step
    };

    SendPages pages;
    instrument::OutputCapabilityTable table;
    std::function<void(const QString&)> sink;
    QListWidget* list = nullptr;
    QStackedWidget* stack = nullptr;
    QPushButton* sendButton = nullptr;
    QTextEdit* log = nullptr;
    std::map<int, std::vector<Field>> fields;  // by position 10-17
    std::map<int, int> stackIndex;             // position -> page; others show page 0
    std::array<ModeRow, 7> rows{};
    QLabel* voltageLabel = nullptr;
    QLabel* currentLabel = nullptr;
    QLabel* modeLabel = nullptr;
    QButtonGroup* baud = nullptr;

    QLineEdit* lineField(int position, const char* name, const QString& initial, QWidget* parent) {
        auto* edit = new QLineEdit(initial, parent);
        fields[position].push_back({name, edit, [edit] { return edit->text(); }});
        return edit;
    }
    QComboBox* comboField(int position, const char* name, const QStringList& items, int offset,
                          QWidget* parent) {
        auto* combo = new QComboBox(parent);
        combo->addItems(items);
        fields[position].push_back({name, combo, [combo, offset] {
                                        return QString::number(combo->currentIndex() + offset);
                                    }});
        return combo;
    }
    QWidget* addPage(int position) {
        auto* page = new QWidget;
        stackIndex[position] = stack->addWidget(page);
        return page;
    }

    void buildRequestPage();
    void buildPages();
    void fillFromMode(int n);
    QWidget* fieldWidget(int position, const std::string& name) const;
};

void SendDialog::Impl::buildRequestPage() {
    QWidget* page = addPage(kSendRequest);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("输出模式编号(1-7)"),
                 lineField(kSendRequest, "mode-number", QString::number(pages.requestMode), page));
    form->addRow(
        QStringLiteral("请求输出电压(mV)"),
        lineField(kSendRequest, "voltage", QString::number(pages.requestMillivolts), page));
    form->addRow(QStringLiteral("请求输出电流(mA)"),
                 lineField(kSendRequest, "current", QString::number(pages.requestMilliamps), page));
    auto* grid = new QGridLayout;
    grid->addWidget(
        new QLabel(QStringLiteral("编号       电压(V)          电流(A)      步进(mV) 步进(mA)"),
                   page),
        0, 0, 1, 5);
    for (int i = 0; i < 7; ++i) {
        ModeRow& row = rows[std::size_t(i)];
        row.button = new QPushButton(QString::number(i + 1), page);
        grid->addWidget(row.button, i + 1, 0);
        for (int c = 0; c < 4; ++c) {
            row.labels[std::size_t(c)] = new QLabel(page);
            grid->addWidget(row.labels[std::size_t(c)], i + 1, c + 1);
        }
        connect(row.button, &QPushButton::clicked, this, [this, i] { fillFromMode(i + 1); });
    }
    voltageLabel = new QLabel(QStringLiteral("当前电压："), page);
    currentLabel = new QLabel(QStringLiteral("当前电流："), page);
    modeLabel = new QLabel(QStringLiteral("当前模式编号："), page);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addLayout(grid);
    layout->addWidget(voltageLabel);
    layout->addWidget(currentLabel);
    layout->addWidget(modeLabel);
    layout->addStretch();
}

void SendDialog::Impl::buildPages() {
    stack->addWidget(new QWidget);  // the entries without parameters
    buildRequestPage();

    QWidget* page = addPage(kSendConfigWatchdog);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("看门狗定时器溢出时间( >15ms):"), page));
    row->addWidget(
        lineField(kSendConfigWatchdog, "ms", QString::number(pages.watchdogMilliseconds), page));
    row->addWidget(new QLabel(QStringLiteral("0为关闭"), page));
    auto* box = new QVBoxLayout(page);
    box->addLayout(row);
    box->addStretch();

    page = addPage(kSendVerifyRequest);
    auto* form = new QFormLayout(page);
    form->addRow(QStringLiteral("密钥编号（16进制，1字节）"),
                 lineField(kSendVerifyRequest, "key-index", hexText(&pages.keyIndex, 1), page));
    form->addRow(
        QStringLiteral("随机数据（16进制，16字节）"),
        lineField(kSendVerifyRequest, "random", hexText(pages.verifyRandom.data(), 16), page));

    page = addPage(kSendVerifyResponse);
    form = new QFormLayout(page);
    form->addRow(
        QStringLiteral("加密数据（16进制，32字节）"),
        lineField(kSendVerifyResponse, "encrypted", hexText(pages.encrypted.data(), 32), page));
    form->addRow(
        QStringLiteral("随机数据（16进制，16字节）"),
        lineField(kSendVerifyResponse, "random", hexText(pages.responseRandom.data(), 16), page));

    const QStringList offOn = {QStringLiteral("关闭"), QStringLiteral("使能")};
    const QStringList devices = {QStringLiteral("供电设备"), QStringLiteral("充电设备"),
                                 QStringLiteral("线缆电子标签")};
    page = addPage(kSendTestRequest);
    form = new QFormLayout(page);
    form->addRow(QStringLiteral("测试模式"),
                 comboField(kSendTestRequest, "test-mode", offOn, 0, page));
    form->addRow(QStringLiteral("电压精度测试模式"),
                 comboField(kSendTestRequest, "voltage-accuracy", offOn, 0, page));
    form->addRow(QStringLiteral("消息类型"),
                 comboField(kSendTestRequest, "message-type",
                            {QStringLiteral("控制消息"), QStringLiteral("数据消息"),
                             QStringLiteral("自定义消息")},
                            0, page));
    form->addRow(QStringLiteral("设备地址"),
                 comboField(kSendTestRequest, "device", devices, 0, page));
    form->addRow(QStringLiteral("命令编号"),
                 lineField(kSendTestRequest, "command", QString::number(pages.testCommand), page));

    page = addPage(kSendVendor);
    form = new QFormLayout(page);
    // The receiver address is the combo's index + 1 (1 source, 2 sink, 3 cable).
    form->addRow(QStringLiteral("接收设备地址"),
                 comboField(kSendVendor, "receiver", devices, 1, page));
    form->addRow(QStringLiteral("厂商ID（16进制，2字节）"),
                 lineField(kSendVendor, "vendor-id", hexText(pages.vendorId.data(), 2), page));
    form->addRow(QStringLiteral("数据（16进制，1-58字节）"),
                 lineField(kSendVendor, "data",
                           hexText(pages.vendorData.data(), pages.vendorData.size()), page));

    page = addPage(kSendBaudRate);
    baud = new QButtonGroup(page);
    box = new QVBoxLayout(page);
    for (int rate : {115200, 57600, 38400, 19200}) {
        auto* radio = new QRadioButton(QString::number(rate), page);
        baud->addButton(radio, rate);
        radio->setChecked(rate == pages.baudRate);
        box->addWidget(radio);
    }
    box->addStretch();
    fields[kSendBaudRate].push_back(
        {"baud", nullptr, [this] { return QString::number(baud->checkedId()); }});

    page = addPage(kSendCustom);
    box = new QVBoxLayout(page);
    box->addWidget(new QLabel(QStringLiteral("数据（16进制 3-258字节）"), page));
    box->addWidget(lineField(kSendCustom, "bytes",
                             hexText(pages.customBytes.data(), pages.customBytes.size()), page));
    box->addWidget(new QLabel(
        QStringLiteral("填入发送的数据，包括消息头和消息主体，不包括Training序列(0xAA)和CRC"),
        page));
    box->addWidget(new QLabel(
        QStringLiteral("注：消息头发送编号将会自行调整，Training和CRC将会自动加上"), page));
    box->addStretch();
}

void SendDialog::Impl::fillFromMode(int n) {
    const instrument::OutputModeEntry entry = table.entry(n - 1);
    const std::vector<Field>& request = fields[kSendRequest];
    static_cast<QLineEdit*>(request[0].widget)->setText(QString::number(n));
    static_cast<QLineEdit*>(request[1].widget)->setText(QString::number(entry.maxVoltage10mV * 10));
    static_cast<QLineEdit*>(request[2].widget)->setText(QString::number(entry.maxCurrent10mA * 10));
}

QWidget* SendDialog::Impl::fieldWidget(int position, const std::string& name) const {
    if (position == kSendBaudRate && name == "baud") return baud->checkedButton();
    const auto page = fields.find(position);
    if (page == fields.end()) return nullptr;
    for (const Field& f : page->second) {
        if (f.name == name) return f.widget;
    }
    return nullptr;
}

SendDialog::SendDialog(QWidget* parent) : QDialog(parent), impl_(new Impl) {
    impl_->setParent(this);
    Impl& d = *impl_;
    setWindowTitle(QStringLiteral("发送消息"));
    setModal(false);
    d.sink = [this](const QString& message) {
        QMessageBox::information(this, windowTitle(), message);
    };

    d.list = new QListWidget(this);
    for (std::string_view entry : ufcs::SendMenuEntries)
        d.list->addItem(QString::fromUtf8(entry.data(), qsizetype(entry.size())));
    // Wide enough for the longest entry name, with no horizontal scrolling.
    d.list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    d.list->setFixedWidth(d.list->sizeHintForColumn(0) + 2 * d.list->frameWidth() + 8);
    d.stack = new QStackedWidget(this);
    d.buildPages();
    connect(d.list, &QListWidget::currentRowChanged, impl_, [&d](int row) {
        const auto page = d.stackIndex.find(row);
        d.stack->setCurrentIndex(page == d.stackIndex.end() ? 0 : page->second);
    });
    d.list->setCurrentRow(kSendPing);

    d.sendButton = new QPushButton(QStringLiteral("发送"), this);
    auto* clear = new QPushButton(QStringLiteral("清除"), this);
    d.log = new QTextEdit(this);
    d.log->setReadOnly(true);
    connect(d.sendButton, &QPushButton::clicked, impl_, [this] { send(); });
    connect(clear, &QPushButton::clicked, d.log, &QTextEdit::clear);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(d.sendButton);
    buttons->addWidget(clear);
    auto* right = new QVBoxLayout;
    right->addWidget(d.stack);
    right->addLayout(buttons);
    right->addWidget(d.log, 1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(d.list);
    layout->addLayout(right, 1);
    setCapabilityTable({});
}

void SendDialog::prepareForMode(int mode) {
    if (mode != 2) return;
    auto enable = [this](int row, bool on) {
        QListWidgetItem* item = impl_->list->item(row);
        item->setFlags(on ? item->flags() | Qt::ItemIsEnabled : item->flags() & ~Qt::ItemIsEnabled);
    };
    for (int row :
         {kSendGetOutputCapabilities, kSendGetSourceInfo, kSendRequest, kSendConfigWatchdog})
        enable(row, true);
    enable(kSendGetSinkInfo, false);
}

void SendDialog::setSendEnabled(bool enabled) {
    impl_->sendButton->setEnabled(enabled);
}

void SendDialog::setCapabilityTable(const instrument::OutputCapabilityTable& table) {
    impl_->table = table;
    const int shown = std::min<int>(table.modeCount, 7);
    for (int i = 0; i < 7; ++i) {
        Impl::ModeRow& row = impl_->rows[std::size_t(i)];
        const bool visible = i < shown;
        row.button->setVisible(visible);
        for (QLabel* label : row.labels)
            label->setVisible(visible);
        if (!visible) continue;
        const instrument::OutputModeEntry e = table.entry(i);
        row.labels[0]->setText(
            QString::asprintf("%g-%g", e.minVoltage10mV * 0.01, e.maxVoltage10mV * 0.01));
        row.labels[1]->setText(
            QString::asprintf("%g-%g", e.minCurrent10mA * 0.01, e.maxCurrent10mA * 0.01));
        row.labels[2]->setText(QString::asprintf("%d", e.voltageStepMillivolts()));
        row.labels[3]->setText(QString::asprintf("%d", e.currentStepMilliamps()));
    }
}

void SendDialog::setLiveTexts(const StatusTexts& texts) {
    impl_->voltageLabel->setText(QStringLiteral("当前电压：") +
                                 QString::fromStdString(texts.voltage) + QStringLiteral(" V"));
    impl_->currentLabel->setText(QStringLiteral("当前电流：") +
                                 QString::fromStdString(texts.current) + QStringLiteral(" A"));
    impl_->modeLabel->setText(QStringLiteral("当前模式编号：") +
                              QString::number(texts.values.modeNumber));
}

void SendDialog::appendLog(const QString& text) {
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    impl_->log->moveCursor(QTextCursor::End);
    impl_->log->insertPlainText(plain);
    impl_->log->moveCursor(QTextCursor::End);
    impl_->log->ensureCursorVisible();
}

const SendPages& SendDialog::pages() const {
    return impl_->pages;
}

void SendDialog::selectEntry(int position) {
    impl_->list->setCurrentRow(position);
}

int SendDialog::selectedEntry() const {
    return impl_->list->currentRow();
}

void SendDialog::send() {
    const int position = selectedEntry();
    if (position >= kSendRequest && position <= kSendCustom) {
        const std::vector<Impl::Field>& page = impl_->fields[position];
        std::vector<PageField> typed;
        for (const Impl::Field& f : page)
            typed.push_back({f.name, f.text().toStdString()});
        if (const std::optional<PageProblem> problem = checkPage(position, typed, impl_->pages)) {
            impl_->sink(QString::fromStdString(problem->message));
            if (QWidget* widget = impl_->fieldWidget(position, problem->field)) widget->setFocus();
            return;
        }
    }
    emit sendRequested(position);
}

void SendDialog::setMessageSink(std::function<void(const QString&)> sink) {
    impl_->sink = std::move(sink);
}

QWidget* SendDialog::field(int position, const QString& name) const {
    return impl_->fieldWidget(position, name.toStdString());
}

}  // namespace analyzer::ui
