#include "analyzer/ui/main_window.h"

#include "analyzer/settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "analyzer/ui/message_list_model.h"
#include "analyzer/ui/output_modes_panel.h"
#include "analyzer/ui/packet_curve_view.h"
#include "analyzer/ui/send_dialog.h"
#include "qt/save_question.h"
#include "qt/text.h"
#include "ufcs/capture_file.h"

namespace analyzer::ui {
namespace {

using qt_adapters::fromStd;

constexpr int kNormalWidths[ufcs::kListColumns] = {60, 60, 80, 200, 300, 70, 130, 60};
constexpr int kCompactWidths[ufcs::kListColumns] = {44, 44, 63, 150, 217, 50, 85, 49};
constexpr const char* kWidestTexts[ufcs::kListColumns] = {
    " 65535", "", "", "", "", "21.00", "0:00:00.000", "115200"};
constexpr int kListFontPixels = 11;
constexpr int kInsertBatchMs = 40;
const QColor kCyan(0, 255, 255);
const QColor kYellow(255, 255, 0);
const QString kFileFilter = QStringLiteral("UFCS(*.ufcs_stream);;所有文件(*.*)");
const QString kRecorderName = QStringLiteral("Tarsel电压电流测量");
const QString kManualName = QStringLiteral("ufcs分析仪使用说明.pdf");
const QString kTitle = QStringLiteral("TarselUFCS解析程序");
const QString kCsvUtf8Filter = QStringLiteral("CSV UTF-8 (*.csv)");
const QString kCsvGbkFilter = QStringLiteral("CSV GBK (*.csv)");
const QString kTextFilter = QStringLiteral("文本 (*.txt)");

// The header buttons show whether their popup has every box ticked.
QIcon filterIcon(bool allTicked) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setBrush(allTicked ? QColor(60, 170, 60) : QColor(230, 140, 20));
    painter.setPen(Qt::black);
    painter.drawRect(1, 1, 13, 13);
    painter.setPen(Qt::white);
    painter.drawText(QRect(1, 1, 14, 14), Qt::AlignCenter, QStringLiteral("B"));
    return QIcon(pixmap);
}

bool groupAllTicked(const ufcs::ListFilter& filter, FilterPopup::Group group) {
    switch (group) {
        case FilterPopup::Group::Type:
            return filter.typesAllTicked();
        case FilterPopup::Group::Receiver:
            return filter.receiversAllTicked();
        case FilterPopup::Group::Message:
            return filter.messagesAllTicked();
        case FilterPopup::Group::Baud:
            return filter.baudsAllTicked();
    }
    return true;
}

QTextEdit* blackTextBox(QWidget* parent, const QColor& text) {
    auto* box = new QTextEdit(parent);
    box->setReadOnly(true);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, text);
    box->setPalette(palette);
    return box;
}

}  // namespace

Layout layoutForScreen(int width, int height) {
    return width < 1360 || height < 850 ? Layout::Compact : Layout::Normal;
}

