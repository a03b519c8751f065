#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

#include "analyzer/ui/send_dialog.h"
#include "ufcs/names.h"

using analyzer::ui::SendDialog;

namespace {

QPushButton* button(const QWidget& parent, const QString& text) {
    for (QPushButton* b : parent.findChildren<QPushButton*>()) {
        if (b->text() == text) return b;
    }
    return nullptr;
}

QLineEdit* edit(const SendDialog& dialog, int position, const char* name) {
    return qobject_cast<QLineEdit*>(dialog.field(position, QString::fromLatin1(name)));
}

// Mode n: max n V / (n+1) A, min 3.3 V / 0.5 A, 20 mV steps, current code 2.
instrument::OutputCapabilityTable table(uint8_t count) {
    instrument::OutputCapabilityTable t;
    t.modeCount = count;
    for (int i = 0; i < 7; ++i) {
        uint8_t* e = t.bytes.data() + 8 * i;
        const int maxV = (i + 1) * 100, maxI = (i + 2) * 100;
        e[0] = 0x01 | (2 << 1);
        e[1] = uint8_t(maxV), e[2] = uint8_t(maxV >> 8);
        e[3] = 330 & 0xFF, e[4] = 330 >> 8;
        e[5] = uint8_t(maxI), e[6] = uint8_t(maxI >> 8);
        e[7] = 50;
    }
    return t;
}

}  // namespace

