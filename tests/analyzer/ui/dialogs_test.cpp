#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "analyzer/ui/dialogs.h"

using analyzer::ui::FilterPopup;
using analyzer::ui::LogicLinesDialog;
using analyzer::ui::ModeDialog;
using analyzer::ui::RefusalDialog;
using Group = FilterPopup::Group;
using ufcs::ListFilter;

namespace {

QPushButton* button(QWidget* parent, const QString& caption) {
    for (QPushButton* b : parent->findChildren<QPushButton*>()) {
        if (b->text() == caption) return b;
    }
    return nullptr;
}

// Clicks near the indicator: the middle of a stretched radio or check box lies
// beyond its caption and does not count as a hit.
void clickBox(QAbstractButton* b) {
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

struct BoxCase {
    Group group;
    QString caption;
    bool& (*field)(ListFilter&);
};

// Every box of every popup, written out independently of the program's name tables.
QList<BoxCase> allBoxes() {
    QList<BoxCase> cases = {
        {Group::Type, "控制消息", [](ListFilter& f) -> bool& { return f.types[0]; }},
        {Group::Type, "数据消息", [](ListFilter& f) -> bool& { return f.types[1]; }},
        {Group::Type, "厂商自定", [](ListFilter& f) -> bool& { return f.types[2]; }},
        {Group::Receiver, "供电设备", [](ListFilter& f) -> bool& { return f.receivers[0]; }},
        {Group::Receiver, "充电设备", [](ListFilter& f) -> bool& { return f.receivers[1]; }},
        {Group::Receiver, "线缆", [](ListFilter& f) -> bool& { return f.receivers[2]; }},
        {Group::Message, "厂家自定义消息", [](ListFilter& f) -> bool& { return f.vendorMessages; }},
        {Group::Message, "D+设备", [](ListFilter& f) -> bool& { return f.resets[0]; }},
        {Group::Message, "D-设备", [](ListFilter& f) -> bool& { return f.resets[1]; }},
        {Group::Message, "D+线缆", [](ListFilter& f) -> bool& { return f.resets[2]; }},
        {Group::Message, "D-线缆", [](ListFilter& f) -> bool& { return f.resets[3]; }},
        {Group::Message, "供电设备", [](ListFilter& f) -> bool& { return f.handshakes[0]; }},
        {Group::Message, "供电设备应答", [](ListFilter& f) -> bool& { return f.handshakes[1]; }},
        {Group::Message, "充电设备", [](ListFilter& f) -> bool& { return f.handshakes[2]; }},
        {Group::Message, "充电设备应答", [](ListFilter& f) -> bool& { return f.handshakes[3]; }},
        {Group::Baud, "115200", [](ListFilter& f) -> bool& { return f.bauds[0]; }},
        {Group::Baud, "57600", [](ListFilter& f) -> bool& { return f.bauds[1]; }},
        {Group::Baud, "38400", [](ListFilter& f) -> bool& { return f.bauds[2]; }},
        {Group::Baud, "19200", [](ListFilter& f) -> bool& { return f.bauds[3]; }},
    };
    return cases;
}

const QStringList kControl = {"Ping",
                              "ACK",
                              "NCK",
                              "Accept",
                              "Soft_Reset",
                              "Power_Ready",
                              "Get_Output_Capabilities",
                              "Get_Source_Info",
                              "Get_Sink_Info",
                              "Get_Cable_Info",
                              "Get_Device_Info",
                              "Get_Error_Info",
                              "Detect_Cable_Info",
                              "Start_Cable_Detect",
                              "End_Cable_Detect",
                              "Exit_UFCS_Mode"};
const QStringList kData = {  // rows 1-13
    "Output_Capabilities", "Request",           "Source_Information",
    "Sink_Information",    "Cable_Information", "Device_Information",
    "Error_Information",   "Config_Watchdog",   "Refuse",
    "Verify_Request",      "Verify_Response",   "Power_Change",
    "Test_Request"};

// Unticking `caption` must clear exactly the one field `field` of the filter.
void checkUntick(Group group, const QString& caption,
                 const std::function<bool&(ListFilter&)>& field) {
    const ListFilter incoming;
    FilterPopup popup(group, incoming);
    QCheckBox* box = popup.box(caption);
    QVERIFY2(box, qPrintable(caption));
    QVERIFY(box->isChecked());
    box->click();
    ListFilter expected = incoming;
    field(expected) = false;
    QVERIFY2(popup.filter() == expected, qPrintable(caption));
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void modeDialogOpensInListening() {
        ModeDialog dialog(1, true);
        QCOMPARE(dialog.windowTitle(), QString("模式选择"));
        QCOMPARE(dialog.listeningButton()->text(), QString("监听模式"));
        QCOMPARE(dialog.chargingDeviceButton()->text(), QString("充电设备模式"));
        QCOMPARE(dialog.typeCBox()->text(), QString("Type C接口"));
        QVERIFY(dialog.listeningButton()->isChecked());
        QVERIFY(!dialog.chargingDeviceButton()->isChecked());
        QVERIFY(dialog.typeCBox()->isChecked());
        QVERIFY(!dialog.typeCBox()->isEnabled());
        QCOMPARE(dialog.mode(), uint8_t{1});
    }

    void modeDialogOpensInChargingDevice() {
        ModeDialog dialog(2, false);
        QVERIFY(dialog.chargingDeviceButton()->isChecked());
        QVERIFY(!dialog.listeningButton()->isChecked());
        QVERIFY(!dialog.typeCBox()->isChecked());
        QVERIFY(dialog.typeCBox()->isEnabled());
        QCOMPARE(dialog.mode(), uint8_t{2});
        QVERIFY(!dialog.typeCPort());
    }

    void typeCFollowsRadiosAndKeepsItsTick() {
        ModeDialog dialog(2, true);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        clickBox(dialog.listeningButton());
        QVERIFY(dialog.listeningButton()->isChecked());
        QVERIFY(!dialog.typeCBox()->isEnabled());
        QVERIFY(dialog.typeCBox()->isChecked());
        button(&dialog, "确定")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.mode(), uint8_t{1});
        QVERIFY(dialog.typeCPort());  // listening with Type C ticked keeps the port

        ModeDialog again(1, false);
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        clickBox(again.chargingDeviceButton());
        QVERIFY(again.typeCBox()->isEnabled());
        clickBox(again.typeCBox());
        QCOMPARE(again.mode(), uint8_t{2});
        QVERIFY(again.typeCPort());
        button(&again, "取消")->click();
        QCOMPARE(again.result(), int(QDialog::Rejected));
    }

    void refusalDialogRoundTrip() {
        RefusalDialog dialog(false, true);
        QCOMPARE(dialog.windowTitle(), QString("拒收设置"));
        QCOMPARE(dialog.ackBox()->text(), QString("拒收ACK"));
        QCOMPARE(dialog.pingBox()->text(), QString("拒收Ping"));
        QVERIFY(!dialog.refuseAck());
        QVERIFY(dialog.refusePing());
        dialog.ackBox()->click();
        dialog.pingBox()->click();
        QVERIFY(button(&dialog, "取消"));
        button(&dialog, "确定")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.refuseAck());
        QVERIFY(!dialog.refusePing());
    }

