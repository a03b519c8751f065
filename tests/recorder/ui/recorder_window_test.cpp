// The recorder window against the simulated meter, offscreen.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <memory>

#if UFCS_WITH_UPGRADES
#include "net/local_http_server.h"
#endif
#include "recorder/csv_export.h"
#include "recorder/journal.h"
#include "recorder/osa_file.h"
#include "recorder/ui/main_window.h"
#include "recorder/ui/panels.h"
#if UFCS_WITH_UPGRADES
#include "recorder/ui/update_dialog.h"
#endif
#include "recorder/ui/waveform_view.h"
#include "simulator/simulated_device.h"
#include "support/close_request.h"
#include "support/fallback_message.h"
#include "support/owner_thread_guard.h"
#if UFCS_WITH_UPGRADES
#include "support/signed_release.h"
#endif
#include "support/test_folder.h"

using recorder::ui::MainWindow;

class RecorderWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<testing_support::TestFolder> folder_;
    std::shared_ptr<simulator::Instrument> instrument_;
    std::unique_ptr<simulator::SimulatedDevice> device_;
    common::MemoryProfile profile_;
    common::SystemClock clock_;
    std::unique_ptr<MainWindow> window_;
    QStringList messages_;
    QMessageBox::StandardButton answer_ = QMessageBox::No;
    int questions_ = 0;
    QString chosenFile_;

    QAction* act(const char* name) const { return window_->action(QString::fromUtf8(name)); }
    uint32_t samples() const { return window_->document().channel(0).count(); }
    QString file(const char* name) const { return QString::fromStdString(folder_->file(name)); }
    recorder::ui::MainWindow::Askers& askers() { return window_->askers(); }
    // The data rows of an exported CSV file.
    qsizetype csvRows(const char* name) const {
        QFile csv(file(name));
        if (!csv.open(QIODevice::ReadOnly)) return -1;
        return csv.readAll().count("\r\n") - 1;
    }
    void startTest() {
        act("开始新测试")->trigger();
        QTRY_VERIFY(window_->testRun().active());
    }
    void waitForSamples(uint32_t count) { QTRY_VERIFY_WITH_TIMEOUT(samples() >= count, 10000); }
    std::filesystem::path journals() const { return folder_->path() / "journals"; }
    std::vector<std::filesystem::path> journalFiles() const {
        std::vector<std::filesystem::path> files;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(journals(), ignored))
            files.push_back(entry.path());
        return files;
    }

  private slots:
    void init() {
        folder_ = std::make_unique<testing_support::TestFolder>("recorder_window_test");
        instrument_ = std::make_shared<simulator::Instrument>();
        device_ = std::make_unique<simulator::SimulatedDevice>(instrument_, folder_->file("lock"));
        profile_ = common::MemoryProfile();
        messages_.clear();
        questions_ = 0;
        answer_ = QMessageBox::No;
        window_ = std::make_unique<MainWindow>(*device_, profile_, clock_, journals());
        auto& askers = window_->askers();
        askers.message = [this](const QString& text) { messages_ << text; };
        askers.question = [this](const QString&, QMessageBox::StandardButtons) {
            ++questions_;
            return answer_;
        };
        askers.chooseFile = [this](bool, const QString&, const QString&) { return chosenFile_; };
        askers.runDialog = [](QDialog&) { return true; };
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() {
        window_.reset();
        device_.reset();
        folder_.reset();
    }

    void aTestRecordsStopsSavesAndReopens() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Tarsel电压电流测量"));
        QVERIFY(!act("继续测试")->isEnabled());
        startTest();
        QVERIFY(!act("打开")->isEnabled());
        QVERIFY(!act("保存")->isEnabled());
        waitForSamples(12);
        act("停止测试")->trigger();
        QVERIFY(!window_->testRun().active());
        QVERIFY(act("继续测试")->isEnabled());
        // The stopped test's totals stay in the panel: the samples it took, and what it missed.
        const auto stopped = window_->view()->totals();
        QVERIFY(stopped.has_value());
        QCOMPARE(stopped->seconds, samples() * 0.1);
        QVERIFY(stopped->milliampHours > 0 && stopped->milliwattHours > 0);
        QVERIFY(stopped->missedSamples.has_value());
        QVERIFY(window_->saveTo(file("t.osa")));
        QCOMPARE(window_->windowTitle(), QStringLiteral("t - Tarsel电压电流测量"));
        const uint32_t saved = samples();

        // Continue appends; opening while testing is refused.
        answer_ = QMessageBox::Yes;
        act("继续测试")->trigger();
        QTRY_VERIFY(window_->testRun().active());
        QVERIFY(!window_->openFile(file("t.osa")));
        QCOMPARE(messages_.last(), QStringLiteral("正在测试中，请测试完毕后再打开。"));
        waitForSamples(saved + 3);
        act("停止测试")->trigger();

        answer_ = QMessageBox::No;               // drop the continued samples
        window_->view()->state().voltIndex = 0;  // zoomed far in before the open
        window_->view()->state().panorama = false;
        QVERIFY(window_->openFile(file("t.osa")));
        QCOMPARE(samples(), saved);
        // An opened test shows its totals; what it missed is not in the file.
        const auto opened = window_->view()->totals();
        QVERIFY(opened.has_value());
        QCOMPARE(opened->seconds, saved * 0.1);
        QCOMPARE(opened->milliampHours,
                 recorder::documentTotals(window_->document()).milliampHours);
        QVERIFY(!opened->missedSamples.has_value());
        // An opened test is shown fitted: its lowest and highest volts on the axis.
        const recorder::WaveformState& fitted = window_->view()->state();
        const plot::SeriesExtremes volts = window_->document().channel(0).extremes();
        QVERIFY(fitted.voltIndex > 0);
        QVERIFY(fitted.valueAtHeight(0, recorder::Axis::Voltage) * 1000 <= volts.minimum);
        QVERIFY(!window_->document().modified);
        QVERIFY(window_->exportCsvTo(file("t.csv"), recorder::CsvOptions{}));
        QFile csv(file("t.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray text = csv.readAll();
        QVERIFY(text.startsWith(QByteArray::fromStdString(recorder::csvHeader({}))));
        QCOMPARE(static_cast<uint64_t>(text.count("\r\n")), recorder::csvRowCount(saved, 1) + 1);
    }

    // The updater asks the window to close during a test with unsaved samples.
    void aCloseRequestAsksAndSurvivesItsClientLeaving_data() {
        testing_support::addCloseRequestRows();
    }
    void aCloseRequestAsksAndSurvivesItsClientLeaving() {
        QFETCH(int, answer);
        QFETCH(bool, clientStays);
        startTest();
        waitForSamples(5);
        const QString lockFolder = QString::fromStdString(folder_->path().string());
        qt_adapters::InstanceChannel channel(QStringLiteral("oscillograph"), lockFolder);
        channel.serve(window_.get(), [this] { return window_->document().modified.load(); });
        testing_support::CloseRequestClient client;
        QVERIFY(client.connectTo(QStringLiteral("oscillograph"), lockFolder));
        chosenFile_ = file("asked.osa");
        bool settled = false;  // the client heard the question, or its socket is gone
        window_->askers().question = [&](const QString&, QMessageBox::StandardButtons) {
            ++questions_;
            settled = testing_support::updaterDuringQuestion(client, channel, clientStays);
            return QMessageBox::StandardButton(answer);
        };
        client.requestClose();
        QTRY_COMPARE(questions_, 1);
        QVERIFY(settled);
        const bool closes = answer != QMessageBox::Cancel;
        QTRY_COMPARE(window_->isVisible(), !closes);
        if (clientStays) QVERIFY(client.heard(closes ? "ok" : "kept"));
        QCOMPARE(QFileInfo::exists(chosenFile_), answer == QMessageBox::Yes);
        if (answer == QMessageBox::Yes) {
            const recorder::OsaLoad saved = recorder::loadOsa(folder_->path() / "asked.osa");
            QVERIFY(saved.document);
            QCOMPARE(saved.document->channel(0).count(), samples());
        }
        if (answer == QMessageBox::Cancel) {
            // Kept, and the test goes on.
            QTRY_VERIFY(window_->testRun().active());
            const uint32_t before = samples();
            waitForSamples(before + 2);
        }
    }

    // Open a.osa, 开始新测试: the new test is an untitled document; 继续测试 appends to a.osa.
    // Every menu command of this build is there under its own caption.
    void everyCommandHasItsCaption() {
        for (std::size_t i = 0; i < recorder::ui::kCommandCount; ++i) {
            const auto command = recorder::ui::Command(i);
            const QString caption = recorder::ui::commandCaption(command);
            QAction* act = window_->action(command);
            QCOMPARE(act != nullptr,
                     command != recorder::ui::Command::VersionUpdate || UFCS_WITH_UPGRADES);
            if (!act) continue;
            QCOMPARE(act->text(), caption);
            QCOMPARE(window_->action(caption), act);  // no two commands share a caption
        }
    }

    void aNewTestNeverOverwritesTheFileThatWasOpen() {
        startTest();
        waitForSamples(6);
        act("停止测试")->trigger();
        QVERIFY(window_->saveTo(file("a.osa")));
        const QByteArray original = [&] {
            QFile f(file("a.osa"));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        QVERIFY(window_->openFile(file("a.osa")));

        QStringList suggested;  // what each file dialog offered
        window_->askers().chooseFile = [&](bool, const QString&, const QString& name) {
            suggested << name;
            return QString();  // cancelled
        };
        startTest();
        QCOMPARE(window_->windowTitle(), QStringLiteral("Tarsel电压电流测量"));
        waitForSamples(3);
        act("停止测试")->trigger();
        act("保存")->trigger();
        QCOMPARE(suggested, QStringList{QStringLiteral("无标题")});
        window_->askers().runDialog = [](QDialog&) { return true; };
        act("另存为CSV格式")->trigger();
        QCOMPARE(suggested.last(), QString());  // not "a"
        answer_ = QMessageBox::Yes;  // 是否存盘? 是: asks for a name, and stays when cancelled
        QVERIFY(!window_->close());
        QCOMPARE(suggested.size(), 3);
        QFile kept(file("a.osa"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), original);

        // 继续测试 goes on in the open file.
        answer_ = QMessageBox::No;
        QVERIFY(window_->openFile(file("a.osa")));
        answer_ = QMessageBox::Yes;
        act("继续测试")->trigger();
        const uint32_t before = samples();
        waitForSamples(before + 2);
        act("停止测试")->trigger();
        act("保存")->trigger();
        QCOMPARE(suggested.size(), 3);  // no dialog
        const recorder::OsaLoad appended = recorder::loadOsa(folder_->path() / "a.osa");
        QVERIFY(appended.document);
        QCOMPARE(appended.document->channel(0).count(), samples());
    }

    // A save the target refuses (a full disk): the message names the copy in
    // the user's data folder, and the window keeps the test to save elsewhere.
    void aFailedSaveKeepsTheTestAndACopy() {
        if (!std::filesystem::exists("/dev/full")) QSKIP("no /dev/full here");
        testing_support::IsolatedDataFolder data;
        startTest();
        waitForSamples(6);
        act("停止测试")->trigger();
        std::filesystem::create_symlink("/dev/full", folder_->path() / "full.osa");
        QVERIFY(!window_->saveTo(file("full.osa")));
        QVERIFY(window_->document().modified);
        QVERIFY(!messages_.isEmpty());
        const auto copy = testing_support::savedElsewhere(messages_.last().toStdString());
        QVERIFY2(copy, qPrintable(messages_.join('|')));
        QCOMPARE(copy->parent_path(), data.fallbackFolder());
        const recorder::OsaLoad saved = recorder::loadOsa(*copy);
        QVERIFY(saved.document);
        QCOMPARE(saved.document->channel(0).count(), samples());
        QCOMPARE(window_->windowTitle(), QStringLiteral("Tarsel电压电流测量"));  // still untitled
        QVERIFY(window_->saveTo(file("elsewhere.osa")));
        QVERIFY(!window_->document().modified);
    }

    // The zoom panel shows the stored scales from the start; the two "first"
    // commands are one choice, checked as the curves are drawn.
    void thePanelAndTheMenusShowWhatIsDrawn() {
        common::MemoryProfile stored;
        stored.writeInt("Settings", "ComboBox1Sel", 5);  // 0.05 V
        stored.writeInt("Settings", "ComboBox3Sel", 9);  // 1 A
        stored.writeInt("Select", "TX", 11);             // 1 s
        MainWindow started(*device_, stored, clock_, journals());
        QCOMPARE(started.view()->scaleTexts(),
                 (QStringList{"电压缩放：0.05V/DIV", "电流缩放：1A/DIV", "时间缩放：1S/DIV"}));

        QAction* voltFirst = act("电压优先显示");
        QAction* currentFirst = act("电流优先显示");
        QVERIFY(voltFirst->isChecked() && !currentFirst->isChecked());
        for (QAction* chosen : {currentFirst, currentFirst, voltFirst, currentFirst}) {
            chosen->trigger();
            QVERIFY(chosen->isChecked());
            QCOMPARE(voltFirst->isChecked(), !currentFirst->isChecked());
            QCOMPARE(window_->view()->voltageOnTop(), voltFirst->isChecked());
        }
    }

    // 区域另存为: the samples between the time zone lines go to a file of their own; the
    // window keeps its test as it was. Without the lines shown, the user is told how.
    void theZoneIsSavedAsATestOfItsOwn() {
        startTest();
        waitForSamples(60);
        QVERIFY(!act("区域另存为")->isEnabled());
        act("停止测试")->trigger();
        QVERIFY(act("区域另存为")->isEnabled());
        chosenFile_ = file("zone");
        act("区域另存为")->trigger();
        QVERIFY(messages_.last().startsWith(QStringLiteral("请先显示时间区线")));
        QVERIFY(!QFileInfo::exists(file("zone.osa")));

        const uint32_t count = samples();
        const bool modified = window_->document().modified;
        act("显示/隐藏时间区线")->trigger();
        window_->view()->setTimeLines(50, 10);
        act("区域另存为")->trigger();
        const recorder::OsaLoad load = recorder::loadOsa(folder_->path() / "zone.osa");
        QVERIFY2(load.document, load.message.c_str());
        QCOMPARE(load.document->channel(0).count(), 41u);
        QCOMPARE(load.document->channel(0).at(0), window_->document().channel(0).at(10));
        QCOMPARE(load.document->channel(2).at(40), window_->document().channel(2).at(50));
        QCOMPARE(samples(), count);
        QCOMPARE(window_->document().modified.load(), modified);

        window_->view()->setTimeLines(count + 10, count + 20);
        QVERIFY(!window_->saveZoneTo(file("beyond.osa")));
        QCOMPARE(messages_.last(), QStringLiteral("两条时间区线之间没有采样。"));
        window_->document().modified = false;
    }

    // 保存图片 writes the waveform as shown, with its zone lines and panel, as PNG or
    // SVG; 复制图片 puts it on the clipboard; another kind of file is refused.
    void theWaveformIsSavedAndCopiedAsAPicture() {
        startTest();
        waitForSamples(30);
        act("停止测试")->trigger();
        act("显示/隐藏时间区线")->trigger();
        window_->view()->setTimeLines(5, 25);
        chosenFile_ = file("wave");
        act("保存图片")->trigger();
        const QImage png(file("wave.png"));
        QCOMPARE(png.size(), window_->view()->size());
        QVERIFY(window_->savePictureTo(file("wave.svg")));
        QFile svg(file("wave.svg"));
        QVERIFY(svg.open(QIODevice::ReadOnly));
        const QByteArray text = svg.readAll();
        QVERIFY(text.contains("<svg"));
        QVERIFY(text.contains("Wh"));  // the zone's measurement, as the panel shows it
        QVERIFY(messages_.isEmpty());
        QVERIFY(!window_->savePictureTo(file("wave.jpg")));
        QVERIFY(messages_.last().contains(QStringLiteral("只能存为 .png 或 .svg")));

        QGuiApplication::clipboard()->clear();
        act("复制图片")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->image().size(), window_->view()->size());
        window_->document().modified = false;
    }

    // 对比: a second test drawn dimmed on the same axes, moved by Ctrl+drag, its zone
    // measured beside this one's with the difference; 取消对比 takes it away; a file
    // that cannot be read is told and changes nothing.
    void aSecondTestIsComparedOnTheSameAxes() {
        // This test steps from 5 V 1 A to 9 V 2 A halfway; the other stays between.
        const auto save = [this](const char* name, bool steps) {
            recorder::SampleDocument document;
            for (int i = 0; i < 100; ++i) {
                const bool high = i >= 50;
                document.appendSample(steps ? (high ? 9000 : 5000) : 7000,
                                      steps ? (high ? 2000 : 1000) : 1500, {true, false, true});
            }
            QVERIFY(recorder::saveOsa(document, folder_->file(name)).ok);
        };
        save("this.osa", true);
        save("other.osa", false);
        QVERIFY(window_->openFile(file("this.osa")));
        QVERIFY(!act("取消对比")->isEnabled());
        chosenFile_ = file("other.osa");
        act("对比")->trigger();
        QVERIFY(window_->reference());
        QVERIFY(act("取消对比")->isEnabled());
        recorder::ui::WaveformView& view = *window_->view();
        QVERIFY(view.referenceText().contains(QStringLiteral("Ctrl+拖动")));
        QImage image(view.size(), QImage::Format_RGB32);
        view.render(&image);
        int dimmed = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                dimmed += (image.pixel(x, y) & 0xFFFFFF) == (qRgb(150, 60, 60) & 0xFFFFFF);
        QVERIFY(dimmed > 20);

        act("显示/隐藏时间区线")->trigger();
        view.setTimeLines(10, 49);
        QVERIFY2(view.referenceText().contains(QStringLiteral("平均电压 7 V  差 -2")),
                 qPrintable(view.referenceText()));
        QVERIFY(view.referenceText().contains(QStringLiteral("平均电流 1.5 A  差 -0.5")));

        // Ctrl+drag to the right by 60 px moves the reference one division later.
        const int y = view.originY() - 100;
        const double perPixel = 1 / view.state().pixelsPerSample();
        QTest::mousePress(&view, Qt::LeftButton, Qt::ControlModifier, QPoint(300, y));
        QMouseEvent move(QEvent::MouseMove, QPointF(360, y), view.mapToGlobal(QPointF(360, y)),
                         Qt::NoButton, Qt::LeftButton, Qt::ControlModifier);
        QCoreApplication::sendEvent(&view, &move);
        QTest::mouseRelease(&view, Qt::LeftButton, Qt::ControlModifier, QPoint(360, y));
        QCOMPARE(view.referenceOffset(), 60 * perPixel);
        // The reference now starts inside the zone: fewer of its samples are measured.
        view.setReferenceOffset(95);
        QVERIFY2(view.referenceText().contains(QStringLiteral("区线之间没有采样")),
                 qPrintable(view.referenceText()));

        act("取消对比")->trigger();
        QVERIFY(!window_->reference());
        QVERIFY(view.referenceText().isEmpty());
        chosenFile_ = file("none.osa");
        act("对比")->trigger();
        QVERIFY(!window_->reference());
        QVERIFY(!messages_.isEmpty());
    }

    // The time scale the user picks stays as the test grows: it ends the panorama, which
    // would fit it away when the simulated charger steps up, and tracking on and off keeps it.
    void theChosenTimeScaleStays() {
        recorder::WaveformState& state = window_->view()->state();
        state.panorama = true;
        state.voltTracking = state.currentTracking = false;
        startTest();
        waitForSamples(5);
        const int fitted = state.timeIndex;
        act("时间缩小显示")->trigger();
        QCOMPARE(state.timeIndex, fitted - 1);
        QVERIFY(!act("全景图")->isChecked());
        waitForSamples(40);  // past the charger's steps to 9 V and 10 V
        act("电流追踪")->trigger();
        QVERIFY(state.currentTracking);
        waitForSamples(samples() + 5);
        act("电流追踪")->trigger();
        QVERIFY(!state.currentTracking);
        waitForSamples(samples() + 5);
        QCOMPARE(state.timeIndex, fitted - 1);
        act("停止测试")->trigger();
        window_->document().modified = false;
    }

    // The timed stop is set during a test, and applies at once: a wrong field
    // is told and changes nothing; a time already past stops the test.
    void theTimedStopIsSetDuringATest() {
        recorder::ui::TimedStopPanel* panel = window_->timedStopPanel();
        panel->checkBox()->setChecked(false);
        startTest();
        QVERIFY(panel->checkBox()->isEnabled());
        panel->hoursField()->setText(QStringLiteral("24"));
        panel->minutesField()->setText(QStringLiteral("0"));
        panel->checkBox()->setChecked(true);
        QCOMPARE(messages_.last(), QStringLiteral("“请填入一个在0和23之间的整数。”"));
        QVERIFY(window_->testRun().active());
        panel->hoursField()->setText(QStringLiteral("0"));
        emit panel->hoursField()->editingFinished();
        QTRY_VERIFY(!window_->testRun().active());
        QVERIFY(window_->view()->totals().has_value());  // a timed stop keeps them too
        panel->checkBox()->setChecked(false);
        window_->document().modified = false;
    }

    void timedStopOfNoTimeAndFaults() {
        window_->timedStopPanel()->checkBox()->setChecked(true);
        window_->timedStopPanel()->hoursField()->setText(QStringLiteral("24"));
        act("开始新测试")->trigger();
        QVERIFY(!window_->testRun().active());
        QCOMPARE(messages_.last(), QStringLiteral("“请填入一个在0和23之间的整数。”"));
        window_->timedStopPanel()->hoursField()->setText(QStringLiteral("0"));
        window_->timedStopPanel()->minutesField()->setText(QStringLiteral("0"));
        act("开始新测试")->trigger();
        // It starts once the instrument answers, and stops at once.
        QTRY_VERIFY(!window_->testRun().starting() && !window_->testRun().active());
        QVERIFY(window_->testRun().totals().startedAt != 0);
        window_->timedStopPanel()->checkBox()->setChecked(false);

        answer_ = QMessageBox::No;
        startTest();
        waitForSamples(3);
        instrument_->unplug();
        QTRY_VERIFY(!window_->testRun().active());
        QCOMPARE(messages_.last(), QStringLiteral("设备非正常中断!"));
    }

    void zoomAtAPointAndTheReadout() {
        instrument_->setCalibrationValue(1000);
        startTest();
        waitForSamples(40);
        act("停止测试")->trigger();
        recorder::ui::WaveformView* view = window_->view();
        auto& state = view->state();
        state.timeIndex = 11;  // 6S/DIV: 1 pixel a sample
        state.timeScroll = 0;
        view->update();
        // The newest shown sample is under its pixel; one beyond the last has nothing.
        const auto& volts = window_->document().channel(0);
        const uint32_t last = window_->document().displayedCount() - 1;
        const int x = static_cast<int>(std::lround(state.xOfSample(last)));
        const int y =
            view->originY() -
            static_cast<int>(std::lround(state.heightOf(volts.at(last), recorder::Axis::Voltage)));
        QVERIFY(view->readoutAt(QPoint(x, y)).startsWith(QStringLiteral("U=")));
        const int beyond = static_cast<int>(std::lround(state.xOfSample(volts.count() + 2)));
        QVERIFY(view->readoutAt(QPoint(beyond, y)).isEmpty());

        act("缩放时间")->trigger();
        const int clickX = static_cast<int>(state.xOfSample(20));
        const double sample = state.sampleAtX(clickX);
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(clickX, 300));
        QCOMPARE(state.timeIndex, 12);  // 3S/DIV
        QVERIFY(std::abs(state.xOfSample(sample) - clickX) <= 1.0);
        QCOMPARE(profile_.readInt("Select", "TX", -1), 10);  // 3S/DIV among the classic scales

        // The scroll bar under the view moves through time, and the arrow keys move it.
        auto* bar = window_->findChild<QScrollBar*>();
        QVERIFY(bar);
        bar->setValue(bar->minimum() + 5);
        QCOMPARE(state.timeScroll, bar->value() / 10.0);
        view->setFocus();
        const int before = bar->value();
        QTest::keyClick(view, Qt::Key_Right);
        QVERIFY(bar->value() > before || bar->value() == bar->maximum());
    }

    void aJournalLeftBehindIsOfferedBackAndGoesWithTheSave() {
        startTest();
        waitForSamples(8);
        QTRY_COMPARE(journalFiles().size(), std::size_t{1});
        const std::filesystem::path journal = journalFiles()[0];
        QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::file_size(journal) > 60, 5000);
        // A crash: the window goes without stopping or saving; the journal stays.
        window_->testRun().stop();
        auto* orphan = window_.release();
        orphan->document().modified = false;  // what a killed process never got to settle
        orphan->hide();
        delete orphan;
        QVERIFY(std::filesystem::exists(journal));
        window_.reset(new MainWindow(*device_, profile_, clock_, journals()));
        window_->askers().message = [this](const QString& text) { messages_ << text; };
        window_->askers().question = [this](const QString&, QMessageBox::StandardButtons) {
            ++questions_;
            return answer_;
        };
        window_->askers().chooseFile = [this](bool, const QString&, const QString&) {
            return chosenFile_;
        };
        answer_ = QMessageBox::Yes;
        window_->offerRecovery();
        QCOMPARE(questions_, 1);
        QVERIFY(samples() >= 8);
        QVERIFY(window_->document().modified);
        // Held while unsaved: a second recorder does not offer it.
        QVERIFY(recorder::leftoverJournals(journals()).empty());

        // A test continued on it writes a journal of its own, which takes its place.
        act("继续测试")->trigger();
        QTRY_VERIFY(window_->testRun().active());
        waitForSamples(samples() + 3);
        QTRY_COMPARE(journalFiles().size(), std::size_t{1});
        QVERIFY(journalFiles()[0] != journal);
        act("停止测试")->trigger();
        QVERIFY(window_->saveTo(file("back.osa")));
        QVERIFY(journalFiles().empty());
    }

    // A second recorder started during a test neither offers the running
    // test for recovery nor deletes its journal.
    void aSecondRecorderLeavesARunningTestAlone() {
        startTest();
        waitForSamples(5);
        QTRY_COMPARE(journalFiles().size(), std::size_t{1});
        const std::filesystem::path journal = journalFiles()[0];
        MainWindow second(*device_, profile_, clock_, journals());
        int asked = 0;
        second.askers().question = [&](const QString&, QMessageBox::StandardButtons) {
            ++asked;
            return QMessageBox::No;
        };
        second.offerRecovery();
        QCOMPARE(asked, 0);
        QVERIFY(std::filesystem::exists(journal));
        const auto grown = std::filesystem::file_size(journal);
        waitForSamples(samples() + 12);
        QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::file_size(journal) > grown, 5000);
        act("停止测试")->trigger();
    }

    // 另存为CSV格式 of every sample between the zone lines; without the lines
    // that choice is greyed.
    void csvOfEverySampleBetweenTheZoneLines() {
        startTest();
        waitForSamples(25);
        act("停止测试")->trigger();
        bool zoneOffered = true;
        askers().runDialog = [&](QDialog& dialog) {
            auto* csv = qobject_cast<recorder::ui::CsvOptionsDialog*>(&dialog);
            if (!csv) return false;
            zoneOffered = csv->zoneOnlyBox()->isEnabled();
            csv->everySampleBox()->setChecked(true);
            if (csv->periodField()->isEnabled()) return false;  // no period for every sample
            csv->zoneOnlyBox()->setChecked(zoneOffered);
            return true;
        };
        chosenFile_ = file("whole.csv");
        act("另存为CSV格式")->trigger();
        QVERIFY(!zoneOffered);
        QCOMPARE(csvRows("whole.csv"), static_cast<qsizetype>(samples()));

        window_->view()->setTimeLines(20, 10);  // either order
        chosenFile_ = file("zone.csv");
        act("另存为CSV格式")->trigger();
        QVERIFY(zoneOffered);
        QCOMPARE(csvRows("zone.csv"), qsizetype{11});  // 1.0 s to 2.0 s, both lines' samples
        QFile zone(file("zone.csv"));
        QVERIFY(zone.open(QIODevice::ReadOnly));
        QVERIFY(zone.readAll().contains("\r\n0:00:01.0,"));
        window_->document().modified = false;
    }

    // 开始新测试, samples, 停止测试, and again: the window's thread never
    // talks to the instrument and never pauses for it.
    void theWindowThreadNeverWaitsForTheInstrument() {
        window_.reset();
        testing_support::OwnerThreadGuard guard;
        testing_support::GuardedDevice guarded(*device_, guard);
        testing_support::GuardedClock clock(guard);
        const testing_support::ResetsFirst<MainWindow> closesFirst{window_};
        window_ = std::make_unique<MainWindow>(guarded, profile_, clock, journals());
        window_->askers().message = [this](const QString& text) { messages_ << text; };
        window_->askers().question = [](const QString&, QMessageBox::StandardButtons) {
            return QMessageBox::No;  // the first test's samples are not kept
        };
        for (int round = 0; round < 2; ++round) {
            startTest();
            waitForSamples(3);
            act("停止测试")->trigger();
            QVERIFY(!window_->testRun().active());  // at once
        }
        QTRY_VERIFY(!device_->isOpen());
        window_->document().modified = false;
        window_.reset();
        QVERIFY2(messages_.isEmpty(), qPrintable(messages_.join('\n')));
        QVERIFY2(guard.violations() == 0, qPrintable(QStringLiteral("on the window's thread: ") +
                                                     QString::fromStdString(guard.last())));
    }

    // Two recorders, each simulating the same two instruments (as two
    // programs started with --simulate=2 do): the second takes the one the
    // first does not hold, both record, and each title names its instrument.
    void twoRecordersTakeTwoInstrumentsAndRecordSideBySide() {
        auto devices = [this] {
            std::vector<std::shared_ptr<simulator::Instrument>> instruments = {
                std::make_shared<simulator::Instrument>(),
                std::make_shared<simulator::Instrument>()};
            return std::make_unique<device::ChoosingDevice>(
                std::make_shared<simulator::SimulatedCatalog>(std::move(instruments),
                                                              folder_->path().string()));
        };
        const auto firstDevice = devices();
        const auto secondDevice = devices();
        MainWindow first(*firstDevice, profile_, clock_, journals() / "first");
        MainWindow second(*secondDevice, profile_, clock_, journals() / "second");
        for (MainWindow* window : {&first, &second}) {
            window->askers().message = [this](const QString& text) { messages_ << text; };
            window->action(QStringLiteral("开始新测试"))->trigger();
            QTRY_VERIFY(window->testRun().active());
        }
        QCOMPARE(first.windowTitle(), QStringLiteral("Tarsel电压电流测量 - SIM0001"));
        QCOMPARE(second.windowTitle(), QStringLiteral("Tarsel电压电流测量 - SIM0002"));
        // The second was told which busy one it passed over.
        QCOMPARE(messages_,
                 QStringList{QStringLiteral("仪器正被其它程序使用：SIM0001，改用 SIM0002")});
        messages_.clear();
        QTRY_VERIFY_WITH_TIMEOUT(
            first.document().channel(0).count() >= 5 && second.document().channel(0).count() >= 5,
            10000);
        // A third finds both held and says so by name.
        const auto thirdDevice = devices();
        MainWindow third(*thirdDevice, profile_, clock_, journals() / "third");
        third.askers().message = [this](const QString& text) { messages_ << text; };
        third.action(QStringLiteral("开始新测试"))->trigger();
        QTRY_COMPARE(messages_.size(), 1);
        QVERIFY2(messages_[0].contains(QStringLiteral("仪器正被其它程序使用：SIM0001、SIM0002")),
                 qPrintable(messages_[0]));
        QVERIFY(!third.testRun().active());
        for (MainWindow* window : {&first, &second}) {
            window->action(QStringLiteral("停止测试"))->trigger();
            window->document().modified = false;
        }
    }