class SendDialogTest : public QObject {
    Q_OBJECT
  private slots:
    void listsTheTwentyEntriesAndStartsAtPing() {
        SendDialog dialog;
        auto* list = dialog.findChild<QListWidget*>();
        QVERIFY(list);
        QCOMPARE(list->count(), 20);
        for (int i = 0; i < 20; ++i) {
            const auto name = ufcs::SendMenuEntries[std::size_t(i)];
            QCOMPARE(list->item(i)->text(), QString::fromUtf8(name.data(), qsizetype(name.size())));
        }
        QCOMPARE(dialog.selectedEntry(), 0);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("发送消息"));
    }

    void pingSendsAtOnce() {
        SendDialog dialog;
        QSignalSpy spy(&dialog, &SendDialog::sendRequested);
        button(dialog, QStringLiteral("发送"))->click();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
    }

    void badRandomDataIsRefused() {
        SendDialog dialog;
        QStringList messages;
        dialog.setMessageSink([&](const QString& m) { messages << m; });
        QSignalSpy spy(&dialog, &SendDialog::sendRequested);
        dialog.selectEntry(12);
        edit(dialog, 12, "key-index")->setText(QStringLiteral("5"));
        edit(dialog, 12, "random")->setText(QStringLiteral("01 02"));
        dialog.send();
        QCOMPARE(messages,
                 QStringList{QStringLiteral("请输入16个十六进制数，注意数据用空格分开!")});
        QCOMPARE(spy.count(), 0);
        QCOMPARE(dialog.pages().keyIndex, uint8_t(0));
    }

    void badNumberFocusesItsField() {
        SendDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QStringList messages;
        dialog.setMessageSink([&](const QString& m) { messages << m; });
        dialog.selectEntry(10);
        edit(dialog, 10, "current")->setText(QStringLiteral("abc"));
        dialog.send();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0], QStringLiteral("请键入一个整数。"));
        QCOMPARE(QApplication::focusWidget(), dialog.field(10, QStringLiteral("current")));
    }

    void goodRequestIsStoredAndSent() {
        SendDialog dialog;
        dialog.setMessageSink([](const QString& m) { QFAIL(qPrintable(m)); });
        QSignalSpy spy(&dialog, &SendDialog::sendRequested);
        dialog.selectEntry(10);
        edit(dialog, 10, "mode-number")->setText(QStringLiteral("3"));
        edit(dialog, 10, "voltage")->setText(QStringLiteral("9000"));
        edit(dialog, 10, "current")->setText(QStringLiteral("2000"));
        dialog.send();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 10);
        QCOMPARE(dialog.pages().requestMode, 3);
        QCOMPARE(dialog.pages().requestMillivolts, 9000);
        QCOMPARE(dialog.pages().requestMilliamps, 2000);
    }

    void vendorReceiverIsComboIndexPlusOne() {
        SendDialog dialog;
        dialog.selectEntry(15);
        qobject_cast<QComboBox*>(dialog.field(15, QStringLiteral("receiver")))->setCurrentIndex(2);
        edit(dialog, 15, "vendor-id")->setText(QStringLiteral("12 34"));
        edit(dialog, 15, "data")->setText(QStringLiteral("A B C"));
        QSignalSpy spy(&dialog, &SendDialog::sendRequested);
        dialog.send();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(dialog.pages().vendorReceiver, 2);
        QCOMPARE(dialog.pages().vendorData, (std::vector<uint8_t>{0x0A, 0x0B, 0x0C}));
    }

    void modeButtonFillsRequestFields() {
        SendDialog dialog;
        dialog.setCapabilityTable(table(3));
        button(dialog, QStringLiteral("2"))->click();
        QCOMPARE(edit(dialog, 10, "mode-number")->text(), QStringLiteral("2"));
        QCOMPARE(edit(dialog, 10, "voltage")->text(), QStringLiteral("2000"));
        QCOMPARE(edit(dialog, 10, "current")->text(), QStringLiteral("3000"));
    }

    void rowsBeyondTheCountAreHidden() {
        SendDialog dialog;
        dialog.show();
        dialog.selectEntry(10);
        dialog.setCapabilityTable(table(3));
        QVERIFY(button(dialog, QStringLiteral("3"))->isVisible());
        QVERIFY(!button(dialog, QStringLiteral("4"))->isVisible());
        QVERIFY(!button(dialog, QStringLiteral("7"))->isVisible());
        QStringList shown;
        for (QLabel* l : dialog.findChildren<QLabel*>()) {
            if (l->isVisible()) shown << l->text();
        }
        QVERIFY(shown.contains(QStringLiteral("3.3-3")));
        QVERIFY(shown.contains(QStringLiteral("0.5-4")));
        QVERIFY(!shown.contains(QStringLiteral("3.3-4")));
        QCOMPARE(shown.count(QStringLiteral("20")), 3);
        QCOMPARE(shown.count(QStringLiteral("30")), 3);
        dialog.setCapabilityTable(table(9));
        QVERIFY(button(dialog, QStringLiteral("7"))->isVisible());
    }

    void chargingModeEnablesAndDisablesEntries() {
        SendDialog dialog;
        auto* list = dialog.findChild<QListWidget*>();
        for (int row : {2, 3, 10, 11})
            list->item(row)->setFlags(list->item(row)->flags() & ~Qt::ItemIsEnabled);
        dialog.prepareForMode(2);
        for (int row : {2, 3, 10, 11})
            QVERIFY(list->item(row)->flags() & Qt::ItemIsEnabled);
        QVERIFY(!(list->item(4)->flags() & Qt::ItemIsEnabled));
        QVERIFY(list->item(5)->flags() & Qt::ItemIsEnabled);
    }

    void logAppendsAndClears() {
        SendDialog dialog;
        auto* log = dialog.findChild<QTextEdit*>();
        QVERIFY(log->isReadOnly());
        dialog.appendLog(QStringLiteral("1:02:03  \r\n Ping\r\n\r\n"));
        dialog.appendLog(QStringLiteral("x"));
        QCOMPARE(log->toPlainText(), QStringLiteral("1:02:03  \n Ping\n\nx"));
        button(dialog, QStringLiteral("清除"))->click();
        QVERIFY(log->toPlainText().isEmpty());
    }

    void liveTextsFillTheLabels() {
        SendDialog dialog;
        analyzer::StatusTexts texts;
        texts.voltage = "  5.01";
        texts.current = "  1.20";
        texts.values.modeNumber = 4;
        dialog.setLiveTexts(texts);
        QStringList labels;
        for (QLabel* l : dialog.findChildren<QLabel*>())
            labels << l->text();
        QVERIFY(labels.contains(QStringLiteral("当前电压：  5.01 V")));
        QVERIFY(labels.contains(QStringLiteral("当前电流：  1.20 A")));
        QVERIFY(labels.contains(QStringLiteral("当前模式编号：4")));
    }
};

QTEST_MAIN(SendDialogTest)
#include "send_dialog_test.moc"
