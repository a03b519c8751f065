#include "recorder/ui/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "device/instrument_catalog.h"
#include "qt/dialog_folder.h"
#include "qt/picture_export.h"
#include "qt/text.h"
#include "qt/work_progress.h"
#include "recorder/csv_export.h"
#include "recorder/osa_file.h"
#include "recorder/ui/panels.h"
#if UFCS_WITH_UPGRADES
#include "recorder/ui/update_dialog.h"
#endif
#include "recorder/ui/waveform_view.h"

namespace recorder::ui {
namespace {

using qt_adapters::fromStd;
using qt_adapters::pathOf;

const QString kAppTitle = QStringLiteral("Tarsel电压电流测量");
const QString kOsaFilter = QStringLiteral("测试文件 (*.osa)");
const QString kCsvFilter = QStringLiteral("CSV(*.csv)");
constexpr int kRecentFiles = 4;
const char* kRecentSection = "Recent File List";

}  // namespace

MainWindow::MainWindow(device::HidDevice& device, common::Profile& profile, common::Clock& clock,
                       std::filesystem::path journalFolder, QWidget* parent)
    : QMainWindow(parent),
      profile_(profile),
      device_(device),
      loop_(this),
      settings_(profile),
      link_(device, clock, loop_),
      run_({document_, link_, settings_, loop_, clock, *this, wake_, {{}, journalFolder, {}}}),
      journalFolder_(std::move(journalFolder)) {
    askers_.message = [this](const QString& text) {
        QMessageBox::information(this, kAppTitle, text);
    };
    askers_.question = [this](const QString& text, QMessageBox::StandardButtons buttons) {
        QMessageBox box(QMessageBox::Warning, kAppTitle, text, buttons, this);
        return static_cast<QMessageBox::StandardButton>(box.exec());
    };
    askers_.chooseFile = [this](bool save, const QString& filter, const QString& suggested) {
        qt_adapters::DialogFolder folder(profile_);
        const QString path =
            save ? QFileDialog::getSaveFileName(this, QString(), folder.suggest(suggested), filter)
                 : QFileDialog::getOpenFileName(this, QString(), folder.start(), filter);
        folder.remember(path);
        return path;
    };
    askers_.runDialog = [](QDialog& dialog) { return dialog.exec() == QDialog::Accepted; };

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    view_ = new WaveformView(document_, central);
    auto* timeBar = new QScrollBar(Qt::Horizontal, central);
    column->addWidget(view_, 1);
    column->addWidget(timeBar);
    setCentralWidget(central);
    view_->setTimeScrollBar(timeBar);
    const ViewSettings stored = settings_.view();
    WaveformState& state = view_->state();
    state.voltIndex = stored.voltIndex;
    state.currentIndex = std::min(stored.currentIndex, kScaleCount - 1);
    state.timeIndex = stored.timeIndex;
    storedTimeIndex_ = stored.timeIndex;
    state.voltTracking = stored.voltTracking;
    state.currentTracking = stored.currentTracking;
    state.panorama = stored.panorama;
    view_->setGrid(stored.grid);
    view_->setTimeFormatSeconds(stored.secondsOnly);

    timedStop_ = new TimedStopPanel(settings_.timedStop(), view_);
    connect(timedStop_, &TimedStopPanel::changed, this, [this] {
        if (const std::optional<TimedStop> timed = readTimedStop()) run_.changeTimedStop(*timed);
    });
    outputSwitch_ = new OutputSwitchPanel(view_);
    outputSwitch_->setEnabled(false);
    view_->addPanelWidget(outputSwitch_);
    view_->addPanelWidget(timedStop_);
    connect(outputSwitch_, &OutputSwitchPanel::switched, this, [this](int state) {
        if (link_.queue(instrument::outputSwitchRequest(static_cast<uint8_t>(state))) ==
            instrument::MeterLink::QueueResult::NotConnected)
            askers_.message(fromStd(std::string(instrument::kNotConnected)));
    });

    status_ = new QLabel(this);
    statusBar()->addWidget(status_, 1);
    buildMenus();
    connect(view_, &WaveformView::scalesChanged, this, [this] {
        // "TX" follows every change of the time scale, however made.
        if (view_->state().timeIndex != storedTimeIndex_) {
            storedTimeIndex_ = view_->state().timeIndex;
            settings_.saveTimeIndex(storedTimeIndex_);
        }
        updateEnabling();
    });
    resize(1398, 820);
    updateTitle();
    view_->stateChanged();  // the zoom panel shows the stored scales from the start
    updateEnabling();
}

MainWindow::~MainWindow() {
    // Stopped while every part of the window still stands.
    if (run_.active()) run_.stop();
    storeViewSettings();
    view_->setReference(nullptr, {});  // the view outlives the reference it draws
}

void MainWindow::dropJournal() {
    run_.documentSaved();
    view_->setJournalNote({});
}

void MainWindow::storeViewSettings() {
    const WaveformState& state = view_->state();
    ViewSettings view = settings_.view();
    view.voltIndex = state.voltIndex;
    view.currentIndex = state.currentIndex;
    view.voltTracking = state.voltTracking;
    view.currentTracking = state.currentTracking;
    view.panorama = state.panorama;
    settings_.saveView(view);
}

QString commandCaption(Command command) {
    static const char* const kCaptions[] = {
        "新建",               // New
        "打开",               // Open
        "保存",               // Save
        "另存为",             // SaveAs
        "另存为CSV格式",      // SaveCsv
        "区域另存为",         // SaveZone
        "退出",               // Exit
        "开始新测试",         // StartTest
        "停止测试",           // StopTest
        "继续测试",           // ContinueTest
        "版本更新",           // VersionUpdate
        "时间放大显示",       // TimeIn
        "时间缩小显示",       // TimeOut
        "电流放大显示",       // CurrentIn
        "电流缩小显示",       // CurrentOut
        "电压放大显示",       // VoltageIn
        "电压缩小显示",       // VoltageOut
        "缩放时间",           // ZoomTime
        "缩放电流",           // ZoomCurrent
        "缩放电压",           // ZoomVoltage
        "电压追踪",           // VoltageTracking
        "电流追踪",           // CurrentTracking
        "全景图",             // Panorama
        "显示/隐藏网格",      // Grid
        "显示/隐藏电压曲线",  // VoltageCurve
        "显示/隐藏电流曲线",  // CurrentCurve
        "显示/隐藏电压区线",  // VoltageZoneLines
        "显示/隐藏时间区线",  // TimeZoneLines
        "电压优先显示",       // VoltageFirst
        "电流优先显示",       // CurrentFirst
        "打印当前页",         // Print
        "保存图片",           // SavePicture
        "复制图片",           // CopyPicture
        "对比",               // Compare
        "取消对比",           // CompareOff
    };
    static_assert(std::size(kCaptions) == kCommandCount);
    return QString::fromUtf8(kCaptions[static_cast<std::size_t>(command)]);
}

QAction* MainWindow::addCommand(QMenu* menu, Command command, std::function<void()> run,
                                const QList<QKeySequence>& keys) {
    QAction* act = menu->addAction(commandCaption(command));
    act->setShortcuts(keys);
    connect(act, &QAction::triggered, this, [run = std::move(run)] { run(); });
    actions_[static_cast<std::size_t>(command)] = act;
    return act;
}

QAction* MainWindow::action(const QString& caption) const {
    for (std::size_t i = 0; i < kCommandCount; ++i) {
        if (actions_[i] && actions_[i]->text() == caption) return actions_[i];
    }
    return nullptr;
}

void MainWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("文件"));
    addCommand(file, Command::New, [this] { newDocument(); }, {QKeySequence::New});
    addCommand(file, Command::Open, [this] { openChosenFile(); },
               {QKeySequence(Qt::CTRL | Qt::Key_O)});
    addCommand(file, Command::Save, [this] { save(); }, {QKeySequence(Qt::CTRL | Qt::Key_S)});
    addCommand(file, Command::SaveAs, [this] { saveAs(); });
    addCommand(file, Command::SaveCsv, [this] { exportCsv(); });
    addCommand(file, Command::SaveZone, [this] {
        saveZoneAs();
    })->setToolTip(QStringLiteral("把两条时间区线之间的部分另存为一个测试文件"));
    addCommand(file, Command::SavePicture, [this] {
        savePicture();
    })->setToolTip(QStringLiteral("把曲线按现在的样子存为 PNG 或 SVG 图片"));
    addCommand(file, Command::CopyPicture, [this] { qt_adapters::copyWidgetPicture(*view_); },
               {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)});
    addCommand(file, Command::Compare, [this] {
        if (const QString path = askers_.chooseFile(false, kOsaFilter, QString()); !path.isEmpty())
            openReference(path);
    })->setToolTip(QStringLiteral("打开另一个测试文件，画在同一坐标上对比（Ctrl+拖动对齐）"));
    addCommand(file, Command::CompareOff, [this] { closeReference(); });
    recentMenu_ = file->addMenu(QStringLiteral("最近文件"));
    file->addSeparator();
    addCommand(file, Command::Exit, [this] { close(); });
    rebuildRecentMenu();

    QMenu* test = menuBar()->addMenu(QStringLiteral("测试"));
    addCommand(test, Command::StartTest, [this] { run_.start(); },
               {QKeySequence(Qt::CTRL | Qt::Key_A)});
    addCommand(test, Command::StopTest, [this] { run_.stop(); });
    QAction* resume = addCommand(test, Command::ContinueTest, [this] { run_.continueTest(); });
    resume->setToolTip(QStringLiteral("继续打开的曲线接着测试"));
    resume->setStatusTip(resume->toolTip());
    // The module information and module status requests, for the instrument's makers.
    const std::pair<QKeySequence, bool> requests[] = {
        {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_1), true},
        {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_2), false}};
    for (const auto& [keys, information] : requests) {
        auto* request = new QAction(this);
        request->setShortcut(keys);
        connect(request, &QAction::triggered, this, [this, information = information] {
            const auto frame =
                information ? instrument::meterRequest(instrument::MeterCommand::ReadDeviceInfo)
                            : instrument::moduleStatusQuery();
            if (link_.queue(frame, information) == instrument::MeterLink::QueueResult::NotConnected)
                askers_.message(fromStd(std::string(instrument::kNotConnected)));
        });
        addAction(request);
    }
    auto* stopB = new QAction(this);
    stopB->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(stopB, &QAction::triggered, this, [this] { run_.stop(true); });
    addAction(stopB);

    buildToolMenu(menuBar()->addMenu(QStringLiteral("工具")));
