#include "analyzer/ui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "analyzer/settings.h"
#include "analyzer/ui/charging_device_controls.h"
#include "analyzer/ui/companions.h"
#include "analyzer/ui/decode_pane.h"
#include "analyzer/ui/message_list_model.h"
#include "analyzer/ui/message_list_view.h"
#include "analyzer/ui/packet_curve_view.h"
#include "common/format.h"
#include "qt/text.h"
#include "qt/work_progress.h"
#include "sharing/pcapng.h"
#include "ufcs/capture_file.h"

namespace analyzer::ui {
namespace {

using qt_adapters::fromPath;
using qt_adapters::fromStd;
using qt_adapters::pathOf;

constexpr int kInsertBatchMs = 40;
const QString kTitle = QStringLiteral("TarselUFCS解析程序");

}  // namespace

Layout layoutForScreen(int width, int height) {
    return width < 1360 || height < 850 ? Layout::Compact : Layout::Normal;
}

MainWindow::MainWindow(device::HidDevice& device, ufcs::CaptureStore& store,
                       common::Profile& profile, common::Clock& clock, QString programDir,
                       Layout layout, QWidget* parent)
    : QDialog(parent),
      device_(device),
      profile_(profile),
      clock_(clock),
      programDir_(std::move(programDir)),
      layout_(layout),
      loop_(this),
      document_(store, analyzer::AnalyzerSettings(profile).checkWindows()),
      dialogFolder_(profile) {
    session_ = std::make_unique<Session>(device, store, profile, loop_, clock,
                                         static_cast<SessionListener&>(*this));
    setDefaultAskers();
    updateTitle();
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    store.setCount(0);
    buildControls();
    document_.addObserver(*this);
    document_.addObserver(*curveView_);
    onListeningChanged(false);
    autoScrollBox_->setChecked(true);
    QTimer::singleShot(1000, list_->viewport(), qOverload<>(&QWidget::update));
}

MainWindow::~MainWindow() {
    // Hidden while still whole: what the children signal as they hide (the
    // header's geometry) reaches this window's slots, not a half-destroyed one.
    hide();
    // The charger test's run uses the session and the event loop: it goes first.
    delete qualification_;
    qualification_ = nullptr;
    session_.reset();
}

void MainWindow::applyState() {
    const bool sending = capturing_ && chargingCapture_;
    sendButton_->setVisible(sending);
    saveButton_->setVisible(!sending);
    for (QWidget* widget : std::initializer_list<QWidget*>{openButton_, refusalButton_, saveButton_,
                                                           recorderButton_}) {
        widget->setEnabled(!capturing_);
    }
    modeButton_->setEnabled(!listening_);
    autoScrollBox_->setVisible(capturing_);
    autoScrollBox_->setEnabled(capturing_);
    if (upgradeButton_) upgradeButton_->setVisible(!capturing_);
    // While the charger test sends, nothing else may: its verdicts read every exchange.
    const bool qualifying = qualification_ && qualification_->running();
    sendButton_->setEnabled(sendReady_ && !qualifying);
    modesButton_->setEnabled(modesReady_ && !qualifying);
    if (qualifying) charger_->hide();
    sendButton_->setText(charger_->sendDialogShown() ? QStringLiteral("停止发送")
                                                     : QStringLiteral("发送消息"));
    listenButton_->setText(capturing_ ? QStringLiteral("停止监听") : QStringLiteral("开始监听"));
}

// --- layout ----------------------------------------------------------------

void MainWindow::buildControls() {
    const bool compact = layout_ == Layout::Compact;
    resize(compact ? 1024 : 1398, compact ? 700 : 820);
    list_ = new MessageListView(document_.list(), document_.store(), compact, this);
    decode_ = new DecodePane(this);
    voltageBox_ = blackTextBox(this, Qt::red);
    currentBox_ = blackTextBox(this, Qt::green);
    for (QTextEdit* box : {voltageBox_, currentBox_}) {
        box->setFixedSize(compact ? 90 : 130, compact ? 28 : 36);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        if (!compact) box->setFont(list_->font());  // the list's enlarged font
    }
    decode_->setFonts(list_->font());
    buildButtons();
    buildDialogs();
    layOutControls(compact);
    buildTimers();
    connectControls();
    connectShortcuts();
    onStatusChanged();
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
    qualifyButton_ = makeButton("充电器测试");
    previousFaultButton_ = makeButton("上一个问题");
    nextFaultButton_ = makeButton("下一个问题");
    exportButton_->setToolTip(QStringLiteral("把列表中的行（按筛选）导出为 CSV 或文本"));
    timingButton_->setToolTip(QStringLiteral("本次测试的全部时序问题"));
    qualifyButton_->setToolTip(QStringLiteral("按 UFCS 标准自动测试充电器，给出每项的结果和报告"));
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
    curveView_ = new PacketCurveView(document_.store(), profile_,
                                     !screen || screen->availableSize().width() < 1360, this);
    curveButton_->setCheckable(true);
    connect(curveView_, &PacketCurveView::closed, this,
            [this] { curveButton_->setChecked(false); });
    // The curve and the list show each other's choice.
    connect(curveView_, &PacketCurveView::recordClicked, this, [this](uint32_t record) {
        if (!selectRecord(record))
            document_.setNote("序号 " + std::to_string(record) + " 不在列表中（被过滤掉了）");
    });
    connect(curveView_, &PacketCurveView::recordsChosen, this, &MainWindow::offerRecordRange);
    curveView_->setPictureAskers([this] { return askers_.choosePicturePath(); },
                                 [this](const QString& text) { message(text); });
    charger_ = new ChargingDeviceControls(*session_, clock_, this,
                                          [this](const QString& text) { message(text); });
    connect(charger_, &ChargingDeviceControls::sendDialogToggled, this, &MainWindow::applyState);
    ChargerQualification::Hooks hooks;
    hooks.capturing = [this] { return capturing_; };
    hooks.startCapture = [this] { return startQualificationCapture(); };
    hooks.stopCapture = [this] {
        if (session_->connected()) session_->toggleListening();
    };
    hooks.showRecord = [this](uint32_t record) {
        if (!selectRecord(record))
            message(QStringLiteral("序号 %1 不在列表中（被过滤掉了）").arg(record));
    };
    hooks.message = [this](const QString& text) { message(text); };
    hooks.chooseReportFolder = [this] { return askers_.chooseReportFolder(); };
    hooks.choosePlanFile = [this] { return askers_.choosePlanFile(); };
    hooks.runChanged = [this] { applyState(); };
    qualification_ =
        new ChargerQualification(*session_, document_.store(), loop_, clock_,
                                 fromStd(device_.identity().name()), this, std::move(hooks));
}

void MainWindow::showQualification() {
    qualification_->show();
}

// The charger test's own capture: the instrument as the charging device, the
// refusals off (for this capture only), asked nothing but an unsaved capture.
bool MainWindow::startQualificationCapture() {
    if (!settleUnsavedCapture()) return false;
    ++modeDialogShown_;
    if (!beforeQualification_)
        beforeQualification_ = {session_->mode(), session_->refuseAck(), session_->refusePing()};
    session_->setMode(device::kModeChargingDevice);
    session_->setRefusal(false, false);
    return session_->startListening();
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
    for (QWidget* widget :
         std::initializer_list<QWidget*>{qualifyButton_, exportButton_, findBox_, timingButton_,
                                         previousFaultButton_, nextFaultButton_})
        status->addWidget(widget);
    auto* liveValues = new QHBoxLayout;
    liveValues->addWidget(new QLabel(QStringLiteral("电压："), this));
    liveValues->addWidget(voltageBox_);
    liveValues->addWidget(new QLabel(QStringLiteral("电流："), this));
    liveValues->addWidget(currentBox_);
    liveValues->addStretch();

    auto* right = new QVBoxLayout;
    right->addWidget(decode_, 1);
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
        model()->appendNew();
        showDeviceRange();
        document_.refreshChecks();
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
    connect(recorderButton_, &QPushButton::clicked, this,
            [this] { message(startRecorder(programDir_)); });
    connect(sendButton_, &QPushButton::clicked, charger_,
            &ChargingDeviceControls::toggleSendDialog);
    connect(modesButton_, &QPushButton::clicked, charger_, &ChargingDeviceControls::showModesPanel);
    connect(qualifyButton_, &QPushButton::clicked, this, &MainWindow::showQualification);
    connect(curveButton_, &QPushButton::clicked, this, &MainWindow::toggleCurveView);
    connect(manualButton_, &QPushButton::clicked, this,
            [this] { message(openManual(programDir_, askers_.openUrl)); });
#if UFCS_WITH_UPGRADES
    connect(upgradeButton_, &QPushButton::clicked, this, [this] {
        if (runUpgrade(*session_, clock_, upgrade::loadUpgradeSettings(profile_), programDir_, this,
                       askers_.runUpgradeDialog, [this](const QString& text) { message(text); }))
            close();  // the updater restarts the analyzer once this one has gone
    });
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
    connect(list_, &MessageListView::keyPressed, this, [this](int key) {
        autoScroll_.onKey(key == Qt::Key_End);
        autoScrollBox_->setChecked(autoScroll_.checkBoxTicked());
    });
    connect(list_, &MessageListView::filterRequested, this, &MainWindow::openFilterPopup);
    connect(list_, &MessageListView::showEverythingRequested, this,
            [this] { applyFilter(ufcs::ListFilter{}); });
    list_->setTimeFromCaptureStart(analyzer::AnalyzerSettings(profile_).timeFromCaptureStart());
    connect(list_, &MessageListView::timeOriginChanged, this, [this](bool fromStart) {
        analyzer::AnalyzerSettings(profile_).saveTimeFromCaptureStart(fromStart);
    });
    connect(decode_, &DecodePane::message, this, &MainWindow::message);
    connect(followTimer_, &QTimer::timeout, this, &MainWindow::followNewestRow);
    connect(rebuildTimer_, &QTimer::timeout, this, &MainWindow::rebuildList);
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) decodeRow(current.row());
                curveView_->markRecord(list_->currentRecord());
            });
    connect(exportButton_, &QPushButton::clicked, this, &MainWindow::exportListedRows);
    connect(timingButton_, &QPushButton::clicked, this, &MainWindow::showTimingSummary);
    connect(previousFaultButton_, &QPushButton::clicked, this,
            [this] { goToFaultyRow(ufcs::SearchDirection::Backward); });
    connect(nextFaultButton_, &QPushButton::clicked, this,
            [this] { goToFaultyRow(ufcs::SearchDirection::Forward); });
    findBox_->installEventFilter(this);  // Enter there searches
}