MainWindow::MainWindow(device::HidDevice& device, ufcs::CaptureStore& store,
                       common::Profile& profile, common::Clock& clock, QString programDir,
                       Layout layout, QWidget* parent)
    : QDialog(parent),
      device_(device),
      store_(store),
      profile_(profile),
      clock_(clock),
      programDir_(std::move(programDir)),
      layout_(layout),
      loop_(this),
      captureList_(store),
      dialogFolder_(profile) {
    session_ = std::make_unique<Session>(device, store, profile, loop_, clock,
                                         static_cast<SessionListener&>(*this));
    runModeDialog_ = [](ModeDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
    runRefusalDialog_ = [](RefusalDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
    runFilterPopup_ = [](FilterPopup& popup) { return popup.exec() == QDialog::Accepted; };
    messageSink_ = [this](const QString& text) {
        QMessageBox::information(this, windowTitle(), text);
    };
    runSaveQuestion_ = [this] { return qt_adapters::askToSave(this, windowTitle()); };
    chooseSavePath_ = [this] {
        return QFileDialog::getSaveFileName(this, QStringLiteral("保存文件"),
                                            dialogFolder_.suggest(QStringLiteral("my")),
                                            kFileFilter);
    };
    chooseExport_ = [this] {
        QString filter = kCsvUtf8Filter;
        ExportChoice choice;
        choice.path = QFileDialog::getSaveFileName(
            this, QStringLiteral("导出"), dialogFolder_.suggest(QStringLiteral("my")),
            kCsvUtf8Filter + ";;" + kCsvGbkFilter + ";;" + kTextFilter, &filter);
        choice.format = filter == kTextFilter     ? ufcs::RowExportFormat::Text
                        : filter == kCsvGbkFilter ? ufcs::RowExportFormat::CsvGbk
                                                  : ufcs::RowExportFormat::CsvUtf8;
        return choice;
    };
    checker_.setWindows(analyzer::AnalyzerSettings(profile_).checkWindows());

    setWindowTitle(kTitle);
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    store_.setCount(0);
    buildControls();
    onListeningChanged(false);
    autoScrollBox_->setChecked(true);
    QTimer::singleShot(1000, list_->viewport(), qOverload<>(&QWidget::update));
}

MainWindow::~MainWindow() {
    // Hidden while still whole: what the children signal as they hide (the
    // header's geometry) reaches this window's slots, not a half-destroyed one.
    hide();
    session_.reset();
}

void MainWindow::buildControls() {
    const bool compact = layout_ == Layout::Compact;
    resize(compact ? 1024 : 1398, compact ? 700 : 820);
    buildListAndPanes(compact);
    sizeFontsAndColumns(compact);
    buildButtons();
    buildDialogs();
    layOutControls(compact);
    placeFilterButtons();
    buildTimers();
    connectControls();
    updateStatusLine();
}

void MainWindow::buildListAndPanes(bool compact) {
    model_ = new MessageListModel(captureList_, store_, this);
    list_ = new QTableView(this);
    list_->setModel(model_);
    list_->setShowGrid(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(
        QHeaderView::Fixed);  // uniform rows: no per-row sizing
    list_->horizontalHeader()->setStretchLastSection(false);
    QPalette listPalette = list_->palette();
    listPalette.setColor(QPalette::Base, Qt::black);
    list_->setPalette(listPalette);
    tree_ = new QTreeWidget(this);
    tree_->setHeaderHidden(true);
    QPalette treePalette = tree_->palette();
    treePalette.setColor(QPalette::Base, Qt::black);
    treePalette.setColor(QPalette::Text, kCyan);
    tree_->setPalette(treePalette);
    pane_ = blackTextBox(this, kCyan);
    pane_->setContextMenuPolicy(Qt::CustomContextMenu);
    voltageBox_ = blackTextBox(this, Qt::red);
    currentBox_ = blackTextBox(this, Qt::green);
    for (QTextEdit* box : {voltageBox_, currentBox_}) {
        box->setFixedSize(compact ? 90 : 130, compact ? 28 : 36);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
}

void MainWindow::sizeFontsAndColumns(bool compact) {
    // The list's own font is the dialog font of 11 pixels its column widths were made for;
    // the normal layout enlarges it 1.4 times for the list, the tree and the text boxes.
    QFont listFont = list_->font();
    listFont.setPixelSize(kListFontPixels);
    list_->setFont(listFont);
    tree_->setFont(listFont);
    pane_->setFont(listFont);
    if (!compact) {
        QFont large = listFont;
        large.setPixelSize(static_cast<int>(kListFontPixels * 1.4 + 0.5));
        for (QWidget* widget :
             std::initializer_list<QWidget*>{list_, tree_, pane_, voltageBox_, currentBox_}) {
            widget->setFont(large);
        }
    }
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    int columnsWidth = 0;
    for (int column = 0; column < static_cast<int>(ufcs::kListColumns); ++column) {
        // Never narrower than the widest text the column shows in this font.
        const int width = std::max(
            (compact ? kCompactWidths : kNormalWidths)[column],
            list_->fontMetrics().horizontalAdvance(QLatin1String(kWidestTexts[column])) + 10);
        list_->setColumnWidth(column, width);
        columnsWidth += width;
    }
    // Every column in view; the tree and the pane take the rest of the width.
    list_->setMinimumWidth(columnsWidth + list_->verticalScrollBar()->sizeHint().width() +
                           2 * list_->frameWidth());
}

void MainWindow::buildButtons() {
    // No button of the window is a default button: Enter (in the find box, or
    // after a click left a button with the focus) must never press one.
    auto makeButton = [this](const char* caption) {
        auto* button = new QPushButton(QString::fromUtf8(caption), this);
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    };
    listenButton_ = makeButton("开始监听");
    saveButton_ = makeButton("保存文件");
    openButton_ = makeButton("打开文件");
    sendButton_ = makeButton("发送消息");
    modesButton_ = makeButton("档位信息");
    modeButton_ = makeButton("模式选择");
    refusalButton_ = makeButton("拒收设置");
    curveButton_ = makeButton("步骤曲线");
    recorderButton_ = makeButton("测试曲线");
#if UFCS_WITH_UPGRADES
    upgradeButton_ = makeButton("版本升级");
#endif
    manualButton_ = makeButton("用户手册");
    exportButton_ = makeButton("导出");
    timingButton_ = makeButton("时序");
    previousFaultButton_ = makeButton("上一个问题");
    nextFaultButton_ = makeButton("下一个问题");
    exportButton_->setToolTip(QStringLiteral("把列表中的行（按筛选）导出为 CSV 或文本"));
    timingButton_->setToolTip(QStringLiteral("本次测试的全部时序问题"));
    previousFaultButton_->setToolTip(QStringLiteral("上一个出错或有时序问题的行 (Shift+F8)"));
    nextFaultButton_->setToolTip(QStringLiteral("下一个出错或有时序问题的行 (F8)"));
    autoScrollBox_ = new QCheckBox(QStringLiteral("自动卷屏"), this);
    statusLabel_ = new QLabel(this);
    statusLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path must not widen the window.
    statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    findBox_ = new QLineEdit(this);
    findBox_->setPlaceholderText(QStringLiteral("查找 (Ctrl+F, F3)"));
    findBox_->setClearButtonEnabled(true);
    findBox_->setMaximumWidth(220);
}

void MainWindow::buildDialogs() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    curveView_ = new PacketCurveView(store_, profile_,
                                     !screen || screen->availableSize().width() < 1360, this);
    curveButton_->setCheckable(true);
    connect(curveView_, &PacketCurveView::closed, this,
            [this] { curveButton_->setChecked(false); });
    sendDialog_ = new SendDialog(this);
    // Closed by the window manager or Escape: the button offers it again.
    connect(sendDialog_, &QDialog::finished, this,
            [this] { sendButton_->setText(QStringLiteral("发送消息")); });
    modesPanel_ = new OutputModesPanel(this);
    sendDialog_->setMessageSink([this](const QString& text) { message(text); });
    // The dialogs' requests reach the window queued, after the click that made them has finished.
    connect(sendDialog_, &SendDialog::sendRequested, this, [this](int position) {
        QMetaObject::invokeMethod(
            this, [this, position] { sendUfcs(position, session_->mode()); }, Qt::QueuedConnection);
    });
    connect(modesPanel_, &OutputModesPanel::requestMode, this, [this](int position, int mode) {
        QMetaObject::invokeMethod(
            this, [this, position, mode] { sendUfcs(position, mode); }, Qt::QueuedConnection);
    });
    connect(modesPanel_, &OutputModesPanel::requestPending, this,
            [this](const PendingOutputRequest& pending) {
                pending_ = pending;
                QMetaObject::invokeMethod(
                    this, [this] { sendUfcs(kSendPendingRequest, device::kModeChargingDevice); },
                    Qt::QueuedConnection);
            });
}

void MainWindow::layOutControls(bool compact) {
    auto* buttons = new QHBoxLayout;
    for (QWidget* widget : std::initializer_list<QWidget*>{
             listenButton_, saveButton_, openButton_, sendButton_, modesButton_, modeButton_,
             refusalButton_, curveButton_, recorderButton_, upgradeButton_, manualButton_}) {
        if (widget) buttons->addWidget(widget);  // no upgrade button in a build without upgrades
    }
    buttons->addWidget(autoScrollBox_);
    buttons->addStretch();
    auto* status = new QHBoxLayout;
    status->addWidget(statusLabel_, 1);
    status->addWidget(exportButton_);
    status->addWidget(findBox_);
    status->addWidget(timingButton_);
    status->addWidget(previousFaultButton_);
    status->addWidget(nextFaultButton_);
    auto* liveValues = new QHBoxLayout;
    liveValues->addWidget(new QLabel(QStringLiteral("电压："), this));
    liveValues->addWidget(voltageBox_);
    liveValues->addWidget(new QLabel(QStringLiteral("电流："), this));
    liveValues->addWidget(currentBox_);
    liveValues->addStretch();

    auto* right = new QVBoxLayout;
    right->addWidget(tree_, 1);
    right->addWidget(pane_, 1);
    right->addLayout(liveValues);
    auto* top = new QHBoxLayout;
    top->addWidget(list_, compact ? 3 : 5);
    top->addLayout(right, 2);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    outer->addLayout(buttons);
    outer->addLayout(status);
}

void MainWindow::buildTimers() {
    followTimer_ = new QTimer(this);
    followTimer_->setInterval(333);
    insertTimer_ = new QTimer(this);
    insertTimer_->setSingleShot(true);
    insertTimer_->setInterval(kInsertBatchMs);
    connect(insertTimer_, &QTimer::timeout, this, [this] {
        model_->appendNew();
        showDeviceRange();
        refreshChecks();
    });
    rebuildTimer_ = new QTimer(this);
    rebuildTimer_->setSingleShot(true);
    rebuildTimer_->setInterval(55);
}

void MainWindow::connectControls() {
    connect(listenButton_, &QPushButton::clicked, this, &MainWindow::toggleListening);
    connect(saveButton_, &QPushButton::clicked, this, &MainWindow::saveCapture);
    connect(openButton_, &QPushButton::clicked, this, &MainWindow::openCapture);
    connect(modeButton_, &QPushButton::clicked, this, &MainWindow::chooseMode);
    connect(refusalButton_, &QPushButton::clicked, this, &MainWindow::chooseRefusal);
    connect(recorderButton_, &QPushButton::clicked, this, &MainWindow::startRecorder);
    connect(sendButton_, &QPushButton::clicked, this, &MainWindow::toggleComposer);
    connect(modesButton_, &QPushButton::clicked, this, &MainWindow::toggleModesPanel);
    connect(curveButton_, &QPushButton::clicked, this, &MainWindow::toggleCurveView);
    connect(manualButton_, &QPushButton::clicked, this, &MainWindow::openManual);
#if UFCS_WITH_UPGRADES
    connect(upgradeButton_, &QPushButton::clicked, this, &MainWindow::openUpgradeDialog);
#endif
    connect(autoScrollBox_, &QCheckBox::clicked, this, [this](bool ticked) {
        if (!ticked) {
            autoScroll_.onCheckBox(false);
            return;
        }
        // As the End key pressed in the list: armed, and the last row is selected.
        QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
        QCoreApplication::sendEvent(list_, &end);
    });
    connect(pane_, &QTextEdit::customContextMenuRequested, this, &MainWindow::showPaneMenu);
    connect(followTimer_, &QTimer::timeout, this, &MainWindow::followNewestRow);
    connect(rebuildTimer_, &QTimer::timeout, this, &MainWindow::rebuildList);
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) decodeRow(current.row());
            });
    list_->installEventFilter(this);
    connect(exportButton_, &QPushButton::clicked, this, &MainWindow::exportListedRows);
    connect(timingButton_, &QPushButton::clicked, this, &MainWindow::showTimingSummary);
    connect(previousFaultButton_, &QPushButton::clicked, this,
            [this] { goToFaultyRow(ufcs::SearchDirection::Backward); });
    connect(nextFaultButton_, &QPushButton::clicked, this,
            [this] { goToFaultyRow(ufcs::SearchDirection::Forward); });
    findBox_->installEventFilter(this);  // Enter there searches
    const auto shortcut = [this](const QKeySequence& keys, auto action) {
        auto* made = new QShortcut(keys, this);
        made->setContext(Qt::WindowShortcut);
        connect(made, &QShortcut::activated, this, action);
    };
    shortcut(QKeySequence::Find, [this] {
        findBox_->setFocus();
        findBox_->selectAll();
    });
    shortcut(QKeySequence(Qt::Key_F3),
             [this] { findText(findBox_->text(), ufcs::SearchDirection::Forward); });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3),
             [this] { findText(findBox_->text(), ufcs::SearchDirection::Backward); });
    shortcut(QKeySequence(Qt::Key_F8), [this] { goToFaultyRow(ufcs::SearchDirection::Forward); });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F8),
             [this] { goToFaultyRow(ufcs::SearchDirection::Backward); });
    QHeaderView* header = list_->horizontalHeader();
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QHeaderView::customContextMenuRequested, this, &MainWindow::showHeaderMenu);
    connect(header, &QHeaderView::sectionResized, this, &MainWindow::moveFilterButtons);
    connect(header, &QHeaderView::geometriesChanged, this, &MainWindow::moveFilterButtons);
    connect(list_->horizontalScrollBar(), &QScrollBar::valueChanged, this,
            &MainWindow::moveFilterButtons);
    list_->setColumnHidden(MessageListModel::kDeltaColumn, true);
}