#if UFCS_WITH_UPGRADES
    void versionUpdateDownloadsAndHandsOver() {
        net::LocalHttpServer server;
        QVERIFY(server.listen());
        const QByteArray program = QByteArray("#!/bin/sh\n").repeated(500);
        net::Route download;
        download.body = program;
        server.setRoute("/oscillograph", download);
        // Signed for the recorder's own name: the key is set, nobody is asked.
        const testing_support::Ed25519Signer signer;
        net::Route reply;
        reply.body =
            "{\"id\":0,\"apkname\":\"UFCS_ANALYSE_vol_cur_test\",\"apkvercode\":110,"
            "\"upgradeFlag\":1,\"apkUrl\":\"" +
            server.baseUrl().toUtf8() + "/oscillograph\"" +
            QByteArray::fromStdString(testing_support::signedReleaseFields(
                signer, "UFCS_ANALYSE_vol_cur_test", "110",
                {reinterpret_cast<const uint8_t*>(program.data()), std::size_t(program.size())})) +
            "}";
        server.setRoute("/vezu_android_apks/kvdapk", reply);
        profile_.writeString("Upgrade", "Server", server.baseUrl().toStdString());
        profile_.writeString("Upgrade", "PublicKey", signer.publicKey());
        const QString folder = QString::fromStdString(folder_->path().string());
        window_->setProgramDir(folder);
        QFile updater(folder + "/updater");
        QVERIFY(updater.open(QIODevice::WriteOnly));
        updater.close();
        updater.setPermissions(updater.permissions() | QFile::ExeOwner);
        QStringList started;
        const auto drive = [&](QDialog& shown) {
            auto& dialog = dynamic_cast<recorder::ui::UpdateDialog&>(shown);
            QTRY_VERIFY_WITH_TIMEOUT(dialog.updateButton()->isVisibleTo(&dialog), 10000);
            QCOMPARE(dialog.latest()->text(), QStringLiteral("最新版本：1.0a"));
            if (const QByteArray shots = qgetenv("UFCS_SCREENSHOT_DIR"); !shots.isEmpty())
                QVERIFY(dialog.grab().save(QString::fromUtf8(shots) + "/recorder_update.png"));
            dialog.programUpdate().setUpdaterStarter(
                [&](const QString& path, const QStringList& arguments, const QString& where) {
                    started << QFileInfo(path).fileName() << arguments << where;
                    return true;
                });
            dialog.updateButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(dialog.handedOver(), 10000);
        };
        window_->askers().runDialog = [&](QDialog& shown) {
            drive(shown);
            return true;
        };
        act("版本更新")->trigger();
        QVERIFY(
            server.requests().first().contains("apkname=UFCS_ANALYSE_vol_cur_test&vercode=100"));
        QCOMPARE(started, (QStringList{"updater", "k512 Cur_Test", folder}));
        QFile downloaded(folder + "/k512_cur.exe");
        QVERIFY(downloaded.open(QIODevice::ReadOnly));
        QCOMPARE(downloaded.readAll(), program);
        QTRY_VERIFY(!window_->isVisible());
    }
