#pragma once
// The recorder's window, "Tarsel电压电流测量": the document's file commands,
// the test commands, the view's tools, the panels, and the questions the test
// run asks. The test flow lives in recorder::TestRun; this class shows it.

#include <QCoreApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>

#include "common/clock.h"
#include "device/hid_device.h"
#include "qt/qt_event_loop.h"
#include "qt/wake_lock.h"
#include "recorder/test_run.h"

class QAction;
class QLabel;
class QMenu;

namespace recorder::ui {

// The menu commands; their captions live in one table (commandCaption).
enum class Command {
    New,
    Open,
    Save,
    SaveAs,
    SaveCsv,
    SaveZone,
    Exit,
    StartTest,
    StopTest,
    ContinueTest,
    VersionUpdate,
    TimeIn,
    TimeOut,
    CurrentIn,
    CurrentOut,
    VoltageIn,
    VoltageOut,
    ZoomTime,
    ZoomCurrent,
    ZoomVoltage,
    VoltageTracking,
    CurrentTracking,
    Panorama,
    Grid,
    VoltageCurve,
    CurrentCurve,
    VoltageZoneLines,
    TimeZoneLines,
    VoltageFirst,
    CurrentFirst,
    Print,
    SavePicture,
    CopyPicture,
    Compare,
    CompareOff,
};
inline constexpr std::size_t kCommandCount = static_cast<std::size_t>(Command::CompareOff) + 1;
QString commandCaption(Command command);

class OutputSwitchPanel;
class TimedStopPanel;
class WaveformView;

class MainWindow final : public QMainWindow, private TestRunListener {
    Q_OBJECT
  public:
    // Each test's recovery journal goes into `journalFolder`.
    MainWindow(device::HidDevice& device, common::Profile& profile, common::Clock& clock,
               std::filesystem::path journalFolder, QWidget* parent = nullptr);
    ~MainWindow() override;

    // How the window's questions and file choices are answered (boxes and
    // dialogs by default; tests answer them).
    struct Askers {
        std::function<void(const QString&)> message;
        std::function<QMessageBox::StandardButton(const QString&, QMessageBox::StandardButtons)>
            question;
        std::function<QString(bool save, const QString& filter, const QString& suggested)>
            chooseFile;
        std::function<bool(QDialog&)> runDialog;
    };
    Askers& askers() { return askers_; }

    bool openFile(const QString& path);
    bool saveTo(const QString& path);
    bool exportCsvTo(const QString& path, const CsvOptions& options, SampleSpan span = {});
    // The samples between the time zone lines as a test file of their own; the window's
    // document stays as it was.
    bool saveZoneTo(const QString& path);
    // 保存图片: the waveform as shown into a .png or .svg file; false (and told) when it cannot be.
    bool savePictureTo(const QString& path);
    // 对比…: another test file drawn dimmed under this one (the view aligns and measures it).
    bool openReference(const QString& path);
    void closeReference();
    const SampleDocument* reference() const { return reference_.get(); }
    // Journals left by tests that never ended cleanly (and that no running
    // test holds): offered for recovery in turn, newest first, until one is taken.
    void offerRecovery();

    // A menu command by its caption, as the user sees it; null when the menus lack it.
    QAction* action(const QString& caption) const;
    QAction* action(Command command) const { return actions_[static_cast<std::size_t>(command)]; }
    WaveformView* view() const { return view_; }
    TimedStopPanel* timedStopPanel() const { return timedStop_; }
    TestRun& testRun() { return run_; }
    SampleDocument& document() { return document_; }
    QLabel* statusText() const { return status_; }
    // Where the updater and the downloads are (the executable's folder by default).
    void setProgramDir(QString folder) { programDir_ = std::move(folder); }
#if UFCS_WITH_UPGRADES
    void openUpdateDialog();
#endif

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // TestRunListener
    Answer askToSave() override;
    bool saveDocument() override {
        return save();
    }
    bool confirmContinue() override;
    std::optional<TimedStop> readTimedStop() override;
    void setTimedStopLive(bool live) override;
    void showTimedStopNotice(int hours, int minutes) override;
    void showMessage(const std::string& text) override;
    void onNewDocument() override;
    void onTestActive(bool active, bool fresh) override;
    void setStatusTexts(const std::string& first, const std::string& second) override;
    void resetOutputSwitch(bool disable) override;
    void onRefresh(uint32_t displayedCount, bool changed, const std::string& timedText) override;
    void setJournalNote(const std::string& note) override;

    void buildMenus();
    void buildToolMenu(QMenu* menu);
    QAction* addCommand(QMenu* menu, Command command, std::function<void()> run,
                        const QList<QKeySequence>& keys = {});
    void newDocument();
    void openChosenFile();
    bool save();
    bool saveAs();
    void exportCsv();
    void saveZoneAs();
    void savePicture();
    void rememberRecent(const QString& path);
    void rebuildRecentMenu();
    void updateTitle();
    void updateEnabling();
    void storeViewSettings();
    // The document was saved, replaced or let go: no journal of it is kept.
    void dropJournal();

    common::Profile& profile_;
    const device::HidDevice& device_;
    qt_adapters::QtEventLoop loop_;
    SampleDocument document_;
    std::unique_ptr<SampleDocument> reference_;  // 对比's test; the view draws it
    RecorderSettings settings_;
    instrument::MeterLink link_;
    qt_adapters::WakeLock wake_;
    TestRun run_;
    std::filesystem::path journalFolder_;
    QString currentPath_;
    int storedTimeIndex_ = -1;
    WaveformView* view_ = nullptr;
    TimedStopPanel* timedStop_ = nullptr;
    OutputSwitchPanel* outputSwitch_ = nullptr;
    QLabel* status_ = nullptr;
    QMenu* recentMenu_ = nullptr;
    std::array<QAction*, kCommandCount> actions_{};  // null: not in this build's menus
    Askers askers_;
    QString programDir_ = QCoreApplication::applicationDirPath();
};

}  // namespace recorder::ui