void MainWindow::placeFilterButtons() {
    const bool compact = layout_ == Layout::Compact;
    const int size = compact ? 15 : 20;
    QHeaderView* header = list_->horizontalHeader();
    header->setMinimumHeight(size + 4);
    for (int i = 0; i < 4; ++i) {
        auto* button = new QToolButton(header);
        button->setText(QStringLiteral("B"));
        button->setIcon(filterIcon(true));
        button->resize(size, size);
        const auto group = static_cast<FilterPopup::Group>(i);
        connect(button, &QToolButton::clicked, this, [this, group] { openFilterPopup(group); });
        filterButtons_[i] = button;
    }
    // The titles sit at the left of their sections, the buttons at the right.
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    moveFilterButtons();
}

void MainWindow::moveFilterButtons() {
    static constexpr int kFilteredColumns[4] = {1, 2, 3, 7};
    QHeaderView* header = list_->horizontalHeader();
    for (int i = 0; i < 4; ++i) {
        QToolButton* button = filterButtons_[i];
        if (!button) continue;
        const int column = kFilteredColumns[i];
        const int right = header->sectionViewportPosition(column) + header->sectionSize(column);
        button->move(right - button->width() - 2, (header->height() - button->height()) / 2);
    }
}

QToolButton* MainWindow::filterButton(FilterPopup::Group group) const {
    return filterButtons_[static_cast<int>(group)];
}

