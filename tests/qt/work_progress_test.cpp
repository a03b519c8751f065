// Long work off the window thread: the dialog shows how far it is, 取消 ends
// it, and work that ends quickly never shows a dialog.
#include <QApplication>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>

#include "qt/work_progress.h"

using namespace std::chrono_literals;

namespace {

QProgressDialog* openDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QProgressDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

}  // namespace

class WorkProgressTest : public QObject {
    Q_OBJECT

  private slots:
    void cancelEndsTheWorkAndTheDialogShowsItsProgress() {
        QWidget window;
        window.show();
        bool sawHalf = false;
        QString label;
        QTimer user;  // the user, while runWithProgress waits
        connect(&user, &QTimer::timeout, this, [&] {
            QProgressDialog* dialog = openDialog();
            if (!dialog || dialog->value() != 500) return;
            sawHalf = true;
            label = dialog->labelText();
            dialog->findChild<QPushButton*>()->click();
        });
        user.start(10);
        bool cancelled = false;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        qt_adapters::runWithProgress(
            &window, QStringLiteral("正在打开 a.osa ……"),
            [&](qt_adapters::WorkProgress& progress) {
                progress.permille = 500;
                while (!progress.cancelled && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::yield();
                cancelled = progress.cancelled;
            },
            0ms);
        QVERIFY(sawHalf);
        QCOMPARE(label, QStringLiteral("正在打开 a.osa ……"));
        QVERIFY(cancelled);
        QVERIFY(!openDialog());  // gone with the work
    }

    void quickWorkShowsNoDialog() {
        QWidget window;
        window.show();
        bool dialogSeen = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] { dialogSeen = dialogSeen || openDialog(); });
        watcher.start(1);
        int result = 0;
        qt_adapters::runWithProgress(
            &window, QStringLiteral("x"), [&](qt_adapters::WorkProgress&) { result = 42; }, 10s);
        QCOMPARE(result, 42);
        QVERIFY(!dialogSeen);
    }
};

QTEST_MAIN(WorkProgressTest)
#include "work_progress_test.moc"