    void eachBoxEditsItsOwnField() {
        for (const BoxCase& c : allBoxes())
            checkUntick(c.group, c.caption, c.field);
        for (int i = 0; i < kControl.size(); ++i)
            checkUntick(Group::Message, kControl[i],
                        [i](ListFilter& f) -> bool& { return f.controlCommands[i]; });
        for (int i = 0; i < kData.size(); ++i)
            checkUntick(Group::Message, kData[i],
                        [i](ListFilter& f) -> bool& { return f.dataCommands[i + 1]; });
    }

    void popupsHaveNoOtherBoxes() {
        const ListFilter f;
        QCOMPARE(FilterPopup(Group::Type, f).findChildren<QCheckBox*>().size(), 3);
        QCOMPARE(FilterPopup(Group::Receiver, f).findChildren<QCheckBox*>().size(), 3);
        QCOMPARE(FilterPopup(Group::Message, f).findChildren<QCheckBox*>().size(), 38);
        QCOMPARE(FilterPopup(Group::Baud, f).findChildren<QCheckBox*>().size(), 4);
        FilterPopup type(Group::Type, f);
        QVERIFY(!button(&type, "全选"));
        QVERIFY(button(&type, "确定"));
    }

    void messagePopupFitsSmallScreen() {
        FilterPopup popup(Group::Message, ListFilter{});
        const QSize hint = popup.sizeHint();
        QVERIFY2(hint.width() <= 1024 && hint.height() <= 700,
                 qPrintable(QString("%1x%2").arg(hint.width()).arg(hint.height())));
    }