QPushButton* MainWindow::button(const QString& caption) const {
    for (QPushButton* candidate : findChildren<QPushButton*>()) {
        if (candidate->text() == caption) return candidate;
    }
    return nullptr;
}

void MainWindow::message(const QString& text) {
    messageSink_(text);
}

void MainWindow::appendPaneText(const QString& text, PaneStyle style) {
    QTextCursor cursor = pane_->textCursor();
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(style == PaneStyle::Error  ? QColor(Qt::red)
                         : style == PaneStyle::Note ? kYellow
                                                    : kCyan);
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    cursor.insertText(plain, format);
    pane_->setTextCursor(cursor);
    pane_->ensureCursorVisible();
    if (style != PaneStyle::NormalAtEnd) {
        cursor.movePosition(QTextCursor::Start);
        pane_->setTextCursor(cursor);
    }
}

void MainWindow::clearDecode() {
    tree_->clear();
    pane_->clear();
}

// --- capture control -------------------------------------------------------

void MainWindow::toggleListening() {
    if (!session_->connected() && !settleUnsavedCapture()) return;
    if (modeDialogShown_ == 0) chooseMode();
    session_->toggleListening();
}

void MainWindow::chooseMode() {
    ++modeDialogShown_;
    ModeDialog dialog(session_->mode(), session_->typeCPort(), this);
    if (!runModeDialog_(dialog)) return;
    session_->setMode(dialog.mode());
    session_->setTypeCPort(dialog.typeCPort());
}

void MainWindow::chooseRefusal() {
    // The saved settings govern from the moment the dialog opens, even if it is cancelled.
    session_->loadRefusalSettings();
    RefusalDialog dialog(session_->refuseAck(), session_->refusePing(), this);
    if (runRefusalDialog_(dialog))
        session_->saveRefusalSettings(dialog.refuseAck(), dialog.refusePing());
}

void MainWindow::onCaptureStarting() {
    captureChanged_ = true;
    const bool chargingDevice = session_->mode() == device::kModeChargingDevice;
    sendButton_->setVisible(chargingDevice);
    saveButton_->setVisible(!chargingDevice);
    manualButton_->setVisible(true);
    followTimer_->start();
    curveView_->resetCount();
    model_->clear();
    clearDecode();
    restartChecks();
    setOpenFile({});
    for (QWidget* widget : std::initializer_list<QWidget*>{openButton_, refusalButton_, saveButton_,
                                                           recorderButton_}) {
        widget->setEnabled(false);
    }
    autoScrollBox_->setVisible(true);
    autoScrollBox_->setEnabled(true);
    if (upgradeButton_) upgradeButton_->setVisible(false);
    sendButton_->setEnabled(false);
    sendDialog_->hide();
    sendButton_->setText(QStringLiteral("发送消息"));
    listenButton_->setText(QStringLiteral("停止监听"));
}