#if UFCS_WITH_UPGRADES  // 帮助 holds the update alone
    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助"));
    addCommand(help, Command::VersionUpdate, [this] { openUpdateDialog(); });
#endif

    QToolBar* bar = addToolBar(QStringLiteral("工具栏"));
    for (const Command command :
         {Command::New, Command::Open, Command::Save, Command::StartTest, Command::StopTest,
          Command::ContinueTest, Command::Panorama, Command::VoltageTracking,
          Command::CurrentTracking, Command::ZoomTime, Command::ZoomVoltage, Command::ZoomCurrent,
          Command::Grid, Command::TimeZoneLines, Command::VoltageZoneLines, Command::SaveCsv}) {
        bar->addAction(action(command));
    }
}

void MainWindow::buildToolMenu(QMenu* tools) {
    WaveformState& state = view_->state();
    auto refresh = [this] {
        view_->update();
        updateEnabling();
    };
    addCommand(tools, Command::TimeIn, [this] {
        view_->zoomTime(true);
        settings_.saveTimeIndex(view_->state().timeIndex);
    });
    addCommand(tools, Command::TimeOut, [this] {
        view_->zoomTime(false);
        settings_.saveTimeIndex(view_->state().timeIndex);
    });
    addCommand(tools, Command::CurrentIn, [this] { view_->zoomVertical(Axis::Current, true); },
               {QKeySequence(Qt::Key_F10), QKeySequence(Qt::Key_0),
                QKeySequence(Qt::KeypadModifier | Qt::Key_6)});
    addCommand(tools, Command::CurrentOut, [this] { view_->zoomVertical(Axis::Current, false); },
               {QKeySequence(Qt::Key_F9), QKeySequence(Qt::Key_9),
                QKeySequence(Qt::KeypadModifier | Qt::Key_9)});
    addCommand(tools, Command::VoltageIn, [this] { view_->zoomVertical(Axis::Voltage, true); },
               {QKeySequence(Qt::Key_F8), QKeySequence(Qt::KeypadModifier | Qt::Key_Plus),
                QKeySequence(Qt::Key_Equal)});
    addCommand(tools, Command::VoltageOut, [this] { view_->zoomVertical(Axis::Voltage, false); },
               {QKeySequence(Qt::Key_F7), QKeySequence(Qt::KeypadModifier | Qt::Key_Minus),
                QKeySequence(Qt::Key_Minus)});
    tools->addSeparator();
    const std::pair<Command, ZoomAtPoint> modes[] = {{Command::ZoomTime, ZoomAtPoint::Time},
                                                     {Command::ZoomCurrent, ZoomAtPoint::Current},
                                                     {Command::ZoomVoltage, ZoomAtPoint::Voltage}};
    const Qt::Key keys[] = {Qt::Key_X, Qt::Key_C, Qt::Key_Z};
    for (int i = 0; i < 3; ++i) {
        const ZoomAtPoint mode = modes[i].second;
        QAction* act = addCommand(tools, modes[i].first,
                                  [mode, &state, refresh] {
                                      state.zoomMode =
                                          state.zoomMode == mode ? ZoomAtPoint::None : mode;
                                      refresh();
                                  },
                                  {QKeySequence(keys[i])});
        act->setCheckable(true);
    }
    auto* escape = new QAction(this);
    escape->setShortcut(Qt::Key_Escape);
    connect(escape, &QAction::triggered, this, [&state, refresh] {
        state.zoomMode = ZoomAtPoint::None;
        refresh();
    });
    addAction(escape);
    tools->addSeparator();
    QAction* voltTrack = addCommand(tools, Command::VoltageTracking, [&state, refresh] {
        state.voltTracking = !state.voltTracking;
        state.panorama = false;
        refresh();
    });
    QAction* currentTrack = addCommand(tools, Command::CurrentTracking, [&state, refresh] {
        state.currentTracking = !state.currentTracking;
        state.panorama = false;
        refresh();
    });
    QAction* panorama = addCommand(tools, Command::Panorama, [this, &state, refresh] {
        state.panorama = !state.panorama;
        state.voltTracking = state.currentTracking = false;
        if (state.panorama) view_->fitAll();
        refresh();
    });
    for (QAction* act : {voltTrack, currentTrack, panorama})
        act->setCheckable(true);
    tools->addSeparator();
    QAction* grid = addCommand(tools, Command::Grid,
                               [this] {
                                   view_->setGrid(!view_->gridShown());
                                   settings_.saveGrid(view_->gridShown());
                                   updateEnabling();
                               },
                               {QKeySequence(Qt::CTRL | Qt::Key_G)});
    QAction* volts = addCommand(tools, Command::VoltageCurve, [&state, refresh] {
        state.voltageShown = !state.voltageShown;
        refresh();
    });
    QAction* amps = addCommand(tools, Command::CurrentCurve, [&state, refresh] {
        state.currentShown = !state.currentShown;
        refresh();
    });
    QAction* voltLines = addCommand(
        tools, Command::VoltageZoneLines,
        [this] { view_->showVoltageZoneLines(action(Command::VoltageZoneLines)->isChecked()); },
        {QKeySequence(Qt::CTRL | Qt::Key_H)});
    QAction* timeLines = addCommand(tools, Command::TimeZoneLines, [this] {
        view_->showTimeZoneLines(action(Command::TimeZoneLines)->isChecked());
    });
    for (QAction* act : {grid, volts, amps, voltLines, timeLines})
        act->setCheckable(true);
    grid->setChecked(view_->gridShown());
    volts->setChecked(true);
    amps->setChecked(true);
    tools->addSeparator();
    QAction* voltFirst = addCommand(tools, Command::VoltageFirst, [this] {
        view_->setVoltageOnTop(true);
        updateEnabling();
    });
    QAction* currentFirst = addCommand(tools, Command::CurrentFirst, [this] {
        view_->setVoltageOnTop(false);
        updateEnabling();
    });
    // One of the two, always the one drawn on top.
    auto* onTop = new QActionGroup(this);
    onTop->setExclusive(true);
    for (QAction* act : {voltFirst, currentFirst}) {
        act->setCheckable(true);
        onTop->addAction(act);
    }
    voltFirst->setChecked(true);
    tools->addSeparator();
    addCommand(tools, Command::Print, [] {})->setEnabled(false);
}

