#pragma once
// "充电器测试": the qualification run in the analyzer. The dialog shows the
// plan, the run's progress and, at the end, every test with its verdict;
// a double-click on a test shows its first record in the window's list.
// ChargerQualification runs it: the instrument listens as the charging
// device, qualify::QualificationRun sends on the window's event loop (the
// window never waits), and the report folder is saved on request.

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "analyzer/session.h"
#include "common/clock.h"
#include "common/event_loop.h"
#include "qualify/qualification.h"
#include "qualify/qualification_run.h"
#include "ufcs/capture_store.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace analyzer::ui {

class QualificationDialog final : public QDialog {
    Q_OBJECT
  public:
    explicit QualificationDialog(QWidget* parent = nullptr);

    void setPlanName(const QString& name);
    // While a run is under way: 停止测试 in place of 开始测试, the plan and the save held.
    void setRunning(bool running);
    void showStep(const qualify::RunStep& step);
    void showReport(const qualify::QualificationReport& report);
    void showProblem(const QString& text);
    void clearResults();

    QPushButton* startButton() const { return start_; }
    QPushButton* planButton() const { return plan_; }
    QPushButton* saveButton() const { return save_; }
    QProgressBar* progress() const { return progress_; }
    QLabel* stepLabel() const { return step_; }
    QLabel* summaryLabel() const { return summary_; }
    QTableWidget* results() const { return results_; }
    // The records a result row names (its evidence).
    std::vector<uint32_t> rowsOf(int row) const;

  signals:
    void startClicked();
    void stopClicked();
    void planClicked();
    void saveClicked();
    void recordWanted(uint32_t record);

  private:
    bool running_ = false;
    QLabel* planName_;
    QPushButton* plan_;
    QPushButton* start_;
    QPushButton* save_;
    QProgressBar* progress_;
    QLabel* step_;
    QLabel* summary_;
    QTableWidget* results_;
};

class ChargerQualification final : public QObject {
    Q_OBJECT
  public:
    // What the run needs of the window.
    struct Hooks {
        std::function<bool()> capturing;     // a capture is running (the run needs its own)
        std::function<bool()> startCapture;  // settles the old capture, listens as the charging
                                             // device; false: the user kept it, or it failed
        std::function<void()> stopCapture;   // ends the listening the run started, or its
                                             // connection still under way
        std::function<void(uint32_t)> showRecord;
        std::function<void(const QString&)> message;
        std::function<QString()> chooseReportFolder;  // empty: cancelled
        std::function<QString()> choosePlanFile;      // empty: cancelled
        std::function<void()> runChanged;             // the window follows running()
    };

    ChargerQualification(Session& session, const ufcs::CaptureStore& store, common::EventLoop& loop,
                         const common::Clock& clock, QString instrumentName, QWidget* window,
                         Hooks hooks);
    ~ChargerQualification() override;

    QualificationDialog* dialog() const { return dialog_; }
    void show();
    // From 开始测试 until the verdicts: connecting included.
    bool running() const { return connecting_ || (run_ && run_->running()); }
    // The window's new capture has started: the run begins.
    void captureStarted();
    // The window's listening ended (停止监听, or the instrument went).
    void listeningEnded();
    bool loadPlan(const QString& path);
    bool saveReportTo(const QString& folder);
    const qualify::QualificationRun* lastRun() const { return run_.get(); }

  private:
    void start();
    void stop();
    void finished();
    void endWithoutRun(const QString& why);

    Session& session_;
    const ufcs::CaptureStore& store_;
    common::EventLoop& loop_;
    const common::Clock& clock_;
    QString instrumentName_;
    Hooks hooks_;
    QualificationDialog* dialog_;
    qualify::Plan plan_;
    std::unique_ptr<qualify::QualificationRun> run_;
    bool connecting_ = false;  // 开始测试 pressed, the capture not yet started
    std::string startedText_;
    common::Clock::TimePoint startedAt_{};
    double seconds_ = 0;
};

}  // namespace analyzer::ui