void MainWindow::connectShortcuts() {
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
    return QDialog::eventFilter(watched, event);
}

QPushButton* MainWindow::button(const QString& caption) const {
    for (QPushButton* candidate : findChildren<QPushButton*>()) {
        if (candidate->text() == caption) return candidate;
    }
    return nullptr;
}

void MainWindow::message(const QString& text) {
    if (!text.isEmpty()) askers_.message(text);
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
    if (!askers_.runModeDialog(dialog)) return;
    session_->setMode(dialog.mode());
    session_->setTypeCPort(dialog.typeCPort());
}

void MainWindow::chooseRefusal() {
    // The saved settings govern from the moment the dialog opens, even if it is cancelled.
    session_->loadRefusalSettings();
    RefusalDialog dialog(session_->refuseAck(), session_->refusePing(), this);
    if (askers_.runRefusalDialog(dialog))
        session_->saveRefusalSettings(dialog.refuseAck(), dialog.refusePing());
}

void MainWindow::onCaptureStarting() {
    capturing_ = true;
    chargingCapture_ = session_->mode() == device::kModeChargingDevice;
    sendReady_ = false;
    followTimer_->start();
    charger_->hideSendDialog();
    document_.captureStarting();
    updateTitle();
    applyState();
    if (qualification_) qualification_->captureStarted();
}