void MainWindow::updateEnabling() {
    const bool testing = run_.active();
    for (const char* name : {"新建", "打开", "保存", "另存为", "另存为CSV格式"})
        action(QString::fromUtf8(name))->setEnabled(!testing);
    action(Command::SaveZone)->setEnabled(!testing && document_.largestCount() > 0);
    recentMenu_->setEnabled(!testing);
    action(Command::StartTest)->setEnabled(!testing);
    action(Command::StopTest)->setEnabled(testing);
    action(Command::ContinueTest)->setEnabled(run_.canContinue());
    action(Command::CompareOff)->setEnabled(reference_ != nullptr);
    const WaveformState& state = view_->state();
    const bool samples = document_.largestCount() > 0;
    action(Command::VoltageIn)->setEnabled(canZoomVertical(state, Axis::Voltage, true));
    action(Command::VoltageOut)->setEnabled(canZoomVertical(state, Axis::Voltage, false));
    action(Command::CurrentIn)->setEnabled(samples && canZoomVertical(state, Axis::Current, true));
    action(Command::CurrentOut)
        ->setEnabled(samples && canZoomVertical(state, Axis::Current, false));
    action(Command::TimeIn)->setEnabled(state.timeIndex < kTimeScaleCount - 1);
    action(Command::TimeOut)->setEnabled(state.timeIndex > 0);
    const std::pair<Command, ZoomAtPoint> modes[] = {{Command::ZoomTime, ZoomAtPoint::Time},
                                                     {Command::ZoomCurrent, ZoomAtPoint::Current},
                                                     {Command::ZoomVoltage, ZoomAtPoint::Voltage}};
    for (const auto& [command, mode] : modes) {
        QAction* act = action(command);
        act->setChecked(state.zoomMode == mode);
        act->setEnabled(state.zoomMode == ZoomAtPoint::None || state.zoomMode == mode);
    }
    action(Command::VoltageTracking)->setChecked(state.voltTracking);
    action(Command::CurrentTracking)->setChecked(state.currentTracking);
    action(Command::VoltageTracking)->setEnabled(testing);
    action(Command::CurrentTracking)->setEnabled(testing);
    action(Command::Panorama)->setChecked(state.panorama);
    action(Command::VoltageCurve)->setChecked(state.voltageShown);
    action(Command::CurrentCurve)->setChecked(state.currentShown);
    action(Command::VoltageFirst)->setChecked(view_->voltageOnTop());
    action(Command::CurrentFirst)->setChecked(!view_->voltageOnTop());
}

