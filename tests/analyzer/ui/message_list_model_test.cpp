// The message list model on its own: rows as the store fills, and the note
// row after them, checked by Qt's model tester.
#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

#include "analyzer/capture_feed.h"
#include "analyzer/ui/message_list_model.h"
#include "simulator/bus_traffic.h"
#include "simulator/capture_pages.h"

using analyzer::ui::MessageListModel;

class MessageListModelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ufcs::CaptureStore> store_ = ufcs::CaptureStore::create();

    void feed(analyzer::CaptureFeed& feed, int events) {
        simulator::BusTraffic traffic({5, 0.0});
        for (int i = 0; i < events; ++i)
            feed.feedReports(simulator::capturePages(traffic.next()));
    }

  private slots:
    // The note comes, changes and goes as one row: the rows before it, the
    // selection and the current row stay; the model is never reset.
    void theNoteRowLeavesTheListAlone() {
        analyzer::CaptureFeed capture(*store_, {});
        feed(capture, 20);
        ufcs::CaptureList list(*store_);
        MessageListModel model(list, *store_);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.appendNew();
        const int listed = model.listedRows();
        QVERIFY(listed > 5);
        QItemSelectionModel selection(&model);
        selection.setCurrentIndex(model.index(3, 0),
                                  QItemSelectionModel::SelectCurrent | QItemSelectionModel::Rows);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

        const struct {
            const char* note;
            int rows;
        } steps[] = {{"数据已爆表！", listed + 1},
                     {"另一条", listed + 1},
                     {"另一条", listed + 1},
                     {"", listed},
                     {"", listed},
                     {"数据已爆表！", listed + 1}};
        for (const auto& step : steps) {
            model.setTrailingNote(QString::fromUtf8(step.note));
            QCOMPARE(model.rowCount(), step.rows);
            if (*step.note)
                QCOMPARE(model.index(listed, 4).data().toString(), QString::fromUtf8(step.note));
            QCOMPARE(selection.currentIndex().row(), 3);
            QVERIFY(selection.isRowSelected(3));
        }
        QCOMPARE(resets.count(), 0);

        // Rows that arrive later go before the note.
        feed(capture, 10);
        model.appendNew();
        QVERIFY(model.listedRows() > listed);
        QCOMPARE(model.rowCount(), model.listedRows() + 1);
        QCOMPARE(model.index(model.listedRows(), 4).data().toString(),
                 QStringLiteral("数据已爆表！"));
        QCOMPARE(selection.currentIndex().row(), 3);
    }
};

QTEST_MAIN(MessageListModelTest)
#include "message_list_model_test.moc"
