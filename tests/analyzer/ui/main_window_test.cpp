// The analyzer window driven against the simulated instrument, offscreen.
#include <unistd.h>
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <map>
#include <memory>

#include "analyzer/capture_feed.h"
#include "analyzer/settings.h"
#include "analyzer/ui/main_window.h"
#include "analyzer/ui/message_list_model.h"
#include "analyzer/ui/output_modes_panel.h"
#include "analyzer/ui/packet_curve_view.h"
#include "analyzer/ui/send_dialog.h"
#include "logic/line_decoder.h"
#include "sharing/pcapng.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"
#include "simulator/simulated_device.h"
#include "support/close_request.h"
#include "support/fallback_message.h"
#include "support/owner_thread_guard.h"
#include "support/quick_clock.h"
#include "support/test_folder.h"
#include "ufcs/capture_file.h"

namespace {

using analyzer::ui::FilterPopup;
using analyzer::ui::MainWindow;
using testing_support::QuickClock;

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<ufcs::CaptureStore> store_ = ufcs::CaptureStore::create();
    std::shared_ptr<simulator::Instrument> instrument_;
    std::unique_ptr<simulator::SimulatedDevice> device_;
    common::MemoryProfile profile_;
    QuickClock clock_;
    std::unique_ptr<MainWindow> window_;
    QStringList messages_;
    int modeDialogRuns_ = 0;
    int saveQuestions_ = 0;
    QMessageBox::StandardButton saveAnswer_ = QMessageBox::No;
    QString savePath_;
    uint8_t chosenMode_ = 1;
    std::unique_ptr<testing_support::TestFolder> folder_;
    std::string lockPath_;

    QString cell(int row, int column) const {
        return window_->model()->index(row, column).data().toString();
    }
    QColor rowColour(int row) const {
        return window_->model()->index(row, 0).data(Qt::BackgroundRole).value<QBrush>().color();
    }
    int rows() const { return window_->model()->rowCount(); }
    int rowsWithMessage(const QString& message) const {
        int found = 0;
        for (int row = 0; row < rows(); ++row)
            found += cell(row, 3) == message;
        return found;
    }
    bool paneContains(const QString& text) const {
        return window_->pane()->toPlainText().contains(text);
    }

    void start() {
        window_->listenButton()->click();
        QTRY_COMPARE(window_->listenButton()->text(), QStringLiteral("停止监听"));
        // Listening is announced once the link thread has written the start frames.
        QTRY_VERIFY(!window_->button("模式选择")->isEnabled());
    }
    void capture(std::size_t events) {
        const int before = rows();
        instrument_->injectTraffic(events);
        QTRY_VERIFY_WITH_TIMEOUT(rows() >= before + 1 && instrument_->eventsCaptured() >= events &&
                                     store_->count() == window_->model()->listedRows() + 0u,
                                 5000);
    }
    void filterWith(FilterPopup::Group group, const QStringList& untick, bool tickAll = false) {
        window_->askers().runFilterPopup = [&](FilterPopup& popup) {
            if (tickAll) {
                for (QCheckBox* box : popup.findChildren<QCheckBox*>())
                    box->setChecked(true);
            }
            for (const QString& caption : untick) {
                QCheckBox* box = popup.box(caption);
                if (!box) qFatal("no box %s", qPrintable(caption));
                box->setChecked(false);
            }
            return true;
        };
        window_->openFilterPopup(group);
    }