void MainWindow::updateTitle() {
    const QString name = fromStd(document_.displayName);
    const QString title =
        name == QStringLiteral("无标题") ? kAppTitle : name + QStringLiteral(" - ") + kAppTitle;
    setWindowTitle(qt_adapters::withInstrument(title, device_.identity().name()));
}

// --- documents ------------------------------------------------------------------

void MainWindow::newDocument() {
    if (run_.active() || !run_.settleModified()) return;
    dropJournal();  // first: its thread reads the samples until it has gone
    document_.reset();
    document_.modified = false;
    document_.displayName = "无标题";
    document_.currentCalibrated = 1;
    onNewDocument();
}

void MainWindow::openChosenFile() {
    const QString path = askers_.chooseFile(false, kOsaFilter, QString());
    if (!path.isEmpty()) openFile(path);
}

bool MainWindow::openFile(const QString& path) {
    if (run_.active()) {
        askers_.message(QStringLiteral("正在测试中，请测试完毕后再打开。"));
        return false;
    }
    if (!run_.settleModified()) return false;
    // Read (and summarised for the view) on a thread of its own: a long
    // recording shows its progress, can be cancelled, and the window paints.
    OsaLoad load;
    PanelTotals totals;
    const std::filesystem::path file = pathOf(path);
    qt_adapters::runWithProgress(
        this, QStringLiteral("正在打开 %1 ……").arg(QFileInfo(path).fileName()),
        [&load, &totals, &file](qt_adapters::WorkProgress& progress) {
            load = loadOsa(file, [&progress](uint64_t read, uint64_t samples) {
                return progress.advance(read, samples);
            });
            if (load.document) totals = documentTotals(*load.document);
        });
    if (load.cancelled) return false;
    if (!load.document) {
        askers_.message(fromStd(load.message));
        return false;
    }
    load.document->displayName = displayNameOf(pathOf(path));
    dropJournal();  // first: its thread reads the samples until it has gone
    document_.takeFrom(*load.document);
    document_.modified = false;
    currentPath_ = path;
    rememberRecent(path);
    view_->setStatusTexts({}, {});
    view_->setTotals(totals);
    view_->documentReplaced(true);  // an opened test is shown whole
    updateTitle();
    updateEnabling();
    return true;
}