void MainWindow::onListeningChanged(bool listening) {
    listening_ = listening;
    if (listening) updateTitle();  // the instrument the capture took
    if (!listening) {
        capturing_ = false;
        if (qualification_) qualification_->listeningEnded();
        // (No session while the window goes: it tells its end as it is destroyed.)
        if (beforeQualification_ && session_ && !(qualification_ && qualification_->running())) {
            session_->setMode(beforeQualification_->mode);
            session_->setRefusal(beforeQualification_->refuseAck, beforeQualification_->refusePing);
            beforeQualification_.reset();
        }
        followTimer_->stop();
        insertTimer_->stop();
        model()->appendNew();  // the rows still waiting for their batch
        document_.refreshChecks();
        curveView_->captureStopped();
        hideSendAndModes();
        voltageBox_->setPlainText(QString::fromUtf8(kIdleValueText));
        currentBox_->setPlainText(QString::fromUtf8(kIdleValueText));
    }
    applyState();
}

void MainWindow::onPaneText(const std::string& text, PaneStyle style) {
    decode_->append(fromStd(text), style);
}

void MainWindow::onMessageBox(const std::string& text) {
    message(fromStd(text));
}

void MainWindow::onRecordsAdded(uint32_t count) {
    document_.recordsAdded(count);
    // At thousands of records a second, rows go in as one batch per short interval.
    if (!insertTimer_->isActive()) insertTimer_->start();
}

