#include "qt/work_progress.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTimer>
#include <memory>
#include <thread>

#include "qt/qt_event_loop.h"

namespace qt_adapters {

void runWithProgress(QWidget* parent, const QString& text,
                     const std::function<void(WorkProgress&)>& work,
                     std::chrono::milliseconds showAfter) {
    WorkProgress progress;
    std::atomic<bool> done{false};
    QObject context;
    QtEventLoop wake(&context);  // the worker's last word wakes this thread at once
    std::thread worker([&] {
        work(progress);
        done = true;
        wake.post([] {});
    });
    QTimer tick;  // wakes the loop to show the progress
    tick.start(50);
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> dialog;
    while (!done.load()) {
        if (!dialog && clock.elapsed() >= showAfter.count()) {
            dialog =
                std::make_unique<QProgressDialog>(text, QStringLiteral("取消"), 0, 1000, parent);
            dialog->setWindowTitle(QCoreApplication::applicationName());
            dialog->setWindowModality(Qt::WindowModal);
            dialog->setMinimumDuration(0);
            dialog->setAutoClose(false);
            dialog->setAutoReset(false);
            dialog->show();
        }
        if (dialog) {
            dialog->setValue(progress.permille.load());
            if (dialog->wasCanceled()) progress.cancelled = true;
        }
        // Before the dialog shows, clicks and keys wait rather than reach a
        // window whose document is being replaced.
        QCoreApplication::processEvents(dialog ? QEventLoop::WaitForMoreEvents
                                               : QEventLoop::WaitForMoreEvents |
                                                     QEventLoop::ExcludeUserInputEvents);
    }
    worker.join();
}

}  // namespace qt_adapters