bool MainWindow::openReference(const QString& path) {
    OsaLoad load;
    const std::filesystem::path file = pathOf(path);
    qt_adapters::runWithProgress(
        this, QStringLiteral("正在打开 %1 ……").arg(QFileInfo(path).fileName()),
        [&load, &file](qt_adapters::WorkProgress& progress) {
            load = loadOsa(file, [&progress](uint64_t read, uint64_t samples) {
                return progress.advance(read, samples);
            });
        });
    if (load.cancelled) return false;
    if (!load.document) {
        askers_.message(fromStd(load.message));
        return false;
    }
    view_->setReference(nullptr, {});  // the old one goes only once the view has let it go
    reference_ = std::move(load.document);
    view_->setReference(reference_.get(), QFileInfo(path).fileName());
    updateEnabling();
    return true;
}

void MainWindow::closeReference() {
    view_->setReference(nullptr, {});
    reference_.reset();
    updateEnabling();
}

bool MainWindow::save() {
    return currentPath_.isEmpty() ? saveAs() : saveTo(currentPath_);
}

bool MainWindow::saveAs() {
    QString path = askers_.chooseFile(true, kOsaFilter, fromStd(document_.displayName));
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".osa");
    return saveTo(path);
}

bool MainWindow::saveTo(const QString& path) {
    const common::FileResult saved = saveOsa(document_, pathOf(path), common::windowSaveControl());
    if (!saved.ok) {
        // Kept unsaved in the window, and safe in the user's data folder meanwhile.
        askers_.message(fromStd(saveOsaToFallback(document_, saved.message).message));
        return false;
    }
    dropJournal();
    currentPath_ = path;
    rememberRecent(path);
    updateTitle();
    return true;
}

