#pragma once
// The analyzer's one window, "TarselUFCS解析程序": the message list, the
// decoded field tree and detail pane, and the buttons that run a capture.
// Capture logic lives in analyzer::Session, the capture itself in
// analyzer::CaptureDocument; this class lays them out and shows them.

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "analyzer/auto_scroll.h"
#include "analyzer/capture_document.h"
#include "analyzer/composer.h"
#include "analyzer/session.h"
#include "analyzer/ui/charging_device_controls.h"
#include "analyzer/ui/decode_pane.h"
#include "analyzer/ui/dialogs.h"
#include "analyzer/ui/message_list_view.h"
#include "analyzer/ui/qualification_dialog.h"
#if UFCS_WITH_UPGRADES
#include "analyzer/ui/upgrade_dialog.h"
#endif
#include "qt/dialog_folder.h"
#include "qt/qt_event_loop.h"
#include "ufcs/decoder.h"

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
class PacketCurveView;

enum class Layout { Normal, Compact };

// Compact below 1360 × 850: the window is 1024 wide, columns narrower, no enlarged font.
Layout layoutForScreen(int width, int height);

class MainWindow final : public QDialog, private SessionListener, private CaptureDocumentObserver {
    Q_OBJECT
  public:
    MainWindow(device::HidDevice& device, ufcs::CaptureStore& store, common::Profile& profile,
               common::Clock& clock, QString programDir, Layout layout, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Where 导出 writes and in which format; an empty path: cancelled.
    struct ExportChoice {
        QString path;
        ufcs::RowExportFormat format = ufcs::RowExportFormat::CsvUtf8;
        bool pcapng = false;  // the whole capture for Wireshark instead of the listed rows
    };
    // Everything the window asks its user, and where it tells them; message
    // boxes and dialogs by default, tests answer instead.
    struct Askers {
        std::function<void(const QString&)> message;
        std::function<bool(ModeDialog&)> runModeDialog;
        std::function<bool(RefusalDialog&)> runRefusalDialog;
        std::function<bool(LogicLinesDialog&)> runLogicLinesDialog;
        std::function<bool(FilterPopup&)> runFilterPopup;
        std::function<QMessageBox::StandardButton()> saveQuestion;  // "是否存盘?"
        std::function<bool(const QString&)> confirm;                // a Yes/No question
        std::function<QString()> chooseOpenPath;                    // empty: cancelled
        std::function<QString()> chooseSavePath;
        std::function<ExportChoice()> chooseExport;
        std::function<QString()> chooseReportFolder;  // 充电器测试's 保存报告; empty: cancelled
        std::function<QString()> choosePlanFile;
        std::function<QString()> choosePicturePath;  // 保存图片 (.png or .svg); empty: cancelled
        std::function<bool(const QUrl&)> openUrl;    // false when nothing could show the file
#if UFCS_WITH_UPGRADES
        std::function<void(UpgradeDialog&)> runUpgradeDialog;
#endif
    };
    Askers& askers() {
        return askers_;
    }

    CaptureDocument& document() {
        return document_;
    }
    // A capture with records that were never saved (nor opened from a file).
    bool captureUnsaved() const {
        return document_.unsaved();
    }

    // What the buttons do after their file dialogs.
    bool saveCaptureTo(const QString& path);
    bool openCaptureFrom(const QString& path);
    bool exportRowsTo(const QString& path, ufcs::RowExportFormat format);
    // Every record (whatever the filters list) with its sequence notes, for Wireshark.
    bool exportPcapngTo(const QString& path);

    // Find (Ctrl+F, F3, Shift+F3) and the faulty rows (F8, Shift+F8); false when nothing matches.
    bool findText(const QString& text, ufcs::SearchDirection direction);
    bool goToFaultyRow(ufcs::SearchDirection direction);
    const ufcs::SequenceReport& sequenceReport() {
        return document_.report();
    }
    // Selects and shows the row of `record`; false when it is not listed.
    bool selectRecord(uint32_t record);
    // `--row N`: the record selected once the opened file is listed; a number
    // that is not a record is told.
    void showRecordOnceListed(const QString& number);
    QString timingSummaryText();
    void openFilterPopup(FilterPopup::Group group);
    // A span dragged on the packet curve: the user is asked whether the list shows only it.
    void offerRecordRange(uint32_t first, uint32_t last);
    // The list through `filter`, rebuilt (a popup's boxes, a range, or everything again).
    void applyFilter(const ufcs::ListFilter& filter);

    // A send of the send list (0-19) or of the output-modes panel (20-34, 1000), as the
    // dialogs ask for it; only mode 2 sends anything.
    void sendUfcs(int position, int mode) {
        charger_->sendUfcs(position, mode);
    }

    // For tests and the window's own parts.
    SendDialog* sendDialog() const {
        return charger_->sendDialog();
    }
    OutputModesPanel* modesPanel() const {
        return charger_->modesPanel();
    }
    ChargerQualification* qualification() const {
        return qualification_;
    }
    // 充电器测试: the dialog, brought to the front.
    void showQualification();
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
        return list_->listModel();
    }
    QTreeWidget* tree() const {
        return decode_->tree();
    }
    QTextEdit* pane() const {
        return decode_->text();
    }
    QLabel* statusLine() const {
        return statusLabel_;
    }
    QLineEdit* findBox() const {
        return findBox_;
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
    QToolButton* filterButton(FilterPopup::Group group) const {
        return list_->filterButton(group);
    }
    const AutoScroll& autoScroll() const {
        return autoScroll_;
    }
    Layout windowLayout() const {
        return layout_;
    }
    // Appends to the detail pane as the program does (0/100 cyan, 1 red, 2 yellow).
    void appendPaneText(const QString& text, PaneStyle style) {
        decode_->append(text, style);
    }
    void copyPaneSelection() {
        decode_->copySelection();
    }

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
    // CaptureDocumentObserver
    void onCaptureCleared() override;
    void onCaptureOpened() override;
    void onStatusChanged() override;

    void setDefaultAskers();
    // The one place the buttons' visibility, enabling and captions follow the state.
    void applyState();
    void buildControls();
    void buildButtons();
    void buildDialogs();
    void layOutControls(bool compact);
    void buildTimers();
    void connectControls();
    void connectShortcuts();
    void toggleListening();
    void chooseMode();
    void chooseRefusal();
    bool saveCapture();
    void openCapture();
    bool settleUnsavedCapture();
    common::FileResult openLogicRecording(const QString& path);
    void hideSendAndModes();
    void toggleCurveView();
    void showDeviceRange();
    void decodeRow(int row);
    void showTimingSummary();
    bool startQualificationCapture();
    void exportListedRows();
    void updateTitle();
    void scheduleRebuild();
    void rebuildList();
    void followNewestRow();
    void message(const QString& text);

    device::HidDevice& device_;
    common::Profile& profile_;
    common::Clock& clock_;
    QString programDir_;
    Layout layout_;
    qt_adapters::QtEventLoop loop_;
    CaptureDocument document_;
    qt_adapters::DialogFolder dialogFolder_;
    std::unique_ptr<Session> session_;
    AutoScroll autoScroll_;
    Askers askers_;
    int modeDialogShown_ = 0;
    std::optional<uint32_t> pendingRecord_;  // selected after the list's next rebuild
    // The mode and refusals the user had before 充电器测试 took the instrument
    // as the charging device; given back once its capture has ended.
    struct UserChoices {
        uint8_t mode = 0;
        bool refuseAck = false, refusePing = false;
    };
    std::optional<UserChoices> beforeQualification_;
    // What applyState() follows.
    bool capturing_ = false;        // from the capture's start until listening ends
    bool chargingCapture_ = false;  // the capture emulates the charging device (mode 2)
    bool listening_ = false;
    bool sendReady_ = false;   // the instrument is ready to send as the charging device
    bool modesReady_ = false;  // the charger's output modes have come

    MessageListView* list_ = nullptr;
    DecodePane* decode_ = nullptr;
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
    QPushButton* qualifyButton_ = nullptr;
    QPushButton* previousFaultButton_ = nullptr;
    QPushButton* nextFaultButton_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLineEdit* findBox_ = nullptr;
    ChargingDeviceControls* charger_ = nullptr;
    ChargerQualification* qualification_ = nullptr;
    PacketCurveView* curveView_ = nullptr;
    QTimer* followTimer_ = nullptr;   // 333 ms while listening
    QTimer* rebuildTimer_ = nullptr;  // 55 ms after a filter change or an opened file
    QTimer* insertTimer_ = nullptr;   // gathers new rows into batches
};

}  // namespace analyzer::ui