void MainWindow::onListeningChanged(bool listening) {
    if (listening) {
        modeButton_->setEnabled(false);
        return;
    }
    sendButton_->setVisible(false);
    saveButton_->setVisible(true);
    manualButton_->setVisible(true);
    followTimer_->stop();
    insertTimer_->stop();
    model_->appendNew();  // the rows still waiting for their batch
    refreshChecks();
    curveView_->captureStopped();
    listenButton_->setText(QStringLiteral("开始监听"));
    for (QWidget* widget : std::initializer_list<QWidget*>{openButton_, refusalButton_, saveButton_,
                                                           recorderButton_, modeButton_}) {
        widget->setEnabled(true);
    }
    autoScrollBox_->setEnabled(false);
    autoScrollBox_->setVisible(false);
    if (upgradeButton_) upgradeButton_->setVisible(true);
    hideSendAndModes();
    voltageBox_->setPlainText(QString::fromUtf8(kIdleValueText));
    currentBox_->setPlainText(QString::fromUtf8(kIdleValueText));
}

void MainWindow::onPaneText(const std::string& text, PaneStyle style) {
    appendPaneText(fromStd(text), style);
}

void MainWindow::onMessageBox(const std::string& text) {
    message(fromStd(text));
}

void MainWindow::onRecordsAdded(uint32_t count) {
    curveView_->countChanged(count);
    // At thousands of records a second, rows go in as one batch per short interval.
    if (!insertTimer_->isActive()) insertTimer_->start();
}

void MainWindow::onLostStep() {
    model_->clear();
    clearDecode();
    restartChecks();
}

void MainWindow::onStoreFull(const std::string& text) {
    model_->setTrailingNote(fromStd(text));
}

void MainWindow::onStatus(const analyzer::StatusEffects& effects) {
    modesPanel_->setMode(session_->mode());
    if (effects.captureStarted) curveView_->resetCount();
    if (effects.disableSendAndModes) hideSendAndModes();
    if (effects.sendConfirmChanged) sendDialog_->setSendEnabled(effects.sendConfirmEnabled);
    if (effects.enableSend) sendButton_->setEnabled(true);
}

void MainWindow::onCapabilityTable(const instrument::OutputCapabilityTable& table) {
    sendDialog_->setCapabilityTable(table);
    modesPanel_->setTable(table);
    modesButton_->setEnabled(true);
}

void MainWindow::onStatusTick(const StatusTexts& texts) {
    voltageBox_->setPlainText(fromStd(texts.voltage));
    currentBox_->setPlainText(fromStd(texts.current));
    sendDialog_->setLiveTexts(texts);
    modesPanel_->setLiveTexts(texts);
}

void MainWindow::hideSendAndModes() {
    sendButton_->setEnabled(false);
    modesButton_->setEnabled(false);
    sendButton_->setText(QStringLiteral("发送消息"));
    sendDialog_->hide();
    modesPanel_->hide();
}

void MainWindow::toggleComposer() {
    if (sendDialog_->isVisible()) {
        sendButton_->setText(QStringLiteral("发送消息"));
        sendDialog_->hide();
        return;
    }
    sendDialog_->prepareForMode(session_->mode());
    sendButton_->setText(QStringLiteral("停止发送"));
    sendDialog_->show();
}

void MainWindow::toggleModesPanel() {
    // Hidden and shown again, which also brings it to the front.
    modesPanel_->hide();
    modesPanel_->show();
    modesPanel_->raise();
}

void MainWindow::sendUfcs(int position, int mode) {
    const std::vector<Frame> frames =
        composeSend(position, mode, sendDialog_->pages(), session_->capabilityTable(), pending_);
    if (frames.empty()) return;
    const bool written = session_->sendFrames(frames) == device::kWritten;
    const std::string entry =
        sendLogEntry(position, sendDialog_->pages(), written, clock_.localTime());
    if (!entry.empty()) sendDialog_->appendLog(fromStd(entry));
}

void MainWindow::followNewestRow() {
    if (autoScroll_.following()) list_->scrollToBottom();
    curveView_->refreshTick();
}

void MainWindow::toggleCurveView() {
    curveView_->setVisible(!curveView_->isVisible());
    curveButton_->setChecked(curveView_->isVisible());
}

// The header row gives the instrument's current range that labels the curve.
void MainWindow::showDeviceRange() {
    if (const auto ranges = captureList_.deviceRanges())
        curveView_->setCurrentRange(ranges->currentRangeMa);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (session_->connected() && autoScroll_.following()) list_->scrollToBottom();
    if (!settleUnsavedCapture()) {
        event->ignore();
        return;
    }
    session_->closeAnalyzer();
    event->accept();
}

bool MainWindow::captureUnsaved() const {
    return captureChanged_ && store_.count() > 1;  // more than the capture's header record
}