    void popupReflectsIncomingFilter() {
        ListFilter incoming;
        incoming.types[1] = false;
        incoming.receivers[2] = false;
        incoming.controlCommands[1] = false;
        incoming.handshakes[2] = false;
        incoming.bauds[3] = false;
        FilterPopup type(Group::Type, incoming);
        QVERIFY(!type.box("数据消息")->isChecked());
        QVERIFY(type.box("控制消息")->isChecked());
        FilterPopup receiver(Group::Receiver, incoming);
        QVERIFY(!receiver.box("线缆")->isChecked());
        QVERIFY(receiver.box("充电设备")->isChecked());
        FilterPopup message(Group::Message, incoming);
        QVERIFY(!message.box("ACK")->isChecked());
        QVERIFY(!message.box("充电设备")->isChecked());
        QVERIFY(message.box("供电设备")->isChecked());
        QVERIFY(message.box("Ping")->isChecked());
        FilterPopup baud(Group::Baud, incoming);
        QVERIFY(!baud.box("19200")->isChecked());
        QVERIFY(baud.box("115200")->isChecked());
        for (FilterPopup* p : {&type, &receiver, &message, &baud})
            QVERIFY(p->filter() == incoming);
    }

    void selectAllAndNoneInMessagePopup() {
        ListFilter incoming;
        incoming.types[0] = false;
        incoming.dataCommands[5] = false;
        incoming.resets[1] = false;
        FilterPopup popup(Group::Message, incoming);
        button(&popup, "全不选")->click();
        ListFilter expected = incoming;
        expected.setAllMessages(false);
        expected.dataCommands[0] = incoming.dataCommands[0];  // row 0 has no box
        QVERIFY(popup.filter() == expected);
        QVERIFY(!popup.filter().types[0]);

        button(&popup, "全选")->click();
        expected.setAllMessages(true);
        QVERIFY(popup.filter() == expected);
        QVERIFY(popup.filter().messagesAllTicked());
        QVERIFY(!popup.filter().types[0]);
    }

    void popupAcceptsOnOkAndRejectsWhenClosed() {
        FilterPopup popup(Group::Baud, ListFilter{});
        QVERIFY(popup.windowFlags().testFlag(Qt::Popup));
        popup.show();
        button(&popup, "确定")->click();
        QCOMPARE(popup.result(), int(QDialog::Accepted));
        popup.show();
        popup.close();
        QCOMPARE(popup.result(), int(QDialog::Rejected));
    }

    // The lines as offered, changed as a user would, come back as the roles; without
    // analog lines there are no bus rows and no bus.
    void logicLinesDialogGivesTheRolesChosen() {
        logic::LineRoles proposed;
        proposed.vbus = 1;
        proposed.vbusScale = 10;
        LogicLinesDialog dialog({"CH0", "CH1", "CH2"}, {"A0", "A1"}, proposed);
        QCOMPARE(dialog.dplusBox()->count(), 3);
        QCOMPARE(dialog.vbusBox()->count(), 3);  // 不用, A0, A1
        QCOMPARE(dialog.vbusBox()->currentText(), QStringLiteral("1  A1"));
        QCOMPARE(dialog.ibusBox()->currentText(), QStringLiteral("不用"));
        QCOMPARE(dialog.vbusScaleBox()->value(), 10.0);
        dialog.dplusBox()->setCurrentIndex(2);
        dialog.ibusBox()->setCurrentIndex(1);
        dialog.ibusScaleBox()->setValue(0.5);
        dialog.vbusBox()->setCurrentIndex(0);
        const logic::LineRoles chosen = dialog.roles();
        QCOMPARE(chosen.dplus, std::size_t{2});
        QCOMPARE(chosen.dminus, std::size_t{1});
        QVERIFY(!chosen.vbus);
        QCOMPARE(chosen.ibus, std::optional<std::size_t>(0));
        QCOMPARE(chosen.ibusScale, 0.5);

        LogicLinesDialog digitalOnly({"CH0", "CH1"}, {}, logic::LineRoles{});
        QVERIFY(!digitalOnly.vbusBox());
        QVERIFY(digitalOnly.findChildren<QDoubleSpinBox*>().isEmpty());
        QVERIFY(!digitalOnly.roles().vbus && !digitalOnly.roles().ibus);
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