void MainWindow::savePicture() {
    const QString suggested =
        currentPath_.isEmpty() ? QString() : QFileInfo(currentPath_).completeBaseName();
    const QString path =
        askers_.chooseFile(true, qt_adapters::pictureFileFilter(), suggested + ".png");
    if (!path.isEmpty()) savePictureTo(path);
}

bool MainWindow::savePictureTo(const QString& path) {
    const common::FileResult saved = qt_adapters::saveWidgetPicture(
        *view_, qt_adapters::picturePathWithExtension(path), windowTitle());
    if (!saved.ok) askers_.message(fromStd(saved.message));
    return saved.ok;
}

void MainWindow::exportCsv() {
    const std::optional<SampleSpan> zone = view_->zoneSpan();
    CsvOptionsDialog dialog(settings_.csvOptions(), zone.has_value(), this);
    if (!askers_.runDialog(dialog)) return;
    QString problem;
    const std::optional<CsvOptions> options = dialog.options(problem);
    if (!options) return;
    settings_.saveCsvOptions(*options);  // kept even when the file dialog is cancelled
    const QString suggested =
        currentPath_.isEmpty() ? QString() : QFileInfo(currentPath_).completeBaseName();
    QString path = askers_.chooseFile(true, kCsvFilter, suggested);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
    exportCsvTo(path, *options, dialog.zoneOnly() && zone ? *zone : SampleSpan{});
}

