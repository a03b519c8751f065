#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include "analyzer/ui/output_modes_panel.h"

using analyzer::PendingOutputRequest;
using analyzer::ui::OutputModesPanel;
using analyzer::ui::SetOutputDialog;

namespace {

void putEntry(instrument::OutputCapabilityTable& t, int index, int maxV, int minV, int maxI,
              int minI) {
    uint8_t* e = t.bytes.data() + index * 8;
    e[0] = 0x02;  // 10 mV, 20 mA steps
    e[1] = uint8_t(maxV), e[2] = uint8_t(maxV >> 8), e[3] = uint8_t(minV),
    e[4] = uint8_t(minV >> 8);
    e[5] = uint8_t(maxI), e[6] = uint8_t(maxI >> 8), e[7] = uint8_t(minI);
}

// Three modes: 5-10 V / 0.5-3 A, 3.4-11 V / 0.1-5 A, 10-20 V / 0.2-3.25 A.
instrument::OutputCapabilityTable threeModes() {
    instrument::OutputCapabilityTable t;
    t.modeCount = 3;
    putEntry(t, 0, 1000, 500, 300, 50);
    putEntry(t, 1, 1100, 340, 500, 10);
    putEntry(t, 2, 2000, 1000, 325, 20);
    return t;
}

bool hasLabel(QWidget* w, const QString& text) {
    for (QLabel* l : w->findChildren<QLabel*>())
        if (l->text() == text && !l->isHidden()) return true;
    return false;
}

// A panel with three modes that records what it asks for.
struct Fixture {
    OutputModesPanel panel;
    QList<PendingOutputRequest> sent;
    QStringList messages;
    Fixture() {
        panel.setTable(threeModes());
        QObject::connect(&panel, &OutputModesPanel::requestPending,
                         [this](const PendingOutputRequest& p) { sent.append(p); });
    }
    // Opens a dialog from `button`, lets `body` answer it; messages are collected.
    void open(QPushButton* button, const std::function<void(SetOutputDialog&)>& body) {
        panel.setDialogRunner([&](SetOutputDialog& d) {
            d.setMessageSink([this](const QString& m) { messages.append(m); });
            body(d);
        });
        button->click();
    }
};

}  // namespace

class OutputModesPanelTest : public QObject {
    Q_OBJECT
  private slots:
    void rowsFollowTheCount() {
        OutputModesPanel panel;
        QCOMPARE(panel.windowTitle(), QStringLiteral("档位信息"));
        for (int row = 0; row < 7; ++row)
            QVERIFY(panel.numberButton(row)->isHidden());
        const auto table = threeModes();
        panel.setTable(table);
        for (int row = 0; row < 7; ++row) {
            QCOMPARE(panel.numberButton(row)->isHidden(), row >= 3);
            QCOMPARE(panel.descriptionButton(row)->isHidden(), row >= 3);
        }
        QCOMPARE(panel.numberButton(1)->text(), QStringLiteral("2"));
        // A table: each value in its own cell, under its title, whatever its width.
        QCOMPARE(panel.descriptionCells(0), (QStringList{"5.00-10.00", "0.50-3.00", "10", "20"}));
        QCOMPARE(panel.descriptionButton(0)->accessibleName(),
                 QStringLiteral("  5.00-10.00       0.50-3.00         10            20       "));
        QCOMPARE(panel.descriptionButton(2)->accessibleName(),
                 QString::fromStdString(analyzer::outputModeRowText(table.entry(2))));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        for (const int column : {0, 1, 2, 3}) {
            const QLabel* title = nullptr;
            for (const QLabel* l : panel.findChildren<QLabel*>())
                if (l->text() == QString::fromUtf8(analyzer::kOutputModeColumns[column + 1].data()))
                    title = l;
            QVERIFY(title);
            for (const int row : {0, 1, 2}) {
                const QLabel* cell = nullptr;
                for (const QLabel* l : panel.findChildren<QLabel*>())
                    if (l->text() == panel.descriptionCells(row)[column] &&
                        l->x() >= title->x() - 1 && l->x() <= title->x() + 1)
                        cell = l;
                QVERIFY2(cell, qPrintable(panel.descriptionCells(row)[column]));
            }
        }
        panel.setTable({});
        for (int row = 0; row < 7; ++row)
            QVERIFY(panel.descriptionButton(row)->isHidden());
    }

