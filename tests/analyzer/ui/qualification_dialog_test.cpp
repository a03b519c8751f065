// 充电器测试 in the analyzer, driven against the simulated charger offscreen:
// the run as a user makes it, stopped, refused, saved and closed mid-way.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "analyzer/ui/main_window.h"
#include "analyzer/ui/message_list_model.h"
#include "analyzer/ui/message_list_view.h"
#include "simulator/responder.h"
#include "simulator/simulated_device.h"
#include "support/quick_clock.h"
#include "support/test_folder.h"

using analyzer::ui::MainWindow;
using analyzer::ui::QualificationDialog;

namespace {

constexpr int kRunTimeoutMs = 60'000;

}  // namespace

class QualificationDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<ufcs::CaptureStore> store_ = ufcs::CaptureStore::create();
    std::shared_ptr<simulator::Instrument> instrument_;
    std::unique_ptr<simulator::SimulatedDevice> device_;
    common::MemoryProfile profile_;
    testing_support::QuickClock clock_;
    std::unique_ptr<testing_support::TestFolder> folder_;
    std::unique_ptr<MainWindow> window_;
    QStringList messages_;
    int saveQuestions_ = 0;
    QMessageBox::StandardButton saveAnswer_ = QMessageBox::No;
    QString reportFolder_;
    QString planFile_;

    void makeWindow(const std::string& fault = {}) {
        window_.reset();
        simulator::InstrumentSettings settings;
        settings.recordsPerSecond = 0;
        settings.faultRate = 0;
        settings.seed = 5;
        if (!fault.empty()) QVERIFY(simulator::applyFault(fault, settings));
        instrument_ = std::make_shared<simulator::Instrument>(settings);
        device_ = std::make_unique<simulator::SimulatedDevice>(instrument_,
                                                               folder_->file("instrument.lock"));
        window_ = std::make_unique<MainWindow>(*device_, *store_, profile_, clock_,
                                               QString::fromStdString(folder_->path().string()),
                                               analyzer::ui::Layout::Normal);
        MainWindow::Askers& askers = window_->askers();
        askers.message = [this](const QString& text) { messages_ << text; };
        askers.runModeDialog = [](analyzer::ui::ModeDialog&) { return true; };
        askers.saveQuestion = [this] {
            ++saveQuestions_;
            return saveAnswer_;
        };
        askers.chooseReportFolder = [this] { return reportFolder_; };
        askers.choosePlanFile = [this] { return planFile_; };
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    QualificationDialog* dialog() const { return window_->qualification()->dialog(); }
    QTableWidget* results() const { return dialog()->results(); }
    QString cell(int row, int column) const {
        const QTableWidgetItem* item = results()->item(row, column);
        return item ? item->text() : QString();
    }
    int rowsWithVerdict(const QString& verdict) const {
        int found = 0;
        for (int row = 0; row < results()->rowCount(); ++row)
            found += cell(row, 1) == verdict;
        return found;
    }
    void startRun() {
        window_->button("充电器测试")->click();
        QVERIFY(dialog()->isVisible());
        dialog()->startButton()->click();
        QTRY_VERIFY(window_->qualification()->running());
    }
    void waitForTheEnd() {
        QTRY_VERIFY_WITH_TIMEOUT(!window_->qualification()->running() &&
                                     dialog()->startButton()->text() == QStringLiteral("开始测试"),
                                 kRunTimeoutMs);
        // The run's own capture ends with it.
        QTRY_COMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
    }

  private slots:
    void init() {
        folder_ = std::make_unique<testing_support::TestFolder>("qualification_dialog_test");
        messages_.clear();
        saveQuestions_ = 0;
        saveAnswer_ = QMessageBox::No;
        reportFolder_ = QString::fromStdString(folder_->file("report"));
        planFile_.clear();
        profile_ = common::MemoryProfile();
        makeWindow();
    }
    void cleanup() {
        window_.reset();
        device_.reset();
        folder_.reset();
    }

    // The whole run from the window: progress while it sends (the window goes
    // on listing rows), every verdict at the end, the report saved, and a
    // test's evidence shown in the list.
    void aRunShowsItsProgressEveryVerdictAndItsEvidence() {
        // The user's own choices, which the run sets aside and gives back.
        window_->session().setMode(device::kModeListening);
        window_->session().setRefusal(true, false);
        startRun();
        QCOMPARE(window_->session().mode(), uint8_t(device::kModeChargingDevice));
        QVERIFY(!window_->session().refuseAck());
        QTRY_VERIFY(dialog()->progress()->value() >= 3);
        QVERIFY(dialog()->stepLabel()->text().startsWith(QStringLiteral("第 ")));
        QCOMPARE(dialog()->startButton()->text(), QStringLiteral("停止测试"));
        QVERIFY(!dialog()->planButton()->isEnabled());
        QVERIFY(!dialog()->saveButton()->isEnabled());
        // Nothing else sends while the run does.
        QVERIFY(!window_->button("档位信息")->isEnabled());
        QVERIFY(window_->model()->rowCount() > 10);
        waitForTheEnd();

        QVERIFY2(dialog()->summaryLabel()->text().startsWith(QStringLiteral("结论：通过")),
                 qPrintable(dialog()->summaryLabel()->text()));
        QVERIFY(results()->rowCount() > 40);
        QCOMPARE(rowsWithVerdict("FAIL"), 0);
        QVERIFY(rowsWithVerdict("PASS") > 40);
        QCOMPARE(dialog()->progress()->value(), dialog()->progress()->maximum());
        QVERIFY(dialog()->saveButton()->isEnabled());
        QVERIFY(messages_.isEmpty());
        QCOMPARE(window_->session().mode(), uint8_t(device::kModeListening));
        QVERIFY(window_->session().refuseAck());
        QVERIFY(!window_->session().refusePing());

        // Double-click on M1.high.ready: the list selects the record it names.
        int ready = -1;
        for (int row = 0; row < results()->rowCount(); ++row) {
            if (cell(row, 0) == QStringLiteral("M1.high.ready")) ready = row;
        }
        QVERIFY(ready >= 0);
        const std::vector<uint32_t> evidence = dialog()->rowsOf(ready);
        QVERIFY(!evidence.empty());
        emit results()->cellDoubleClicked(ready, 2);
        const auto* list = qobject_cast<analyzer::ui::MessageListView*>(window_->messageList());
        QVERIFY(list);
        QCOMPARE(list->currentRecord(), std::optional<uint32_t>(evidence.front()));

        // 保存报告…: the folder with the capture, report.json, report.html and junit.xml.
        dialog()->saveButton()->click();
        QCOMPARE(messages_.size(), 1);
        QVERIFY2(messages_[0].startsWith(QStringLiteral("报告已保存到")), qPrintable(messages_[0]));
        const std::filesystem::path folder = folder_->path() / "report";
        for (const char* name : {"capture.ufcs_stream", "report.json", "report.html", "junit.xml"})
            QVERIFY2(std::filesystem::file_size(folder / name) > 0, name);
        QFile json(QString::fromStdString((folder / "report.json").string()));
        QVERIFY(json.open(QIODevice::ReadOnly));
        const QJsonObject report = QJsonDocument::fromJson(json.readAll()).object();
        QCOMPARE(report["summary"].toObject()["verdict"].toString(), QStringLiteral("PASS"));
        QCOMPARE(report["summary"].toObject()["complete"].toBool(), true);
        QCOMPARE(report["tests"].toArray().size(), results()->rowCount());

        // Again: the new run judges its own capture, not the last one's (whose
        // modes stay in the store until the new capture starts).
        const int firstRows = results()->rowCount();
        dialog()->startButton()->click();
        QTRY_VERIFY(window_->qualification()->running());
        QVERIFY(results()->rowCount() == 0);
        waitForTheEnd();
        QVERIFY2(dialog()->summaryLabel()->text().startsWith(QStringLiteral("结论：通过")),
                 qPrintable(dialog()->summaryLabel()->text()));
        QCOMPARE(results()->rowCount(), firstRows);
        QCOMPARE(rowsWithVerdict("FAIL"), 0);
    }

    // 停止测试 mid-way: what was reached is judged, the rest is listed as not
    // reached, and the verdict says the run is unfinished.
    void stoppingMidwayListsWhatWasNotReached() {
        startRun();
        QTRY_VERIFY(dialog()->progress()->value() >= 8);
        dialog()->startButton()->click();
        waitForTheEnd();
        QVERIFY2(dialog()->summaryLabel()->text().startsWith(QStringLiteral("结论：未完成")),
                 qPrintable(dialog()->summaryLabel()->text()));
        QVERIFY(dialog()->stepLabel()->text().contains(QStringLiteral("测试被停止")));
        QVERIFY(dialog()->progress()->value() < dialog()->progress()->maximum());
        int notReached = 0;
        for (int row = 0; row < results()->rowCount(); ++row) {
            if (!cell(row, 2).contains(QStringLiteral("没有做到这一项"))) continue;
            ++notReached;
            QCOMPARE(cell(row, 1), QStringLiteral("NOT MEASURABLE"));
            QVERIFY(dialog()->rowsOf(row).empty());
        }
        QVERIFY(notReached > 5);
        QVERIFY(rowsWithVerdict("PASS") > 3);
        QCOMPARE(rowsWithVerdict("FAIL"), 0);
        // The capture so far stays, unsaved: closing would ask.
        QVERIFY(window_->captureUnsaved());
    }

    // 停止测试 before the capture has even started: nothing is judged, the
    // connection under way is ended too, and the user's mode comes back.
    void stoppingWhileConnectingEndsTheConnectionToo() {
        window_->session().setMode(device::kModeListening);
        window_->button("充电器测试")->click();
        dialog()->startButton()->click();
        QVERIFY(window_->qualification()->running());
        QCOMPARE(dialog()->startButton()->text(), QStringLiteral("停止测试"));
        dialog()->startButton()->click();
        QVERIFY(!window_->qualification()->running());
        QCOMPARE(dialog()->summaryLabel()->text(), QStringLiteral("测试被停止，没有做任何测试"));
        QCOMPARE(results()->rowCount(), 0);
        QTRY_VERIFY(!window_->session().connected());
        QTRY_COMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
        QTRY_COMPARE(window_->session().mode(), uint8_t(device::kModeListening));
    }

    // A charger that misses its output fails exactly the voltage tests.
    void aFaultyChargerFailsItsTests() {
        makeWindow("output-off");
        startRun();
        waitForTheEnd();
        QVERIFY(dialog()->summaryLabel()->text().startsWith(QStringLiteral("结论：未通过")));
        QVERIFY(rowsWithVerdict("FAIL") > 0);
        for (int row = 0; row < results()->rowCount(); ++row) {
            if (cell(row, 1) == QStringLiteral("FAIL"))
                QVERIFY2(cell(row, 0).endsWith(QStringLiteral(".voltage")) ||
                             cell(row, 0).endsWith(QStringLiteral(".readback")),
                         qPrintable(cell(row, 0)));
        }
    }

    // An unsaved capture is asked about first; 取消 keeps it and starts nothing.
    // A running capture must be stopped by the user first.
    void aCaptureInTheWayIsAskedAboutOrRefused() {
        window_->listenButton()->click();
        QTRY_COMPARE(window_->listenButton()->text(), QStringLiteral("停止监听"));
        window_->button("充电器测试")->click();
        dialog()->startButton()->click();
        QCOMPARE(messages_, QStringList{QStringLiteral("请先停止监听，再开始充电器测试。")});
        QVERIFY(!window_->qualification()->running());

        instrument_->injectTraffic(20);
        QTRY_VERIFY(store_->count() > 5);
        window_->listenButton()->click();
        QTRY_COMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
        const uint32_t kept = store_->count();
        saveAnswer_ = QMessageBox::Cancel;
        dialog()->startButton()->click();
        QCOMPARE(saveQuestions_, 1);
        QVERIFY(!window_->qualification()->running());
        QCOMPARE(store_->count(), kept);
        QCOMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
    }

    // A plan file narrows the tests; a bad one is refused with its line.
    void aPlanFileIsReadOrRefused() {
        planFile_ = QString::fromStdString(folder_->file("bad.ini"));
        std::ofstream(folder_->file("bad.ini")) << "[limits]\nack_ms = 99\n";
        dialog()->planButton()->click();
        QCOMPARE(messages_.size(), 1);
        QVERIFY2(messages_[0].startsWith(QStringLiteral("无法使用测试计划 bad.ini：第 2 行")),
                 qPrintable(messages_[0]));

        planFile_ = QString::fromStdString(folder_->file("only.ini"));
        std::ofstream(folder_->file("only.ini")) << "[tests]\nonly = handshake, sequence.\n";
        dialog()->planButton()->click();
        QCOMPARE(messages_.size(), 1);
        bool named = false;
        for (const QLabel* label : dialog()->findChildren<QLabel*>())
            named = named || label->text() == QStringLiteral("only.ini");
        QVERIFY(named);
        startRun();
        waitForTheEnd();
        QCOMPARE(results()->rowCount(), 4);
        QCOMPARE(rowsWithVerdict("PASS"), 4);
    }

    // The window closed while the run sends: nothing is left to call into it.
    void closingTheWindowMidRunEndsCleanly() {
        startRun();
        QTRY_VERIFY(dialog()->progress()->value() >= 4);
        saveAnswer_ = QMessageBox::No;
        window_.reset();
        // The loop turns on: nothing queued by the run reaches a window that is gone.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        device_.reset();
    }

    // `--row N` of a report: the record selected, or told when there is none.
    void aRowFromTheCommandLineIsSelectedOrTold() {
        window_->showRecordOnceListed(QStringLiteral("x7"));
        QCOMPARE(messages_.size(), 1);
        QVERIFY(messages_[0].contains(QStringLiteral("x7")));
        window_->showRecordOnceListed(QStringLiteral("5"));
        QCOMPARE(messages_.size(), 2);
        QVERIFY2(messages_[1].contains(QStringLiteral("没有序号 5")), qPrintable(messages_[1]));
    }
};

QTEST_MAIN(QualificationDialogTest)
#include "qualification_dialog_test.moc"