bool MainWindow::exportCsvTo(const QString& path, const CsvOptions& options, SampleSpan span) {
    const common::FileResult written =
        recorder::exportCsv(document_.channel(kVoltageChannel), document_.channel(kCurrentChannel),
                            options, pathOf(path), span);
    if (!written.ok) askers_.message(fromStd(written.message));
    return written.ok;
}

void MainWindow::saveZoneAs() {
    if (!view_->zoneSpan()) {
        askers_.message(QStringLiteral(
            "请先显示时间区线（显示/隐藏时间区线），把要保存的部分放在两条线之间。"));
        return;
    }
    const QString named = fromStd(document_.displayName) + QStringLiteral("-区域");
    QString path = askers_.chooseFile(true, kOsaFilter, named);
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".osa");
    saveZoneTo(path);
}

bool MainWindow::saveZoneTo(const QString& path) {
    const std::optional<SampleSpan> zone = view_->zoneSpan();
    if (!zone || run_.active()) return false;
    // Copied and written away from the window thread: a zone may hold days of samples.
    if (zone->first >= document_.largestCount()) {
        askers_.message(QStringLiteral("两条时间区线之间没有采样。"));
        return false;
    }
    common::FileResult written{false, "内存不足，无法保存这一部分。"};
    const std::filesystem::path file = pathOf(path);
    qt_adapters::runWithProgress(
        this, QStringLiteral("正在保存 %1 ……").arg(QFileInfo(path).fileName()),
        [&](qt_adapters::WorkProgress&) {
            if (const auto part = documentPart(document_, *zone))
                written = writeOsa(*part, file, common::windowSaveControl());
        });
    if (!written.ok) askers_.message(fromStd(written.message));
    return written.ok;
}

void MainWindow::rememberRecent(const QString& path) {
    QStringList files;
    for (int i = 1; i <= kRecentFiles; ++i) {
        const std::string stored =
            profile_.readString(kRecentSection, "File" + std::to_string(i), "");
        if (!stored.empty() && fromStd(stored) != path) files << fromStd(stored);
    }
    files.prepend(path);
    for (int i = 0; i < kRecentFiles; ++i) {
        profile_.writeString(kRecentSection, "File" + std::to_string(i + 1),
                             i < files.size() ? files[i].toStdString() : std::string());
    }
    rebuildRecentMenu();
}

void MainWindow::rebuildRecentMenu() {
    recentMenu_->clear();
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString path =
            fromStd(profile_.readString(kRecentSection, "File" + std::to_string(i), ""));
        if (path.isEmpty()) continue;
        QAction* act = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i).arg(path));
        connect(act, &QAction::triggered, this, [this, path] { openFile(path); });
    }
    recentMenu_->setEnabled(!recentMenu_->isEmpty());
}