// Before a capture that was never saved is dropped: false when the user stays.
bool MainWindow::settleUnsavedCapture() {
    if (!captureUnsaved()) return true;
    switch (runSaveQuestion_()) {
        case QMessageBox::Yes:
            session_->stopListening();  // the store holds still while it is written
            return saveCapture();
        case QMessageBox::No:
            return true;
        default:
            return false;
    }
}

// --- files -----------------------------------------------------------------

bool MainWindow::saveCapture() {
    QString path = chooseSavePath_();
    if (path.isEmpty()) return false;
    dialogFolder_.remember(path);
    if (QFileInfo(path).suffix().isEmpty())
        path += QString::fromUtf8(ufcs::kCaptureFileExtension.data());
    return saveCaptureTo(path);
}

bool MainWindow::saveCaptureTo(const QString& path) {
    const ufcs::FileResult result = ufcs::SaveCapture(
        store_, std::filesystem::path(path.toStdU16String()), common::windowSaveControl());
    if (!result.ok) {
        // Kept unsaved in the window, and safe in the user's data folder meanwhile.
        message(fromStd(ufcs::SaveCaptureToFallback(store_, result.message).message));
        return false;
    }
    captureChanged_ = false;
    setOpenFile(path);
    statusNote_ = QStringLiteral("已保存 %1 条记录到 %2").arg(capturedRecords()).arg(path);
    updateStatusLine();
    return true;
}

void MainWindow::openCapture() {
    if (!settleUnsavedCapture()) return;
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("打开文件"),
                                                      dialogFolder_.start(), kFileFilter);
    if (path.isEmpty()) return;
    dialogFolder_.remember(path);
    openCaptureFrom(path);
}

bool MainWindow::openCaptureFrom(const QString& path) {
    const ufcs::FileResult result =
        ufcs::OpenCapture(store_, std::filesystem::path(path.toStdU16String()));
    if (!result.ok) {
        message(fromStd(result.message));
        return false;
    }
    captureChanged_ = false;
    restartChecks();
    setOpenFile(path);
    analyzer::AnalyzerSettings(profile_).clearDisAck();  // the hidden "DisAck" box is never ticked
    curveView_->resetCount();
    curveView_->countChanged(store_.count());
    curveView_->update();
    scheduleRebuild();
    return true;
}

// --- list filter -----------------------------------------------------------

void MainWindow::openFilterPopup(FilterPopup::Group group) {
    FilterPopup popup(group, captureList_.filter(), this);
    QToolButton* button = filterButton(group);
    popup.move(button->mapToGlobal(QPoint(0, button->height())));
    if (!runFilterPopup_(popup)) return;
    if (!captureList_.setFilter(popup.filter())) return;
    button->setIcon(filterIcon(groupAllTicked(captureList_.filter(), group)));
    scheduleRebuild();
}

void MainWindow::scheduleRebuild() {
    captureList_.freeze();
    rebuildTimer_->start();
}

void MainWindow::rebuildList() {
    // The selected record stays selected, and in view, when it is still listed.
    const std::optional<std::size_t> row = currentListRow();
    const std::optional<uint32_t> selected =
        row ? std::optional<uint32_t>(model_->recordAt(static_cast<int>(*row))) : std::nullopt;
    clearDecode();
    model_->rebuild();
    showDeviceRange();
    refreshChecks();
    if (selected) selectRecord(*selected);
}

std::optional<std::size_t> MainWindow::currentListRow() const {
    const QModelIndex current = list_->currentIndex();
    if (!current.isValid() || current.row() >= model_->listedRows()) return std::nullopt;
    return static_cast<std::size_t>(current.row());
}

bool MainWindow::selectRecord(uint32_t record) {
    const std::optional<std::size_t> row = ufcs::rowOfRecord(captureList_, record);
    if (!row) return false;
    const QModelIndex index = model_->index(static_cast<int>(*row), 0);
    list_->setCurrentIndex(index);
    list_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    return true;
}

// --- decoding --------------------------------------------------------------

void MainWindow::decodeRow(int row) {
    if (row < 0 || row >= model_->listedRows()) return;
    autoScroll_.onDecode();
    autoScrollBox_->setChecked(autoScroll_.checkBoxTicked());
    const uint32_t record = model_->recordAt(row);
    const ufcs::DecodeResult result = ufcs::decodeRecord(store_.record(record), record);
    showDecode(result);
    if (result.pane.empty()) {
        // The header and the line events: their list texts rather than an empty pane.
        const ufcs::ListRow texts = captureList_.rowTexts(static_cast<std::size_t>(row));
        QStringList parts;
        for (std::size_t column = 3; column < ufcs::kListColumns; ++column) {
            if (!texts.columns[column].empty()) parts << fromStd(texts.columns[column]).trimmed();
        }
        appendPaneText(parts.join(QStringLiteral("  ")) + "\r\n", PaneStyle::Normal);
    }
    showSequenceNotes(record);
}

void MainWindow::showSequenceNotes(uint32_t record) {
    for (const ufcs::SequenceNote* note : sequenceReport().notesFor(record))
        appendPaneText(fromStd(note->text) + "\r\n", PaneStyle::Note);
}