#else
    // Built without upgrades: nothing offers one.
    void noVersionUpdateWithoutUpgrades() {
        QVERIFY(!act("版本更新"));
        QVERIFY(act("开始新测试"));
    }
#endif

    void screenshots() {
        const QByteArray folder = qgetenv("UFCS_SCREENSHOT_DIR");
        if (folder.isEmpty()) QSKIP("set UFCS_SCREENSHOT_DIR to save screenshots");
        startTest();
        waitForSamples(60);
        QVERIFY(window_->grab().save(QString::fromUtf8(folder) + "/recorder_running.png"));
        act("停止测试")->trigger();
        act("显示/隐藏时间区线")->trigger();
        window_->view()->setTimeLines(10, 50);
        QVERIFY(window_->grab().save(QString::fromUtf8(folder) + "/recorder_zone_lines.png"));
        // Zoomed in, with the read-out of the sample under the cursor.
        auto& state = window_->view()->state();
        state.panorama = false;
        state.timeIndex = 12;  // 3S/DIV
        state.timeScroll = 0;
        window_->view()->stateChanged();
        const auto& volts = window_->document().channel(0);
        const QPoint over(
            static_cast<int>(std::lround(state.xOfSample(40))),
            window_->view()->originY() - static_cast<int>(std::lround(state.heightOf(
                                             volts.at(40), recorder::Axis::Voltage))));
        QTest::mouseMove(window_->view(), over);
        QTRY_VERIFY(!window_->view()->readoutAt(over).isEmpty());
        QVERIFY(window_->grab().save(QString::fromUtf8(folder) + "/recorder_zoomed_readout.png"));
        window_->resize(1024, 700);
        QVERIFY(window_->grab().save(QString::fromUtf8(folder) + "/recorder_small.png"));
        recorder::ui::CsvOptionsDialog dialog(recorder::CsvOptions{}, false, window_.get());
        dialog.show();
        QVERIFY(dialog.grab().save(QString::fromUtf8(folder) + "/recorder_csv_dialog.png"));
    }
};

QTEST_MAIN(RecorderWindowTest)
#include "recorder_window_test.moc"