void MainWindow::offerRecovery() {
    if (journalFolder_.empty() || run_.active()) return;
    for (const std::filesystem::path& path : leftoverJournals(journalFolder_)) {
        // Held from here on: no other recorder offers it while it is asked about.
        std::unique_ptr<JournalHold> held = JournalHold::take(path);
        if (!held) continue;
        const QMessageBox::StandardButton answer =
            askers_.question(QStringLiteral("上次测试没有正常结束，有未保存的采样。\n是否恢复?"),
                             QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            held->release(true);
            continue;
        }
        JournalRecovery recovery = recoverJournal(path);
        if (!recovery.document) {
            // Kept for whoever can read it, but offered no more.
            held->release(false);
            std::error_code ignored;
            std::filesystem::rename(path, path.string() + ".unreadable", ignored);
            askers_.message(fromStd(recovery.message));
            continue;
        }
        if (!recovery.message.empty()) askers_.message(fromStd(recovery.message));
        document_.takeFrom(*recovery.document);
        document_.modified = true;
        document_.displayName = "无标题";
        run_.holdRecovered(std::move(held));
        currentPath_.clear();
        view_->setTotals(documentTotals(document_));
        view_->documentReplaced(true);
        updateTitle();
        updateEnabling();
        return;
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!run_.prepareToClose()) {
        event->ignore();
        return;
    }
    if (!document_.modified) dropJournal();  // saved, or let go on purpose
    event->accept();
}

// --- the test run's questions and news --------------------------------------------

TestRunListener::Answer MainWindow::askToSave() {
    switch (askers_.question(QStringLiteral("\n\n      是否存盘?\n "),
                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        default:
            return Answer::Cancel;
    }
}

bool MainWindow::confirmContinue() {
    return askers_.question(QStringLiteral("\n\n      测试程序将接着继续测试     \n "),
                            QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<TimedStop> MainWindow::readTimedStop() {
    return timedStop_->read(askers_.message);
}

void MainWindow::setTimedStopLive(bool live) {
    timedStop_->setLive(live);
}

void MainWindow::showTimedStopNotice(int hours, int minutes) {
    TimedStopNotice notice(hours, minutes, this);
    askers_.runDialog(notice);
}

void MainWindow::showMessage(const std::string& text) {
    QString shown = fromStd(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    askers_.message(shown.trimmed());
}

// Also at the start of a new test: a new, untitled document that is never
// saved over the file that was open before.
void MainWindow::onNewDocument() {
    currentPath_.clear();
    view_->setStatusTexts({}, {});
    view_->setTotals(std::nullopt);
    view_->documentReplaced(false);
    updateTitle();
    updateEnabling();
}

void MainWindow::onTestActive(bool active, bool fresh) {
    if (active && fresh) {
        setWindowTitle(qt_adapters::withInstrument(kAppTitle, device_.identity().name()));
        // The first free instrument was taken: the user hears which busy ones were passed over.
        if (const std::string told = device::passedOverText(device_); !told.empty())
            askers_.message(fromStd(told));
    }
    if (active) outputSwitch_->holdBriefly();
    // A stopped test keeps its totals in the panel until another document comes.
    view_->setTotals(run_.totals().panelTotals(run_.ticksWithoutSample()));
    updateEnabling();
}

void MainWindow::setStatusTexts(const std::string& first, const std::string& second) {
    view_->setStatusTexts(fromStd(first), fromStd(second));
}

void MainWindow::resetOutputSwitch(bool disable) {
    outputSwitch_->reset(disable);
}

void MainWindow::onRefresh(uint32_t, bool changed, const std::string& timedText) {
    if (changed) view_->samplesArrived();
    if (run_.active()) view_->setTotals(run_.totals().panelTotals(run_.ticksWithoutSample()));
    status_->setText(fromStd(timedText));
    updateEnabling();
}

void MainWindow::setJournalNote(const std::string& note) {
    view_->setJournalNote(fromStd(note));
}

#if UFCS_WITH_UPGRADES
void MainWindow::openUpdateDialog() {
    UpdateDialog dialog(upgrade::loadUpgradeSettings(profile_), programDir_, this);
    connect(&dialog.programUpdate(), &qt_adapters::ProgramUpdate::message, this,
            [this](const QString& text) { askers_.message(text); });
    dialog.programUpdate().check();
    askers_.runDialog(dialog);
    // The updater restarts the recorder once this one has closed.
    if (dialog.handedOver()) close();
}
#endif

}  // namespace recorder::ui