void MainWindow::showDecode(const ufcs::DecodeResult& result) {
    pane_->clear();
    tree_->clear();
    std::vector<QTreeWidgetItem*> visible;
    std::function<void(QTreeWidgetItem*, const ufcs::TreeItem&)> add =
        [&](QTreeWidgetItem* item, const ufcs::TreeItem& source) {
            QString text = fromStd(source.text);
            text.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
            item->setText(0, text);
            if (source.visible) visible.push_back(item);
            for (const ufcs::TreeItem& child : source.children)
                add(new QTreeWidgetItem(item), child);
        };
    for (const ufcs::TreeItem& root : result.roots)
        add(new QTreeWidgetItem(tree_), root);
    for (QTreeWidgetItem* item : visible) {
        for (QTreeWidgetItem* parent = item->parent(); parent; parent = parent->parent())
            parent->setExpanded(true);
        tree_->scrollToItem(item);
    }
    for (const ufcs::PaneText& segment : result.pane) {
        appendPaneText(fromStd(segment.text), paneStyleOf(segment.type));
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the find box searches, and goes no further.
    if (watched == findBox_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            findText(findBox_->text(), ufcs::SearchDirection::Forward);
            return true;
        }
    }
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool end = key == Qt::Key_End;
        autoScroll_.onKey(end);
        autoScrollBox_->setChecked(autoScroll_.checkBoxTicked());
        // Home and End go to the first and last row, not to a column.
        if ((key == Qt::Key_Home || end) && model_->listedRows() > 0) {
            const QModelIndex target = model_->index(end ? model_->listedRows() - 1 : 0, 0);
            list_->setCurrentIndex(target);
            list_->scrollTo(target);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// --- pane menu and companions ----------------------------------------------

void MainWindow::showPaneMenu(const QPoint& position) {
    QMenu menu(this);
    connect(menu.addAction(QStringLiteral("复制")), &QAction::triggered, this,
            &MainWindow::copyPaneSelection);
    connect(menu.addAction(QStringLiteral("全选")), &QAction::triggered, pane_,
            &QTextEdit::selectAll);
    connect(menu.addAction(QStringLiteral("清除")), &QAction::triggered, pane_, &QTextEdit::clear);
    menu.exec(pane_->viewport()->mapToGlobal(position));
}

void MainWindow::copyPaneSelection() {
    if (pane_->textCursor().hasSelection()) {
        pane_->copy();
        return;
    }
    message(QString::asprintf(" 光标[guang biao]在%d", pane_->textCursor().position()));
}

void MainWindow::startRecorder() {
    // Installed beside the analyzer under its own name; in the build tree, the
    // recorder's target sits in its own folder.
    const QStringList candidates = {
        programDir_ + '/' + kRecorderName, programDir_ + QStringLiteral("/oscillograph"),
        programDir_ + QStringLiteral("/../../recorder/ui/oscillograph")};
    QString program;
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isExecutable()) {
            program = QFileInfo(candidate).canonicalFilePath();
            break;
        }
    }
    const QStringList arguments =
        QCoreApplication::arguments().contains(QStringLiteral("--simulate"))
            ? QStringList{QStringLiteral("--simulate")}
            : QStringList{};
    if (program.isEmpty() || !QProcess::startDetached(program, arguments, programDir_)) {
        message(QStringLiteral("找不到Tarsel电压电流测量.exe!,请确保该程序位于当前文件夹下！"));
    }
}

#if UFCS_WITH_UPGRADES
void MainWindow::openUpgradeDialog() {
    // Opening it stops a capture: the dialog's exchanges are the only reads of the link.
    if (session_->connected()) session_->stopCapture();
    UpgradeDialog dialog(*session_, device_, clock_, upgrade::loadUpgradeSettings(profile_),
                         programDir_, this);
    connect(&dialog, &UpgradeDialog::message, this, &MainWindow::message);
    bool handedOver = false;
    connect(&dialog, &UpgradeDialog::programHandedOver, this, [&handedOver] { handedOver = true; });
    dialog.start();
    runUpgradeDialog_(dialog);
    // The dialog leaves the instrument open without a capture: release it, so
    // that 开始监听 connects and starts one afresh.
    if (session_->connected() && !session_->workerRunning()) session_->stopCapture();
    if (handedOver) close();
}
#endif

void MainWindow::openManual() {
    const QString path = QFileInfo(programDir_ + '/' + kManualName).absoluteFilePath();
    if (!QFile::exists(path)) {
        message(QStringLiteral(
            "无法打开 《ufcs分析仪使用说明.pdf》!\r\n请确认当前文件夹下是否有此文件"));
        return;
    }
    const bool opened = openUrl_ ? openUrl_(QUrl::fromLocalFile(path))
                                 : QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    // The manual is there; what is missing is a program to show it.
    if (!opened) {
        message(QStringLiteral("无法打开 《ufcs分析仪使用说明.pdf》：没有可以打开 PDF 文件的程序。"
                               "\r\n请安装 PDF 阅读器，或直接打开：\r\n") +
                QDir::toNativeSeparators(path));
    }
}

// --- checks, find, export, status ----------------------------------------------

const ufcs::SequenceReport& MainWindow::sequenceReport() {
    return checker_.report();
}

// A new capture, a cut-back one or an opened file: the store may still hold
// the old records, so the next look starts afresh from record 0.
void MainWindow::restartChecks() {
    checker_.reset();
    updateStatusLine();
}

void MainWindow::refreshChecks() {
    checker_.catchUp(store_);
    updateStatusLine();
}

// The records captured, without the capture's header record: what the status
// line and the save message count.
uint32_t MainWindow::capturedRecords() const {
    const uint32_t count = store_.count();
    return count > 0 ? count - 1 : 0;
}

