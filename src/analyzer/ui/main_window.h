#pragma once
// The analyzer's one window, "TarselUFCS解析程序": the message list, the
// decoded field tree and detail pane, and the buttons that run a capture.
// Capture logic lives in analyzer::Session; this class shows it.

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

#include "analyzer/auto_scroll.h"
#include "analyzer/composer.h"
#include "analyzer/session.h"
#include "analyzer/ui/dialogs.h"
#if UFCS_WITH_UPGRADES
#include "analyzer/ui/upgrade_dialog.h"
#endif
#include "qt/dialog_folder.h"
#include "qt/qt_event_loop.h"
#include "ufcs/capture_list.h"
#include "ufcs/decoder.h"
#include "ufcs/list_search.h"
#include "ufcs/row_export.h"
#include "ufcs/sequence_check.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTextEdit;
class QTimer;
class QToolButton;
class QTreeWidget;

namespace analyzer::ui {

class MessageListModel;
class OutputModesPanel;
class PacketCurveView;
class SendDialog;

enum class Layout { Normal, Compact };

// Compact below 1360 × 850: the window is 1024 wide, columns narrower, no enlarged font.
Layout layoutForScreen(int width, int height);

class MainWindow final : public QDialog, private SessionListener {
    Q_OBJECT
  public:
    MainWindow(device::HidDevice& device, ufcs::CaptureStore& store, common::Profile& profile,
               common::Clock& clock, QString programDir, Layout layout, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Where message boxes go (a modal box by default; tests collect the texts).
    void setMessageSink(std::function<void(const QString&)> sink) {
        messageSink_ = std::move(sink);
    }
    // How the mode dialog is run (exec() by default; tests answer it).
    void setModeDialogRunner(std::function<bool(ModeDialog&)> runner) {
        runModeDialog_ = std::move(runner);
    }
    void setRefusalDialogRunner(std::function<bool(RefusalDialog&)> runner) {
        runRefusalDialog_ = std::move(runner);
    }
    void setFilterPopupRunner(std::function<bool(FilterPopup&)> runner) {
        runFilterPopup_ = std::move(runner);
    }
    // How "是否存盘?" is answered (a message box by default).
    void setSaveQuestionRunner(std::function<QMessageBox::StandardButton()> runner) {
        runSaveQuestion_ = std::move(runner);
    }
    // Where 保存文件 saves (a file dialog by default); empty when the user cancels.
    void setSavePathChooser(std::function<QString()> chooser) {
        chooseSavePath_ = std::move(chooser);
    }
    // Where 导出 writes and in which format (a file dialog by default); empty path: cancelled.
    struct ExportChoice {
        QString path;
        ufcs::RowExportFormat format = ufcs::RowExportFormat::CsvUtf8;
    };
    void setExportChooser(std::function<ExportChoice()> chooser) {
        chooseExport_ = std::move(chooser);
    }
    // How a file is shown in the desktop's viewer (QDesktopServices by default);
    // false when nothing could open it.
    void setUrlOpener(std::function<bool(const QUrl&)> opener) { openUrl_ = std::move(opener); }
#if UFCS_WITH_UPGRADES
    // How the upgrade dialog is run (exec() by default; tests drive it).
    void setUpgradeDialogRunner(std::function<void(UpgradeDialog&)> runner) {
        runUpgradeDialog_ = std::move(runner);
    }
#endif
    // A capture with records that were never saved (nor opened from a file).
    bool captureUnsaved() const;

    // What the buttons do after their file dialogs.
    bool saveCaptureTo(const QString& path);
    bool openCaptureFrom(const QString& path);
    bool exportRowsTo(const QString& path, ufcs::RowExportFormat format);

    // Find (Ctrl+F, F3, Shift+F3) and the faulty rows (F8, Shift+F8); false when nothing matches.
    bool findText(const QString& text, ufcs::SearchDirection direction);
    bool goToFaultyRow(ufcs::SearchDirection direction);
    // The findings of the capture so far.
    const ufcs::SequenceReport& sequenceReport();
    // Selects and shows the row of `record`; false when it is not listed.
    bool selectRecord(uint32_t record);
    QLabel* statusLine() const {
        return statusLabel_;
    }
    QLineEdit* findBox() const {
        return findBox_;
    }
    QString timingSummaryText();
    void openFilterPopup(FilterPopup::Group group);

    // A send of the send list (0-19) or of the output-modes panel (20-34, 1000), as the
    // dialogs ask for it; only mode 2 sends anything.
    void sendUfcs(int position, int mode);

    // For tests and the window's own parts.
    SendDialog* sendDialog() const {
        return sendDialog_;
    }
    OutputModesPanel* modesPanel() const {
        return modesPanel_;
    }
    PacketCurveView* curveView() const {
        return curveView_;
    }
    Session& session() {
        return *session_;
    }
    QTableView* messageList() const {
        return list_;
    }
    MessageListModel* model() const {
        return model_;
    }
    QTreeWidget* tree() const {
        return tree_;
    }
    QTextEdit* pane() const {
        return pane_;
    }
    QPushButton* listenButton() const {
        return listenButton_;
    }
    QPushButton* button(const QString& caption) const;
    QCheckBox* autoScrollBox() const {
        return autoScrollBox_;
    }
    QTextEdit* voltageBox() const {
        return voltageBox_;
    }
    QTextEdit* currentBox() const {
        return currentBox_;
    }
    QToolButton* filterButton(FilterPopup::Group group) const;
    const AutoScroll& autoScroll() const {
        return autoScroll_;
    }
    Layout windowLayout() const {
        return layout_;
    }
    // Appends to the detail pane as the program does (0/100 cyan, 1 red, 2 yellow).
    void appendPaneText(const QString& text, PaneStyle style);
    void copyPaneSelection();

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Escape does not close the window: a capture must not go with a stray key.
    void reject() override {}

  private:
    // SessionListener
    void onPaneText(const std::string& text, PaneStyle style) override;
    void onMessageBox(const std::string& text) override;
    void onCaptureStarting() override;
    void onListeningChanged(bool listening) override;
    void onRecordsAdded(uint32_t count) override;
    void onLostStep() override;
    void onStoreFull(const std::string& text) override;
    void onStatus(const analyzer::StatusEffects& effects) override;
    void onStatusTick(const StatusTexts& texts) override;
    void onCapabilityTable(const instrument::OutputCapabilityTable& table) override;

    void toggleComposer();
    void toggleModesPanel();
    void hideSendAndModes();
    void toggleCurveView();
    void showDeviceRange();

    void buildControls();
    void buildListAndPanes(bool compact);
    void sizeFontsAndColumns(bool compact);
    void buildButtons();
    void buildDialogs();
    void layOutControls(bool compact);
    void buildTimers();
    void connectControls();
    void placeFilterButtons();
    void toggleListening();
    void chooseMode();
    void chooseRefusal();
    bool saveCapture();
    void openCapture();
    bool settleUnsavedCapture();
    void startRecorder();
    void openManual();
#if UFCS_WITH_UPGRADES
    void openUpgradeDialog();
#endif
    void showPaneMenu(const QPoint& position);
    void decodeRow(int row);
    void showSequenceNotes(uint32_t record);
    void buildStatusLine();
    void updateStatusLine();
    uint32_t capturedRecords() const;
    void refreshChecks();
    void restartChecks();
    void showTimingSummary();
    void exportListedRows();
    void showHeaderMenu(const QPoint& position);
    void moveFilterButtons();
    void setOpenFile(const QString& path);
    std::optional<std::size_t> currentListRow() const;
    void showDecode(const ufcs::DecodeResult& result);
    void scheduleRebuild();
    void rebuildList();
    void followNewestRow();
    void message(const QString& text);
    void clearDecode();

    device::HidDevice& device_;
    ufcs::CaptureStore& store_;
    common::Profile& profile_;
    common::Clock& clock_;
    QString programDir_;
    Layout layout_;
    qt_adapters::QtEventLoop loop_;
    ufcs::CaptureList captureList_;
    qt_adapters::DialogFolder dialogFolder_;
    std::unique_ptr<Session> session_;
    AutoScroll autoScroll_;
    int modeDialogShown_ = 0;
    bool captureChanged_ = false;  // since it was last saved or opened

    MessageListModel* model_ = nullptr;
    QTableView* list_ = nullptr;
    QTreeWidget* tree_ = nullptr;
    QTextEdit* pane_ = nullptr;
    QTextEdit* voltageBox_ = nullptr;
    QTextEdit* currentBox_ = nullptr;
    QCheckBox* autoScrollBox_ = nullptr;
    QPushButton* listenButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QPushButton* modesButton_ = nullptr;
    QPushButton* modeButton_ = nullptr;
    QPushButton* refusalButton_ = nullptr;
    QPushButton* curveButton_ = nullptr;
    QPushButton* recorderButton_ = nullptr;
    QPushButton* upgradeButton_ = nullptr;
    QPushButton* manualButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QPushButton* timingButton_ = nullptr;
    QPushButton* previousFaultButton_ = nullptr;
    QPushButton* nextFaultButton_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLineEdit* findBox_ = nullptr;
    QString openFile_;
    QString statusNote_;  // the last confirmation, shown after the counts
    ufcs::SequenceChecker checker_;
    QToolButton* filterButtons_[4] = {};
    SendDialog* sendDialog_ = nullptr;
    OutputModesPanel* modesPanel_ = nullptr;
    PacketCurveView* curveView_ = nullptr;
    PendingOutputRequest pending_;
    QTimer* followTimer_ = nullptr;   // 333 ms while listening
    QTimer* rebuildTimer_ = nullptr;  // 55 ms after a filter change or an opened file
    QTimer* insertTimer_ = nullptr;   // gathers new rows into batches

    std::function<void(const QString&)> messageSink_;
    std::function<bool(ModeDialog&)> runModeDialog_;
    std::function<bool(RefusalDialog&)> runRefusalDialog_;
    std::function<bool(FilterPopup&)> runFilterPopup_;
    std::function<QMessageBox::StandardButton()> runSaveQuestion_;
    std::function<QString()> chooseSavePath_;
    std::function<ExportChoice()> chooseExport_;
    std::function<bool(const QUrl&)> openUrl_;
#if UFCS_WITH_UPGRADES
    std::function<void(UpgradeDialog&)> runUpgradeDialog_ = [](UpgradeDialog& dialog) {
        dialog.exec();
    };
#endif
};

}  // namespace analyzer::ui