  private slots:
    void init() {
        simulator::InstrumentSettings settings;
        settings.recordsPerSecond = 0;
        settings.faultRate = 0;
        settings.seed = 3;
        instrument_ = std::make_shared<simulator::Instrument>(settings);
        folder_ = std::make_unique<testing_support::TestFolder>("main_window_test");
        lockPath_ = folder_->file("instrument.lock");
        device_ = std::make_unique<simulator::SimulatedDevice>(instrument_, lockPath_);
        profile_ = common::MemoryProfile();
        messages_.clear();
        modeDialogRuns_ = 0;
        saveQuestions_ = 0;
        saveAnswer_ = QMessageBox::No;
        chosenMode_ = 1;
        window_ = std::make_unique<MainWindow>(*device_, *store_, profile_, clock_,
                                               QString::fromStdString(folder_->path().string()),
                                               analyzer::ui::Layout::Normal);
        // Checks every signal and answer of the list model while the tests drive it.
        new QAbstractItemModelTester(window_->model(),
                                     QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     window_.get());
        window_->askers().message = [this](const QString& text) { messages_ << text; };
        window_->askers().runModeDialog = [this](analyzer::ui::ModeDialog& dialog) {
            ++modeDialogRuns_;
            (chosenMode_ == 2 ? dialog.chargingDeviceButton() : dialog.listeningButton())->click();
            return true;
        };
        window_->askers().saveQuestion = [this] {
            ++saveQuestions_;
            return saveAnswer_;
        };
        savePath_ = QString::fromStdString(folder_->file("asked.ufcs_stream"));
        window_->askers().chooseSavePath = [this] { return savePath_; };
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanup() {
        window_.reset();
        device_.reset();
        folder_.reset();
    }

    // 开始监听, a send as the charging device, 停止监听 and a start again: the
    // window's thread never talks to the instrument and never pauses for it.
    void theWindowThreadNeverWaitsForTheInstrument() {
        window_.reset();
        testing_support::OwnerThreadGuard guard;
        testing_support::GuardedDevice guarded(*device_, guard);
        testing_support::GuardedClock clock(guard);
        const testing_support::ResetsFirst<MainWindow> closesFirst{window_};
        window_ = std::make_unique<MainWindow>(guarded, *store_, profile_, clock,
                                               QString::fromStdString(folder_->path().string()),
                                               analyzer::ui::Layout::Normal);
        window_->askers().message = [this](const QString& text) { messages_ << text; };
        window_->askers().runModeDialog = [this](analyzer::ui::ModeDialog& dialog) {
            (chosenMode_ == 2 ? dialog.chargingDeviceButton() : dialog.listeningButton())->click();
            return true;
        };
        window_->askers().saveQuestion = [] { return QMessageBox::No; };
        window_->show();
        chosenMode_ = 2;
        start();
        QTRY_VERIFY(window_->button("发送消息")->isEnabled());
        window_->button("发送消息")->click();
        window_->sendDialog()->selectEntry(analyzer::kSendPing);
        window_->sendDialog()->send();
        QTRY_VERIFY(window_->sendDialog()->findChild<QTextEdit*>()->toPlainText().contains(
            QStringLiteral("Ping")));
        window_->listenButton()->click();
        QCOMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));  // at once
        start();
        window_->listenButton()->click();
        QTRY_VERIFY(!device_->isOpen());  // the stop left the instrument closed, on the link
        window_.reset();
        QVERIFY2(guard.violations() == 0, qPrintable(QStringLiteral("on the window's thread: ") +
                                                     QString::fromStdString(guard.last())));
    }

    void firstClickAsksForTheModeThenListensAndStops() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("TarselUFCS解析程序"));
        QVERIFY(!window_->autoScrollBox()->isVisible());
        start();
        QCOMPARE(modeDialogRuns_, 1);
        QVERIFY(!window_->button("打开文件")->isEnabled());
        QVERIFY(!window_->button("模式选择")->isEnabled());
        QVERIFY(window_->autoScrollBox()->isVisible());
        QVERIFY(paneContains(QStringLiteral("模式：监听模式")));
        capture(30);
        QCOMPARE(cell(0, 4), QStringLiteral("说明：本次测试 监听模式 "));
        QCOMPARE(cell(1, 3), QStringLiteral("握手"));
        QCOMPARE(cell(1, 4), QStringLiteral("D+ 握手信号"));
        QCOMPARE(rowColour(1), QColor(50, 200, 50));
        QCOMPARE(rowColour(0), QColor(160, 160, 250));
        // The status timer brings the live values.
        QTRY_VERIFY_WITH_TIMEOUT(window_->voltageBox()->toPlainText() != QStringLiteral(" ------"),
                                 3000);

        window_->listenButton()->click();
        QCOMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
        QVERIFY(window_->button("打开文件")->isEnabled());
        QCOMPARE(window_->voltageBox()->toPlainText(), QStringLiteral(" ------"));
        start();
        QCOMPARE(modeDialogRuns_, 1);  // only the first click asks
    }

    // 版本升级 is offered while idle, hidden while listening, and absent from a
    // build without upgrades.
    void theUpgradeButtonFollowsTheBuildAndTheCapture() {
        QPushButton* upgrade = window_->button("版本升级");
#if UFCS_WITH_UPGRADES
        QVERIFY(upgrade);
        QVERIFY(!upgrade->isHidden());
        start();
        QVERIFY(upgrade->isHidden());
        window_->listenButton()->click();
        QTRY_VERIFY(!upgrade->isHidden());
#else
        QVERIFY(!upgrade);
        start();  // the capture runs as before without it
        window_->listenButton()->click();
        QTRY_COMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
#endif
    }

    void chargingDeviceModeShowsTheSendButtonInPlaceOfSave() {
        chosenMode_ = 2;
        start();
        QVERIFY(window_->button("发送消息")->isVisible());
        QVERIFY(!window_->button("保存文件")->isVisible());
        QVERIFY(paneContains(QStringLiteral("模式：充电设备")));
        QTRY_VERIFY(rowsWithMessage(QStringLiteral("Output_Capabilities")) == 1);
    }

    void selectingARowShowsItsDecode() {
        start();
        instrument_->injectFaults(1);
        capture(40);
        int row = 1;
        while (row < rows() && cell(row, 3) != QStringLiteral("Output_Capabilities"))
            ++row;
        QVERIFY(row < rows());
        window_->messageList()->selectRow(row);
        QVERIFY(paneContains(QStringLiteral("序号：") + cell(row, 0).trimmed()));
        QVERIFY(paneContains(QStringLiteral("输出模式1: ")));
        QTreeWidget* tree = window_->tree();
        QVERIFY(tree->topLevelItemCount() >= 5);
        QCOMPARE(tree->topLevelItem(2)->text(0), QStringLiteral("命令: 0x01  Output_Capabilities"));
        QVERIFY(tree->topLevelItem(1)->isExpanded());  // its last child was made visible

        // A faulty row shows its warning in red.
        int faulty = 1;
        while (faulty < rows() && rowColour(faulty) != QColor(223, 52, 45))
            ++faulty;
        QVERIFY(faulty < rows());
        window_->messageList()->selectRow(faulty);
        if (!cell(faulty, 3).contains(QStringLiteral("解码错误"))) {
            QVERIFY(window_->pane()->toHtml().contains(QStringLiteral("#ff0000")));
            QVERIFY(paneContains(QStringLiteral("注意：")));
        }
    }

    void autoScrollFollowsUntilTheSecondClick() {
        start();
        capture(20);
        QCOMPARE(window_->autoScroll().state(), analyzer::AutoScroll::State::On);
        QTest::keyClick(window_->messageList(), Qt::Key_End);
        // End armed it and selected the last row, whose decode lowered it to following.
        QCOMPARE(window_->autoScroll().state(), analyzer::AutoScroll::State::On);
        window_->messageList()->selectRow(3);
        QCOMPARE(window_->autoScroll().state(), analyzer::AutoScroll::State::Off);
        QVERIFY(!window_->autoScrollBox()->isChecked());
        window_->autoScrollBox()->click();
        QVERIFY(window_->autoScroll().following());
        QTest::keyClick(window_->messageList(), Qt::Key_Up);
        QVERIFY(!window_->autoScrollBox()->isChecked());
    }

    void eachFilterPopupHidesAndRestoresRows() {
        start();
        capture(200);
        window_->listenButton()->click();
        const int all = rows();
        struct Case {
            FilterPopup::Group group;
            QString untick;
            std::function<bool(int)> hidden;
        };
        const QList<Case> cases = {
            {FilterPopup::Group::Message, QStringLiteral("Ping"),
             [this](int r) { return cell(r, 3) == "Ping"; }},
            {FilterPopup::Group::Type, QStringLiteral("控制消息"),
             [this](int r) { return cell(r, 1) == "控制"; }},
            {FilterPopup::Group::Receiver, QStringLiteral("供电设备"),
             [this](int r) { return cell(r, 2) == "供电设备" && cell(r, 1) != ""; }},
            {FilterPopup::Group::Baud, QStringLiteral("115200"),
             [this](int r) { return cell(r, 7) == "115200"; }},
        };
        for (const Case& c : cases) {
            const QIcon before = window_->filterButton(c.group)->icon();
            filterWith(c.group, {c.untick});
            QTRY_VERIFY(rows() < all);
            for (int row = 0; row < rows(); ++row)
                QVERIFY2(!c.hidden(row), qPrintable(c.untick));
            QVERIFY(window_->filterButton(c.group)->icon().cacheKey() != before.cacheKey());
            filterWith(c.group, {}, true);
            QTRY_COMPARE(rows(), all);
        }
    }

    void refusalSettingsDropAckAndPing() {
        window_->askers().runRefusalDialog = [](analyzer::ui::RefusalDialog& dialog) {
            dialog.ackBox()->setChecked(true);
            dialog.pingBox()->setChecked(true);
            return true;
        };
        window_->button("拒收设置")->click();
        QCOMPARE(profile_.readInt("Select", "rRefuseAck", 0), 1);
        start();
        QVERIFY(paneContains(QStringLiteral("模式：监听模式 拒收ACK 拒收Ping")));
        capture(120);
        QVERIFY(rows() > 10);
        QCOMPARE(rowsWithMessage(QStringLiteral("ACK")), 0);
        QCOMPARE(rowsWithMessage(QStringLiteral("Ping")), 0);
        // Line events carry no message bytes and are never refused.
        QVERIFY(rowsWithMessage(QStringLiteral("握手")) > 0);
    }

    void savedCaptureReopensWithTheSameRows() {
        start();
        capture(60);
        window_->listenButton()->click();
        const QString path = QString::fromStdString(folder_->file("reopened.ufcs_stream"));
        QVERIFY(window_->saveCaptureTo(path));
        // The status line and the save message count the same records.
        const QString captured = QString::number(store_->count() - 1);
        QVERIFY(window_->statusLine()->text().contains(QStringLiteral("记录 ") + captured + " 条"));
        QVERIFY2(window_->statusLine()->text().contains(QStringLiteral("已保存 ") + captured +
                                                        QStringLiteral(" 条记录")),
                 qPrintable(window_->statusLine()->text()));
        const int saved = rows();
        const QString summary = cell(9, 4);
        store_->setCount(1);
        window_->model()->clear();
        QVERIFY(window_->openCaptureFrom(path));
        QTRY_COMPARE(rows(), saved);
        QCOMPARE(cell(9, 4), summary);

        QVERIFY(!window_->openCaptureFrom(
            QString::fromStdString(folder_->file("missing.ufcs_stream"))));
        QVERIFY(!messages_.isEmpty() &&
                messages_.last().contains(QStringLiteral("missing.ufcs_stream")));
        QCOMPARE(rows(), saved);
    }

    void escapeKeepsTheWindowAndClosingAsksAboutAnUnsavedCapture() {
        start();
        capture(20);
        QTest::keyClick(window_.get(), Qt::Key_Escape);
        QVERIFY(window_->isVisible());
        QVERIFY(window_->session().connected());

        saveAnswer_ = QMessageBox::Cancel;
        QVERIFY(!window_->close());
        QCOMPARE(saveQuestions_, 1);
        QVERIFY(window_->session().connected());

        // Yes stops the capture, saves it, then closes.
        saveAnswer_ = QMessageBox::Yes;
        QVERIFY(window_->close());
        QCOMPARE(saveQuestions_, 2);
        auto reopened = ufcs::CaptureStore::create();
        QVERIFY(ufcs::OpenCapture(*reopened, savePath_.toStdString()).ok);
        QCOMPARE(reopened->count(), store_->count());
    }

    // The updater asks the window to close while a capture runs unsaved: the
    // question is asked after the request has been taken, and its client may
    // leave at any moment without harming the window or the capture.
    void aCloseRequestAsksAndSurvivesItsClientLeaving_data() {
        testing_support::addCloseRequestRows();
    }
    void aCloseRequestAsksAndSurvivesItsClientLeaving() {
        QFETCH(int, answer);
        QFETCH(bool, clientStays);
        start();
        capture(30);
        const QString lockFolder = QString::fromStdString(folder_->path().string());
        qt_adapters::InstanceChannel channel(QStringLiteral("color"), lockFolder);
        channel.serve(window_.get(), [this] { return window_->captureUnsaved(); });
        testing_support::CloseRequestClient client;
        QVERIFY(client.connectTo(QStringLiteral("color"), lockFolder));
        bool settled = false;  // the client heard the question, or its socket is gone
        window_->askers().saveQuestion = [&] {
            ++saveQuestions_;
            settled = testing_support::updaterDuringQuestion(client, channel, clientStays);
            return QMessageBox::StandardButton(answer);
        };
        client.requestClose();
        QTRY_COMPARE(saveQuestions_, 1);
        QVERIFY(settled);
        const bool closes = answer != QMessageBox::Cancel;
        QTRY_COMPARE(window_->isVisible(), !closes);
        if (clientStays) QVERIFY(client.heard(closes ? "ok" : "kept"));
        QCOMPARE(std::filesystem::exists(savePath_.toStdString()), answer == QMessageBox::Yes);
        if (answer == QMessageBox::Yes) {
            auto reopened = ufcs::CaptureStore::create();
            QVERIFY(ufcs::OpenCapture(*reopened, savePath_.toStdString()).ok);
            QCOMPARE(reopened->count(), store_->count());
        }
        if (answer == QMessageBox::Cancel) {
            // Kept with its capture, which goes on.
            QVERIFY(window_->captureUnsaved());
            QVERIFY(window_->session().connected());
            capture(10);
        }
    }

    // A click leaves its button with the focus; Enter in the find box then
    // searches and presses nothing, listening or not.
    void enterInTheFindBoxPressesNoButton() {
        QVERIFY(window_->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly).size() > 10);
        for (QPushButton* button : window_->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly))
            QVERIFY2(!button->autoDefault() && !button->isDefault(), qPrintable(button->text()));
        QTest::mouseClick(window_->listenButton(), Qt::LeftButton);
        QTRY_VERIFY(!window_->button("模式选择")->isEnabled());  // listening
        capture(20);
        for (const bool listening : {true, false}) {
            window_->activateWindow();
            window_->findBox()->setFocus();
            window_->findBox()->setText(QStringLiteral("握手"));
            QTest::keyClick(window_->findBox(), Qt::Key_Return);
            QTest::keyClick(window_->findBox(), Qt::Key_Enter);
            QCOMPARE(window_->session().connected(), listening);
            QCOMPARE(saveQuestions_, 0);
            QVERIFY(cell(window_->messageList()->currentIndex().row(), 3)
                        .startsWith(QStringLiteral("握手")));
            if (listening) {
                QTest::mouseClick(window_->listenButton(), Qt::LeftButton);  // 停止监听
                QCOMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
            }
        }
        QVERIFY(window_->isVisible());
    }

    // A save the target refuses (a full disk): the message names the copy in
    // the user's data folder, and the window keeps the capture to save elsewhere.
    void aFailedSaveKeepsTheCaptureAndACopy() {
        if (!std::filesystem::exists("/dev/full")) QSKIP("no /dev/full here");
        testing_support::IsolatedDataFolder data;
        start();
        capture(20);
        window_->listenButton()->click();
        const std::string full = folder_->file("full.ufcs_stream");
        std::filesystem::create_symlink("/dev/full", full);
        QVERIFY(!window_->saveCaptureTo(QString::fromStdString(full)));
        QVERIFY(window_->captureUnsaved());
        QVERIFY(!messages_.isEmpty());
        const auto copy = testing_support::savedElsewhere(messages_.last().toStdString());
        QVERIFY2(copy, qPrintable(messages_.last()));
        QCOMPARE(copy->parent_path(), data.fallbackFolder());
        auto reopened = ufcs::CaptureStore::create();
        QVERIFY(ufcs::OpenCapture(*reopened, *copy).ok);
        QCOMPARE(reopened->count(), store_->count());
        QVERIFY(window_->saveCaptureTo(savePath_));  // elsewhere, it saves
        QVERIFY(!window_->captureUnsaved());
    }

    void newCaptureOrFileAsksOnlyWhileTheCaptureIsUnsaved() {
        start();
        capture(20);
        window_->listenButton()->click();  // stop
        start();                           // No: the old capture goes
        QCOMPARE(saveQuestions_, 1);
        capture(10);
        window_->listenButton()->click();
        QVERIFY(window_->saveCaptureTo(savePath_));
        start();  // saved: nothing to ask
        QCOMPARE(saveQuestions_, 1);
        capture(10);
        window_->listenButton()->click();

        // Cancel keeps the unsaved capture; an opened file is not asked about.
        saveAnswer_ = QMessageBox::Cancel;
        window_->listenButton()->click();
        QCOMPARE(saveQuestions_, 2);
        QCOMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
        QVERIFY(window_->captureUnsaved());
        QVERIFY(window_->openCaptureFrom(savePath_));
        QVERIFY(!window_->captureUnsaved());
        QVERIFY(window_->close());
        QCOMPARE(saveQuestions_, 2);
    }

    void unplugWhileListening() {
        start();
        capture(10);
        instrument_->unplug();
        QTRY_COMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
        QVERIFY(paneContains(QStringLiteral("设备已经断开!")));
        QVERIFY(window_->button("打开文件")->isEnabled());
        QVERIFY(window_->button("保存文件")->isEnabled());
    }

    void startWithoutAnInstrument() {
        instrument_->unplug();
        window_->listenButton()->click();
        QTRY_VERIFY(paneContains(QStringLiteral("设备连接失败! 10:20:30")));
        QVERIFY(paneContains(QStringLiteral("请确认设备已经连上并没有被其它程序占用！")));
        QCOMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
        QVERIFY(window_->button("打开文件")->isEnabled());
    }

    void requestsFromTheWindowAreAnsweredByTheCharger() {
        chosenMode_ = 2;
        start();
        QTRY_VERIFY(window_->button("档位信息")->isEnabled());  // the charger's modes arrived
        QTRY_VERIFY(window_->button("发送消息")->isEnabled());
        window_->button("发送消息")->click();
        QVERIFY(window_->sendDialog()->isVisible());
        QCOMPARE(window_->button("发送消息"), nullptr);  // the button reads "停止发送" now
        analyzer::ui::SendDialog* dialog = window_->sendDialog();
        dialog->selectEntry(analyzer::kSendRequest);
        qobject_cast<QLineEdit*>(dialog->field(analyzer::kSendRequest, "mode-number"))
            ->setText("2");
        qobject_cast<QLineEdit*>(dialog->field(analyzer::kSendRequest, "voltage"))->setText("9000");
        qobject_cast<QLineEdit*>(dialog->field(analyzer::kSendRequest, "current"))->setText("2000");
        dialog->send();
        QTRY_COMPARE(rowsWithMessage(QStringLiteral("Power_Ready")), 1);
        QCOMPARE(rowsWithMessage(QStringLiteral("Request")), 1);
        QTRY_VERIFY2(dialog->findChild<QTextEdit*>()->toPlainText().contains(
                         QStringLiteral("请求电压：9000mV")),
                     qPrintable(dialog->findChild<QTextEdit*>()->toPlainText()));
        // The live values follow the granted output.
        QTRY_VERIFY_WITH_TIMEOUT(window_->voltageBox()->toPlainText().trimmed().toDouble() > 8.5,
                                 3000);

        // The panel's number button asks for mode 3 at its maximum: 21 V.
        window_->button("档位信息")->click();
        QVERIFY(window_->modesPanel()->isVisible());
        window_->modesPanel()->numberButton(2)->click();
        QTRY_COMPARE(rowsWithMessage(QStringLiteral("Power_Ready")), 2);
        QTRY_VERIFY_WITH_TIMEOUT(window_->voltageBox()->toPlainText().trimmed().toDouble() > 20.5,
                                 3000);

        window_->listenButton()->click();
        QVERIFY(!window_->sendDialog()->isVisible());
        QVERIFY(!window_->modesPanel()->isVisible());
    }

    // Closed by the window manager (or Escape), the send window's button offers it again.
    void theSendButtonFollowsTheSendWindowHoweverItCloses() {
        chosenMode_ = 2;
        start();
        QTRY_VERIFY(window_->button("发送消息") && window_->button("发送消息")->isEnabled());
        for (const bool byEscape : {false, true}) {
            window_->button("发送消息")->click();
            QVERIFY(window_->sendDialog()->isVisible());
            QVERIFY(window_->button("停止发送"));
            if (byEscape)
                QTest::keyClick(window_->sendDialog(), Qt::Key_Escape);
            else
                window_->sendDialog()->close();
            QVERIFY(!window_->sendDialog()->isVisible());
            QVERIFY(window_->button("发送消息"));
            QCOMPARE(window_->button("停止发送"), nullptr);
        }
    }

    // 用户手册: a missing manual, or one no program could open, each told as it is.
    void theManualOrWhatKeepsItFromOpening() {
        QStringList opened;
        bool viewerThere = false;
        window_->askers().openUrl = [&](const QUrl& url) {
            opened << url.toLocalFile();
            return viewerThere;
        };
        window_->button("用户手册")->click();
        QCOMPARE(messages_.last(), QStringLiteral("无法打开 《ufcs分析仪使用说明.pdf》!\r\n"
                                                  "请确认当前文件夹下是否有此文件"));
        QVERIFY(opened.isEmpty());
        const QString manual = QString::fromStdString(folder_->file("ufcs分析仪使用说明.pdf"));
        QFile pdf(manual);
        QVERIFY(pdf.open(QIODevice::WriteOnly));
        pdf.close();
        window_->button("用户手册")->click();
        QCOMPARE(opened, QStringList{manual});
        QVERIFY(messages_.last().contains(QStringLiteral("没有可以打开 PDF 文件的程序")));
        QVERIFY2(messages_.last().endsWith(QDir::toNativeSeparators(manual)),
                 qPrintable(messages_.last()));
        const int told = messages_.size();
        viewerThere = true;
        window_->button("用户手册")->click();
        QCOMPARE(messages_.size(), told);
    }

    void listeningModeSendsNothing() {
        start();
        instrument_->clearReceivedFrames();
        window_->sendUfcs(analyzer::kSendPing, 1);
        window_->sendUfcs(analyzer::kSendFirstOutputMode, 1);
        QCOMPARE(instrument_->receivedFrames().size(), std::size_t{0});
    }

    void curveButtonShowsThePacketCurveWhichFollowsTheCapture() {
        QPushButton* curve = window_->button("步骤曲线");
        QVERIFY(curve->isEnabled());
        curve->click();
        analyzer::ui::PacketCurveView* view = window_->curveView();
        QVERIFY(view->isVisible());
        QVERIFY(curve->isChecked());
        QCOMPARE(view->windowTitle(), QStringLiteral("电压电流--数据包曲线"));
        start();
        capture(60);
        QTRY_COMPARE(view->state().largestCount(), store_->count());
        QTRY_COMPARE(view->state().position(),
                     view->state().range().maximum);  // following the newest
        window_->listenButton()->click();
        view->close();
        QVERIFY(!curve->isChecked());
        QCOMPARE(profile_.readInt("Curve", "YScale", 0), view->state().voltageScale());
    }

    // A capture file of a pair that slips: a late Power_Ready and missed ACKs.
    QString slippingCapture() {
        auto store = ufcs::CaptureStore::create();
        analyzer::CaptureFeed feed(*store, {});
        simulator::BusTraffic::Options options(4, 0.0);
        options.sequenceFaults.slowPowerReady = true;
        options.sequenceFaults.dropAck = true;
        simulator::BusTraffic traffic(options);
        for (int i = 0; i < 400; ++i)
            feed.feedReports(simulator::capturePages(traffic.next()));
        const QString path = QString::fromStdString(folder_->file("slips.ufcs_stream"));
        if (!ufcs::SaveCapture(*store, path.toStdString()).ok) qFatal("cannot save");
        return path;
    }
    uint32_t selectedRecord() const {
        return window_->model()->recordAt(window_->messageList()->currentIndex().row());
    }

    void faultyRowsFindAndSequenceNotes() {
        const QString path = slippingCapture();
        QVERIFY(window_->openCaptureFrom(path));
        QTRY_VERIFY(rows() > 300);
        QVERIFY(window_->windowTitle().endsWith(QStringLiteral(" - slips.ufcs_stream")));
        QTRY_VERIFY(
            window_->statusLine()->text().contains(QStringLiteral("文件 slips.ufcs_stream")));
        QVERIFY(!window_->statusLine()->text().contains(QStringLiteral("时序问题 0 处")));

        // F8 from nothing selected: the first row with a finding; its note shows in the pane.
        window_->messageList()->setFocus();
        QTest::keyClick(window_.get(), Qt::Key_F8);
        const uint32_t first = selectedRecord();
        QVERIFY(window_->sequenceReport().hasFinding(first));
        QCOMPARE(first, window_->sequenceReport().faultyRecords().front());
        QVERIFY(paneContains(QStringLiteral("没有 ACK")));
        QTest::keyClick(window_.get(), Qt::Key_F8, Qt::ShiftModifier);  // wraps to the last
        QCOMPARE(selectedRecord(), window_->sequenceReport().faultyRecords().back());

        // Find searches the row texts and the notes; F3 goes on to the next match.
        QVERIFY(
            window_->findText(QStringLiteral("Power_Ready 迟到"), ufcs::SearchDirection::Forward));
        QCOMPARE(cell(window_->messageList()->currentIndex().row(), 3),
                 QStringLiteral("Power_Ready"));
        // The note cites the limit it was judged by: tPowReady of the voltage asked for.
        QVERIFY(paneContains(QStringLiteral("tPowReady（≤")));
        QVERIFY(paneContains(QStringLiteral("，9.3 表 38）")));
        window_->findBox()->setFocus();
        window_->findBox()->clear();
        QTest::keyClicks(window_->findBox(), QStringLiteral("get_output"));
        QTest::keyClick(window_->findBox(), Qt::Key_Return);
        QCOMPARE(cell(window_->messageList()->currentIndex().row(), 3),
                 QStringLiteral("Get_Output_Capabilities"));
        QCOMPARE(window_->listenButton()->text(), QStringLiteral("开始监听"));
        const uint32_t found = selectedRecord();
        QTest::keyClick(window_.get(), Qt::Key_F3);
        QVERIFY(selectedRecord() != found);
        QVERIFY(!window_->findText(QStringLiteral("不存在的文字"), ufcs::SearchDirection::Forward));
        QVERIFY(window_->statusLine()->text().contains(QStringLiteral("找不到")));
        QVERIFY(window_->timingSummaryText().startsWith(
            QStringLiteral("共 %1 处时序问题").arg(window_->sequenceReport().findingCount())));
    }

    void listKeepsItsPlaceExportsAndShowsTheDelta() {
        QVERIFY(window_->openCaptureFrom(slippingCapture()));
        QTRY_VERIFY(rows() > 300);
        // The header row, which the decoder explains with nothing, shows its texts.
        window_->messageList()->selectRow(0);
        QVERIFY(paneContains(QStringLiteral("说明：本次测试")));
        int request = 1;
        while (cell(request, 3) != QStringLiteral("Request"))
            ++request;
        window_->messageList()->selectRow(request);
        const uint32_t record = selectedRecord();
        filterWith(FilterPopup::Group::Message, {QStringLiteral("ACK")});
        QTRY_COMPARE(rowsWithMessage(QStringLiteral("ACK")), 0);
        QCOMPARE(selectedRecord(), record);
        QVERIFY(paneContains(QStringLiteral("请求")));

        QTest::keyClick(window_->messageList(), Qt::Key_Home);
        QCOMPARE(window_->messageList()->currentIndex().row(), 0);
        QTest::keyClick(window_->messageList(), Qt::Key_End);
        QCOMPARE(window_->messageList()->currentIndex().row(), rows() - 1);

        const QString csv = QString::fromStdString(folder_->file("listed.csv"));
        QVERIFY(window_->exportRowsTo(csv, ufcs::RowExportFormat::CsvUtf8));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), rows() + 1);
        // Counted as the status line counts: without the capture's header row.
        QVERIFY(
            window_->statusLine()->text().contains(QStringLiteral("已导出 %1 行").arg(rows() - 1)));

        const int delta = analyzer::ui::MessageListModel::kDeltaColumn;
        QVERIFY(window_->messageList()->isColumnHidden(delta));
        QCOMPARE(window_->model()->headerData(delta, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("间隔"));
        QVERIFY(cell(2, delta).endsWith(QStringLiteral(" ms")));
    }

    // 导出 as pcapng writes the whole capture, whatever the filters list, with the
    // sequence check's findings; a place that cannot be written is told.
    void exportsTheWholeCaptureForWireshark() {
        QVERIFY(window_->openCaptureFrom(slippingCapture()));
        QTRY_VERIFY(rows() > 300);
        filterWith(FilterPopup::Group::Message, {QStringLiteral("ACK")});
        QTRY_COMPARE(rowsWithMessage(QStringLiteral("ACK")), 0);
        QString chosen = QString::fromStdString(folder_->file("bus"));
        window_->askers().chooseExport = [&] {
            MainWindow::ExportChoice choice;
            choice.path = chosen;
            choice.pcapng = true;
            return choice;
        };
        QPushButton* exportButton = nullptr;
        for (QPushButton* button : window_->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("导出")) exportButton = button;
        QVERIFY(exportButton);
        exportButton->click();

        QFile file(chosen + QStringLiteral(".pcapng"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        analyzer::CaptureDocument& document = window_->document();
        QVERIFY(document.report().findingCount() > 0);
        const std::vector<uint8_t> expected =
            sharing::pcapngBytes(document.store(), document.report());
        QCOMPARE(saved, QByteArray(reinterpret_cast<const char*>(expected.data()),
                                   static_cast<qsizetype>(expected.size())));
        QVERIFY2(window_->statusLine()->text().contains(
                     QStringLiteral("已导出 %1 条记录").arg(document.capturedRecords())),
                 qPrintable(window_->statusLine()->text()));

        chosen = QString::fromStdString(folder_->file("missing/bus.pcapng"));
        messages_.clear();
        exportButton->click();
        QCOMPARE(messages_.size(), 1);
        QVERIFY2(messages_.last().contains(QStringLiteral("无法写入")),
                 qPrintable(messages_.last()));
    }

    // The time column counts from the capture's first record when asked; the status line's
    // span is then the last row's time. The choice goes to the profile.
    void theTimeColumnCanCountFromTheCapture() {
        QVERIFY(window_->openCaptureFrom(slippingCapture()));
        QTRY_VERIFY(rows() > 300);
        const QString uptime = cell(1, 6);
        auto* view = qobject_cast<analyzer::ui::MessageListView*>(window_->messageList());
        QVERIFY(view);
        view->setTimeFromCaptureStart(true);
        QCOMPARE(cell(1, 6), QStringLiteral("0:00:00.000"));
        QVERIFY(cell(1, 6) != uptime);
        const QString last = cell(window_->model()->listedRows() - 1, 6);
        QVERIFY2(window_->statusLine()->text().contains(QStringLiteral("时长 ") + last),
                 qPrintable(window_->statusLine()->text() + " / " + last));
        emit view->timeOriginChanged(true);  // as the header menu's entry does
        QCOMPARE(analyzer::AnalyzerSettings(profile_).timeFromCaptureStart(), true);
        view->setTimeFromCaptureStart(false);
        QCOMPARE(cell(1, 6), uptime);
    }

    // The packet curve and the list work together: a click on the curve selects that
    // record's row, the selected row is marked on the curve, and a drag across the curve
    // offers to list only its records, a filter the status line names and the header menu
    // clears with the others.
    void theCurveAndTheListWorkTogether() {
        QVERIFY(window_->openCaptureFrom(slippingCapture()));
        QTRY_VERIFY(rows() > 300);
        window_->button("步骤曲线")->click();
        analyzer::ui::PacketCurveView* view = window_->curveView();
        QVERIFY(QTest::qWaitForWindowExposed(view));
        const analyzer::CurveGeometry geometry{view->width() < 1240};
        const auto columnOf = [&](uint32_t record) {
            const auto column = view->state().columnOfRecord(record, store_->count(), geometry);
            return column ? QPoint(geometry.originX() + *column, geometry.originY() - 100)
                          : QPoint(-1, -1);
        };
        const QPoint at = columnOf(7);
        QVERIFY(at.x() > 0);
        QTest::mouseClick(view, Qt::LeftButton, {}, at);
        QTRY_COMPARE(window_->model()->recordAt(window_->messageList()->currentIndex().row()), 7u);

        window_->messageList()->selectRow(12);
        const uint32_t selected = window_->model()->recordAt(12);
        QCOMPARE(view->markedRecord(), std::optional<uint32_t>(selected));
        QVERIFY(view->markedColumn().has_value());

        QStringList asked;
        window_->askers().confirm = [&](const QString& text) {
            asked << text;
            return true;
        };
        const QPoint from = columnOf(20), to = columnOf(40);
        QTest::mousePress(view, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(to), view->mapToGlobal(QPointF(to)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &move);
        if (const QByteArray folder = qgetenv("UFCS_SCREENSHOT_DIR"); !folder.isEmpty())
            QVERIFY(view->grab().save(QString::fromUtf8(folder) + "/packet_curve_drag.png"));
        QTest::mouseRelease(view, Qt::LeftButton, {}, to);
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(QStringLiteral("序号 20 到 40")), qPrintable(asked[0]));
        QTRY_COMPARE(rows(), 1 + 21);  // the header row and records 20-40
        QCOMPARE(window_->model()->recordAt(1), 20u);
        QCOMPARE(window_->model()->recordAt(21), 40u);
        QTRY_VERIFY2(window_->statusLine()->text().contains(QStringLiteral("过滤：序号 20-40")),
                     qPrintable(window_->statusLine()->text()));
        // A record outside the range is told, not selected.
        QTest::mouseClick(view, Qt::LeftButton, {}, columnOf(60));
        QTRY_VERIFY(window_->statusLine()->text().contains(QStringLiteral("序号 60 不在列表中")));

        auto* list = qobject_cast<analyzer::ui::MessageListView*>(window_->messageList());
        emit list->showEverythingRequested();  // the header menu's entry
        QTRY_VERIFY(rows() > 300);
        QVERIFY2(!window_->statusLine()->text().contains(QStringLiteral("过滤")),
                 qPrintable(window_->statusLine()->text()));
    }

    // 打开文件 takes a logic analyzer's VCD of D+ and D-: its packets are the rows, decoded
    // as any capture's, with what the lines showed among the checks (a low end bit here);
    // a file it cannot read is told and the capture stays.
    void aLogicAnalyzerRecordingOpensAsACapture() {
        logic::DigitalChannel dplus, dminus;
        const std::vector<uint8_t> request = {0xAA, 0x22, 0x09, 0x02, 0x08, 0x10, 0x00,
                                              0x00, 0x00, 0x01, 0x90, 0x01, 0x22, 0x97};
        logic::PacketFlaws lowEndBit;
        lowEndBit.lowEndBitCharacter = 4;
        logic::writePacket(dplus, 1e9, 0.002, request, 115200, lowEndBit);
        logic::writePacket(dminus, 1e9, 0.0045, {0xAA, 0x41, 0x09, 0x00, 0x5D}, 57600);
        std::string vcd =
            "$timescale 1 ns $end\n$var wire 1 ! D+ $end\n$var wire 1 \" D- $end\n"
            "$enddefinitions $end\n#0 1! 1\"\n";
        std::map<uint64_t, std::string> changes;
        for (const auto& [line, id] : {std::pair{&dplus, '!'}, std::pair{&dminus, '"'}}) {
            bool level = true;
            for (const uint64_t at : line->changes)
                changes[at] += std::string(1, (level = !level) ? '1' : '0') + id + "\n";
        }
        for (const auto& [at, text] : changes)
            vcd += "#" + std::to_string(at) + "\n" + text;
        const QString path = QString::fromStdString(folder_->file("bus.vcd"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(vcd.data(), static_cast<qint64>(vcd.size()));
        file.close();

        QVERIFY(window_->openCaptureFrom(path));
        QTRY_COMPARE(rows(), 3);  // the header row and two packets
        QCOMPARE(cell(1, 3), QStringLiteral("Request"));
        QCOMPARE(cell(1, 6), QStringLiteral("0:00:00.002"));
        QCOMPARE(cell(2, 7), QStringLiteral("57600"));
        QVERIFY(window_->windowTitle().contains(QStringLiteral("bus.vcd")));
        window_->messageList()->selectRow(1);
        QVERIFY(paneContains(QStringLiteral("请求输出电压:0x0190 4000mV")));
        QVERIFY(paneContains(QStringLiteral("帧错误：第 5 个字节的停止位为低电平")));
        QVERIFY2(window_->statusLine()->text().contains(QStringLiteral("时序问题 1 处")),
                 qPrintable(window_->statusLine()->text()));

        QFile broken(QString::fromStdString(folder_->file("broken.csv")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("Time [s],D+\nx,1\n");
        broken.close();
        QVERIFY(!window_->openCaptureFrom(broken.fileName()));
        QVERIFY(messages_.last().startsWith(QStringLiteral("无法读取 broken.csv：")));
        QCOMPARE(rows(), 3);
    }

    // Lines whose names do not say which is D+ and D- are asked for, proposing the first
    // two; the choice is what is imported, and cancelling leaves the capture as it was.
    void unnamedLogicLinesAreAskedFor() {
        std::vector<logic::DigitalChannel> lines(3);
        logic::writePacket(
            lines[2], 1e6, 0.002,
            {0xAA, 0x22, 0x09, 0x02, 0x08, 0x10, 0x00, 0x00, 0x00, 0x01, 0x90, 0x01, 0x22, 0x97},
            115200);
        logic::writePacket(lines[0], 1e6, 0.004, {0xAA, 0x41, 0x09, 0x00, 0x5D}, 115200);
        std::map<uint64_t, int> changes;  // sample -> lines that change there, as bits
        for (int k = 0; k < 3; ++k)
            for (const uint64_t at : lines[k].changes)
                changes[at] |= 1 << k;
        std::string csv = "Time [s],A,B,C\n0,1,1,1\n";
        int levels = 7;
        for (const auto& [at, which] : changes) {
            levels ^= which;
            csv += std::to_string(static_cast<double>(at) / 1e6) + "," +
                   std::to_string(levels & 1) + "," + std::to_string((levels >> 1) & 1) + "," +
                   std::to_string((levels >> 2) & 1) + "\n";
        }
        csv += "0.01,1,1,1\n";
        const QString path = QString::fromStdString(folder_->file("unnamed.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(csv.data(), static_cast<qint64>(csv.size()));
        file.close();

        int asked = 0;
        window_->askers().runLogicLinesDialog = [&](analyzer::ui::LogicLinesDialog& dialog) {
            ++asked;
            if (asked == 1) return false;  // cancelled
            if (dialog.dplus() != 0 || dialog.dminus() != 1 || dialog.dplusBox()->count() != 3)
                return false;
            dialog.dplusBox()->setCurrentIndex(2);
            dialog.dminusBox()->setCurrentIndex(0);
            return true;
        };
        const int before = rows();
        const int messagesBefore = static_cast<int>(messages_.size());
        QVERIFY(!window_->openCaptureFrom(path));
        QCOMPARE(static_cast<int>(messages_.size()), messagesBefore);  // a cancel is not an error
        QCOMPARE(rows(), before);
        QVERIFY(window_->openCaptureFrom(path));
        QCOMPARE(asked, 2);
        QTRY_COMPARE(rows(), 3);
        QCOMPARE(cell(1, 3), QStringLiteral("Request"));            // from line C, as D+
        QCOMPARE(window_->document().store().record(1).kind(), 1);  // D+
        QCOMPARE(window_->document().store().record(2).kind(), 2);  // line A, as D-
    }

    void paneCopyWithoutSelectionTellsTheCaret() {
        window_->appendPaneText(QStringLiteral("abc"), analyzer::PaneStyle::NormalAtEnd);
        window_->copyPaneSelection();
        QCOMPARE(messages_.last(), QStringLiteral(" 光标[guang biao]在3"));
    }

    void screenshots() {
        const QByteArray folder = qgetenv("UFCS_SCREENSHOT_DIR");
        if (folder.isEmpty()) QSKIP("set UFCS_SCREENSHOT_DIR to save screenshots");
        for (const auto layout : {analyzer::ui::Layout::Normal, analyzer::ui::Layout::Compact}) {
            cleanup();
            init();
            if (layout == analyzer::ui::Layout::Compact) {
                window_ = std::make_unique<MainWindow>(
                    *device_, *store_, profile_, clock_,
                    QString::fromStdString(folder_->path().string()), layout);
                window_->askers().message = [this](const QString& text) { messages_ << text; };
                window_->askers().runModeDialog = [](analyzer::ui::ModeDialog&) { return true; };
                window_->show();
                QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
            }
            start();
            instrument_->injectFaults(2);
            capture(80);
            QTRY_VERIFY_WITH_TIMEOUT(window_->voltageBox()->toPlainText().trimmed().toDouble() > 1,
                                     3000);
            int faulty = 1;
            while (faulty < rows() &&
                   !(rowColour(faulty) == QColor(223, 52, 45) && !cell(faulty, 1).isEmpty())) {
                ++faulty;
            }
            window_->messageList()->selectRow(faulty < rows() ? faulty : 9);
            const QString name = layout == analyzer::ui::Layout::Normal ? "analyzer_normal.png"
                                                                        : "analyzer_compact.png";
            if (layout == analyzer::ui::Layout::Compact) QCOMPARE(window_->width(), 1024);
            QVERIFY(window_->grab().save(QString::fromUtf8(folder) + '/' + name));
        }
        // Charging-device mode: the send dialog on its Request page, and the output-modes panel.
        cleanup();
        init();
        chosenMode_ = 2;
        start();
        QTRY_VERIFY(window_->button("档位信息")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(window_->voltageBox()->toPlainText().trimmed().toDouble() > 1,
                                 3000);
        window_->button("发送消息")->click();
        window_->sendDialog()->selectEntry(analyzer::kSendRequest);
        window_->sendDialog()->send();
        QTRY_COMPARE(rowsWithMessage(QStringLiteral("Power_Ready")), 1);
        QVERIFY(window_->sendDialog()->grab().save(QString::fromUtf8(folder) + "/send_dialog.png"));
        window_->button("档位信息")->click();
        QVERIFY(window_->modesPanel()->grab().save(QString::fromUtf8(folder) +
                                                   "/output_modes_panel.png"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