void MainWindow::updateStatusLine() {
    const uint32_t count = store_.count();
    QString text = QStringLiteral("记录 %1 条").arg(capturedRecords());
    if (count > 2) {
        const int64_t span = store_.record(count - 1).timeUs() - store_.record(1).timeUs();
        text += QStringLiteral("    时长 ") + fromStd(ufcs::durationText(span));
    }
    if (!openFile_.isEmpty()) text += QStringLiteral("    文件 ") + QFileInfo(openFile_).fileName();
    const std::size_t findings = checker_.findingCount();
    text += QStringLiteral("    时序问题 %1 处").arg(findings);
    if (!statusNote_.isEmpty()) text += QStringLiteral("    ") + statusNote_;
    statusLabel_->setText(text);
    statusLabel_->setToolTip(openFile_);
}

void MainWindow::setOpenFile(const QString& path) {
    openFile_ = path;
    statusNote_.clear();
    setWindowTitle(path.isEmpty() ? kTitle
                                  : kTitle + QStringLiteral(" - ") + QFileInfo(path).fileName());
    updateStatusLine();
}

bool MainWindow::findText(const QString& text, ufcs::SearchDirection direction) {
    if (findBox_->text() != text) findBox_->setText(text);  // F3 goes on with it
    const std::optional<std::size_t> row =
        ufcs::findRowWithText(captureList_, currentListRow(), direction,
                              text.trimmed().toStdString(), &checker_.report());
    if (!row) {
        if (!text.trimmed().isEmpty())
            statusNote_ = QStringLiteral("找不到“%1”").arg(text.trimmed());
        updateStatusLine();
        return false;
    }
    statusNote_.clear();
    selectRecord(captureList_.recordAt(*row));
    return true;
}

bool MainWindow::goToFaultyRow(ufcs::SearchDirection direction) {
    refreshChecks();
    const std::optional<std::size_t> row =
        ufcs::findFaultyRow(captureList_, currentListRow(), direction, checker_.report());
    if (!row) {
        statusNote_ = QStringLiteral("列表中没有出错或有时序问题的行");
        updateStatusLine();
        return false;
    }
    statusNote_.clear();
    selectRecord(captureList_.recordAt(*row));
    return true;
}

QString MainWindow::timingSummaryText() {
    refreshChecks();
    const ufcs::SequenceReport& report = checker_.report();
    const ufcs::SequenceWindows& windows = checker_.windows();
    return QStringLiteral("共 %1 处时序问题（ACK 限 %2 ms，回答限 %3 ms，Power_Ready 限 %4 ms）")
        .arg(report.findingCount())
        .arg(windows.ackUs / 1000.0)
        .arg(windows.answerUs / 1000.0)
        .arg(windows.powerReadyUs / 1000.0);
}

void MainWindow::showTimingSummary() {
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("时序"));
    dialog.resize(760, 420);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(timingSummaryText(), &dialog));
    auto* list = new QListWidget(&dialog);
    for (const ufcs::SequenceNote& note : checker_.report().notes()) {
        if (!note.isFinding()) continue;
        auto* item = new QListWidgetItem(
            QStringLiteral("第 %1 条    ").arg(note.index) + fromStd(note.text), list);
        item->setData(Qt::UserRole, note.index);
    }
    layout->addWidget(list, 1);
    layout->addWidget(new QLabel(QStringLiteral("双击一行转到该记录"), &dialog));
    connect(list, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        if (!selectRecord(item->data(Qt::UserRole).toUInt()))
            message(QStringLiteral("该记录不在列表中（被筛选隐藏）"));
    });
    dialog.exec();
}

void MainWindow::exportListedRows() {
    ExportChoice choice = chooseExport_();
    if (choice.path.isEmpty()) return;
    dialogFolder_.remember(choice.path);
    if (QFileInfo(choice.path).suffix().isEmpty())
        choice.path += choice.format == ufcs::RowExportFormat::Text ? QStringLiteral(".txt")
                                                                    : QStringLiteral(".csv");
    exportRowsTo(choice.path, choice.format);
}

bool MainWindow::exportRowsTo(const QString& path, ufcs::RowExportFormat format) {
    model_->appendNew();
    const ufcs::FileResult result =
        ufcs::saveRows(captureList_, format, std::filesystem::path(path.toStdU16String()));
    if (!result.ok) {
        message(fromStd(result.message));
        return false;
    }
    // Counted as the status line counts: the capture's header row is not a record.
    std::size_t rows = captureList_.rowCount();
    if (rows > 0 && captureList_.recordAt(0) == 0) --rows;
    statusNote_ = QStringLiteral("已导出 %1 行到 %2").arg(rows).arg(path);
    updateStatusLine();
    return true;
}

void MainWindow::showHeaderMenu(const QPoint& position) {
    QMenu menu(this);
    QAction* delta = menu.addAction(QStringLiteral("显示“间隔”列（与上一行的时间差）"));
    delta->setCheckable(true);
    delta->setChecked(!list_->isColumnHidden(MessageListModel::kDeltaColumn));
    connect(delta, &QAction::toggled, this, [this](bool shown) {
        list_->setColumnHidden(MessageListModel::kDeltaColumn, !shown);
        if (shown) list_->setColumnWidth(MessageListModel::kDeltaColumn, 90);
    });
    menu.exec(list_->horizontalHeader()->viewport()->mapToGlobal(position));
}

}  // namespace analyzer::ui