    void numberButtonAsksForItsMode() {
        OutputModesPanel panel;
        panel.setTable(threeModes());
        panel.setMode(2);
        QSignalSpy spy(&panel, &OutputModesPanel::requestMode);
        panel.numberButton(1)->click();
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0), (QList<QVariant>{21, 2}));
        panel.show();
        for (QPushButton* b : panel.findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("退出")) b->click();
        QVERIFY(panel.isHidden());
    }

    void descriptionOpensTheModesLimits() {
        Fixture f;
        int result = -1;
        f.open(f.panel.descriptionButton(1), [&](SetOutputDialog& d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("设置电压"));
            QVERIFY(hasLabel(&d, QStringLiteral("输出模式编号：2")));
            QVERIFY(hasLabel(&d, QStringLiteral("(3400-11000)")));
            QVERIFY(hasLabel(&d, QStringLiteral("(100-5000)")));
            QCOMPARE(d.voltageField()->text(), QStringLiteral("11000"));
            QCOMPARE(d.currentField()->text(), QStringLiteral("5000"));
            QVERIFY(!d.stayOpenButton()->isChecked());
            QVERIFY(d.sentLabel()->text().isEmpty());
            d.voltageField()->setText(QStringLiteral("9000"));
            d.currentField()->setText(QStringLiteral("100"));
            d.confirm();
            result = d.result();
        });
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(f.sent.size(), 1);
        QCOMPARE(f.sent[0].mode, 2);
        QCOMPARE(f.sent[0].millivolts, 9000);
        QCOMPARE(f.sent[0].milliamps, 100);
    }

    void badFieldsAreRefused() {
        Fixture f;
        f.open(f.panel.descriptionButton(1), [&](SetOutputDialog& d) {
            d.show();
            const auto refused = [&](const char* voltage, const char* current,
                                     const QString& message, QLineEdit* focused) {
                f.messages.clear();
                d.voltageField()->setText(QString::fromUtf8(voltage));
                d.currentField()->setText(QString::fromUtf8(current));
                d.confirm();
                QCOMPARE(f.messages, QStringList{message});
                QCOMPARE(d.focusWidget(), focused);
                QVERIFY(d.isVisible());
            };
            // The current field is checked before the voltage field.
            refused("x", "abc", QStringLiteral("请键入一个整数。"), d.currentField());
            refused("9000", "5001", QStringLiteral("“请填入一个在100和5000之间的整数。”"),
                    d.currentField());
            refused("9000", "99", QStringLiteral("“请填入一个在100和5000之间的整数。”"),
                    d.currentField());
            refused("3399", "100", QStringLiteral("“请填入一个在3400和11000之间的整数。”"),
                    d.voltageField());
            refused("11001", "5000", QStringLiteral("“请填入一个在3400和11000之间的整数。”"),
                    d.voltageField());
            refused("9.5", "5000", QStringLiteral("请键入一个整数。"), d.voltageField());
        });
        QVERIFY(f.sent.isEmpty());
    }

    void voltageOnlyPicksTheFirstModeReachingIt() {
        const QList<std::array<int, 3>> cases = {// typed mV, mode, mA
                                                 {3400, 1, 3000},  {10000, 1, 3000},
                                                 {10001, 2, 5000}, {11000, 2, 5000},
                                                 {11001, 3, 3250}, {20000, 3, 3250}};
        for (const auto& [millivolts, mode, milliamps] : cases) {
            const int typed = millivolts;  // clang 14 cannot capture a structured binding
            Fixture f;
            f.open(f.panel.voltageOnlyButton(), [&](SetOutputDialog& d) {
                QVERIFY(d.currentField()->isHidden());
                QVERIFY(!hasLabel(&d, QStringLiteral("输出模式编号：1")));
                QVERIFY(hasLabel(&d, QStringLiteral("(3400-20000)")));
                d.currentField()->setText(QStringLiteral("not checked"));
                d.voltageField()->setText(QString::number(typed));
                d.confirm();
            });
            QVERIFY(f.messages.isEmpty());
            QCOMPARE(f.sent.size(), 1);
            QCOMPARE(f.sent[0].millivolts, millivolts);
            QCOMPARE(f.sent[0].mode, mode);
            QCOMPARE(f.sent[0].milliamps, milliamps);
        }
    }

    void stayOpenShowsSentBriefly() {
        Fixture f;
        f.open(f.panel.descriptionButton(0), [&](SetOutputDialog& d) {
            d.stayOpenButton()->click();
            d.confirm();
            QCOMPARE(d.result(), int(QDialog::Rejected));
            QCOMPARE(d.sentLabel()->text(), QStringLiteral("已发送!"));
            QTRY_VERIFY_WITH_TIMEOUT(d.sentLabel()->text().isEmpty(), 2000);
            d.stayOpenButton()->click();
            d.confirm();
            QCOMPARE(d.result(), int(QDialog::Accepted));
        });
        QCOMPARE(f.sent.size(), 2);
        QCOMPARE(f.sent[0].mode, 1);
        QCOMPARE(f.sent[0].millivolts, 10000);
        QCOMPARE(f.sent[0].milliamps, 3000);
    }

    void liveTexts() {
        Fixture f;
        f.panel.setLiveTexts({"  5.00", "  1.25", {5000, 1250, 900, 205, 3}});
        QCOMPARE(f.panel.label("当前电压：")->text(), QStringLiteral("当前电压：  5.00 V"));
        QCOMPARE(f.panel.label("当前电流：")->text(), QStringLiteral("当前电流：  1.25 A"));
        QCOMPARE(f.panel.label("当前模式编号：")->text(), QStringLiteral("当前模式编号：3"));
        QCOMPARE(f.panel.label("当前成功申请电压：")->text(),
                 QStringLiteral("当前成功申请电压：9.00 V"));
        QCOMPARE(f.panel.label("当前成功申请电流：")->text(),
                 QStringLiteral("当前成功申请电流：2.05 A"));
        f.open(f.panel.descriptionButton(0), [&](SetOutputDialog& d) {
            QVERIFY(hasLabel(&d, QStringLiteral("当前电压：  5.00")));
            f.panel.setLiveTexts({"  9.10", "  1.00", {}});
            QTRY_VERIFY_WITH_TIMEOUT(hasLabel(&d, QStringLiteral("当前电压：  9.10")), 2000);
        });
    }
};

QTEST_MAIN(OutputModesPanelTest)
#include "output_modes_panel_test.moc"