void MainWindow::onLostStep() {
    document_.cutBack();
}

void MainWindow::onStoreFull(const std::string& text) {
    model()->setTrailingNote(fromStd(text));
}

void MainWindow::onStatus(const analyzer::StatusEffects& effects) {
    charger_->setStatus(effects);
    if (effects.captureStarted) curveView_->resetCount();
    if (effects.disableSendAndModes) hideSendAndModes();
    if (effects.enableSend) sendReady_ = true;
    applyState();
}

void MainWindow::onCapabilityTable(const instrument::OutputCapabilityTable& table) {
    charger_->setCapabilityTable(table);
    modesReady_ = true;
    applyState();
}

void MainWindow::onStatusTick(const StatusTexts& texts) {
    voltageBox_->setPlainText(fromStd(texts.voltage));
    currentBox_->setPlainText(fromStd(texts.current));
    charger_->setLiveTexts(texts);
}

void MainWindow::hideSendAndModes() {
    sendReady_ = modesReady_ = false;
    charger_->hide();
    applyState();
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
    if (const auto ranges = document_.list().deviceRanges())
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

// Before a capture that was never saved is dropped: false when the user stays.
bool MainWindow::settleUnsavedCapture() {
    if (!document_.unsaved()) return true;
    switch (askers_.saveQuestion()) {
        case QMessageBox::Yes:
            session_->stopListening();  // the store holds still while it is written
            return saveCapture();
        case QMessageBox::No:
            return true;
        default:
            return false;
    }
}

// --- the capture document ----------------------------------------------------

void MainWindow::onCaptureCleared() {
    model()->clear();
    decode_->clear();
}

void MainWindow::onCaptureOpened() {
    analyzer::AnalyzerSettings(profile_).clearDisAck();  // the hidden "DisAck" box is never ticked
    scheduleRebuild();
}

void MainWindow::onStatusChanged() {
    statusLabel_->setText(fromStd(document_.statusText()));
    statusLabel_->setToolTip(fromPath(document_.openFile()));
}

void MainWindow::updateTitle() {
    const std::filesystem::path& file = document_.openFile();
    const QString title =
        file.empty() ? kTitle : kTitle + QStringLiteral(" - ") + fromPath(file.filename());
    setWindowTitle(qt_adapters::withInstrument(title, device_.identity().name()));
}

bool MainWindow::saveCapture() {
    QString path = askers_.chooseSavePath();
    if (path.isEmpty()) return false;
    dialogFolder_.remember(path);
    if (QFileInfo(path).suffix().isEmpty())
        path += QString::fromUtf8(ufcs::kCaptureFileExtension.data());
    return saveCaptureTo(path);
}

bool MainWindow::saveCaptureTo(const QString& path) {
    const common::FileResult result = document_.save(pathOf(path), common::windowSaveControl());
    // Kept unsaved in the window, and safe in the user's data folder meanwhile.
    if (!result.ok) message(fromStd(result.message));
    updateTitle();
    return result.ok;
}

void MainWindow::openCapture() {
    if (!settleUnsavedCapture()) return;
    const QString path = askers_.chooseOpenPath();
    if (path.isEmpty()) return;
    dialogFolder_.remember(path);
    openCaptureFrom(path);
}

bool MainWindow::openCaptureFrom(const QString& path) {
    const std::filesystem::path file = pathOf(path);
    const common::FileResult result =
        logic::isLogicFile(file) ? openLogicRecording(path) : document_.open(file);
    if (!result.ok && !result.message.empty()) message(fromStd(result.message));
    updateTitle();
    return result.ok;
}

common::FileResult MainWindow::openLogicRecording(const QString& path) {
    // A logic analyzer's recording may be minutes at tens of megahertz: it is read
    // off the window thread, with its progress shown and 取消 offered.
    const std::filesystem::path file = pathOf(path);
    logic::LogicLoad load;
    qt_adapters::runWithProgress(
        this, QStringLiteral("正在打开 %1 ……").arg(QFileInfo(path).fileName()),
        [&load, &file](qt_adapters::WorkProgress& progress) {
            load = logic::readLogicFile(file, [&progress](uint64_t done, uint64_t total) {
                return progress.advance(done, total);
            });
        });
    if (!load.recording) return {false, load.message};  // a cancel has no message
    // Lines whose names do not say what they carry are the user's to choose.
    const logic::LineChooser chooseLines =
        [this](const logic::LineNames& names,
               const logic::LineRoles& proposed) -> std::optional<logic::LineRoles> {
        QStringList lines, analog;
        for (const std::string& name : names.digital)
            lines << fromStd(name);
        for (const std::string& name : names.analog)
            analog << fromStd(name);
        LogicLinesDialog dialog(lines, analog, proposed, this);
        if (!askers_.runLogicLinesDialog(dialog)) return std::nullopt;
        return dialog.roles();
    };
    return document_.openLogic(file, *load.recording, chooseLines);
}

void MainWindow::openFilterPopup(FilterPopup::Group group) {
    FilterPopup popup(group, document_.list().filter(), this);
    QToolButton* button = filterButton(group);
    popup.move(button->mapToGlobal(QPoint(0, button->height())));
    if (!askers_.runFilterPopup(popup)) return;
    applyFilter(popup.filter());
}

void MainWindow::offerRecordRange(uint32_t first, uint32_t last) {
    if (!askers_.confirm(
            QStringLiteral("只列出序号 %1 到 %2 的记录？\n（列表表头的右键菜单可以清除所有过滤）")
                .arg(first)
                .arg(last)))
        return;
    ufcs::ListFilter filter = document_.list().filter();
    filter.records = ufcs::ListFilter::RecordRange{first, last};
    applyFilter(filter);
}

void MainWindow::applyFilter(const ufcs::ListFilter& filter) {
    if (!document_.list().setFilter(filter)) return;
    document_.setNote({});  // a miss told before may not hold for the new list
    list_->showFilter(document_.list().filter());
    scheduleRebuild();
}

void MainWindow::scheduleRebuild() {
    document_.list().freeze();
    rebuildTimer_->start();
}

void MainWindow::rebuildList() {
    // The selected record stays selected, and in view, when it is still listed.
    const std::optional<uint32_t> selected = list_->currentRecord();
    decode_->clear();
    model()->rebuild();
    showDeviceRange();
    document_.refreshChecks();
    if (selected) selectRecord(*selected);
    if (pendingRecord_) {
        const uint32_t record = *std::exchange(pendingRecord_, std::nullopt);
        if (!selectRecord(record))
            message(QStringLiteral("这个捕获没有序号 %1（共 %2 条记录）")
                        .arg(record)
                        .arg(document_.store().count()));
    }
}

bool MainWindow::selectRecord(uint32_t record) {
    return list_->selectRecord(record);
}

void MainWindow::showRecordOnceListed(const QString& number) {
    bool ok = false;
    const uint32_t record = number.toUInt(&ok);
    if (!ok) {
        message(QStringLiteral("--row 应是记录的序号（0 或正整数），不是“%1”").arg(number));
        return;
    }
    pendingRecord_ = record;
    if (!rebuildTimer_->isActive()) rebuildList();
}

void MainWindow::decodeRow(int row) {
    if (row < 0 || row >= model()->listedRows()) return;
    autoScroll_.onDecode();
    autoScrollBox_->setChecked(autoScroll_.checkBoxTicked());
    const uint32_t record = model()->recordAt(row);
    decode_->showRecord(ufcs::decodeRecord(document_.store().record(record), record),
                        document_.list().rowTexts(static_cast<std::size_t>(row)),
                        document_.report().notesFor(record));
}

bool MainWindow::findText(const QString& text, ufcs::SearchDirection direction) {
    if (findBox_->text() != text) findBox_->setText(text);  // F3 goes on with it
    const std::optional<std::size_t> row =
        document_.findRow(text.trimmed().toStdString(), list_->currentListRow(), direction);
    if (row) selectRecord(document_.list().recordAt(*row));
    return row.has_value();
}

bool MainWindow::goToFaultyRow(ufcs::SearchDirection direction) {
    const std::optional<std::size_t> row = document_.faultyRow(list_->currentListRow(), direction);
    if (row) selectRecord(document_.list().recordAt(*row));
    return row.has_value();
}

QString MainWindow::timingSummaryText() {
    return fromStd(document_.timingSummary());
}

void MainWindow::showTimingSummary() {
    TimingDialog dialog(timingSummaryText(), document_.report(), this);
    connect(&dialog, &TimingDialog::recordChosen, this, [this](uint32_t record) {
        if (!selectRecord(record)) message(QStringLiteral("该记录不在列表中（被筛选隐藏）"));
    });
    dialog.exec();
}

void MainWindow::exportListedRows() {
    ExportChoice choice = askers_.chooseExport();
    if (choice.path.isEmpty()) return;
    dialogFolder_.remember(choice.path);
    if (QFileInfo(choice.path).suffix().isEmpty())
        choice.path += choice.pcapng                                  ? QStringLiteral(".pcapng")
                       : choice.format == ufcs::RowExportFormat::Text ? QStringLiteral(".txt")
                                                                      : QStringLiteral(".csv");
    if (choice.pcapng)
        exportPcapngTo(choice.path);
    else
        exportRowsTo(choice.path, choice.format);
}

bool MainWindow::exportPcapngTo(const QString& path) {
    model()->appendNew();
    const std::filesystem::path target = pathOf(path);
    const common::FileResult result =
        sharing::writePcapng(document_.store(), document_.report(), target);
    if (!result.ok) {
        message(fromStd(result.message));
        return false;
    }
    document_.setNote(common::format("已导出 %u 条记录到 %s（Wireshark，需 ufcs.lua）",
                                     document_.capturedRecords(),
                                     common::displayPath(target).c_str()));
    return true;
}

bool MainWindow::exportRowsTo(const QString& path, ufcs::RowExportFormat format) {
    model()->appendNew();  // the rows still waiting for their batch go too
    const common::FileResult result = document_.exportRows(pathOf(path), format);
    if (!result.ok) message(fromStd(result.message));
    return result.ok;
}

}  // namespace analyzer::ui
