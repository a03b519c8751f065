#pragma once
// The updater's one window, "TarselUFCS升级程序": a line of text while the
// program is closed, swapped and restarted off the window's thread; it closes
// itself after a good upgrade and stays open to tell a failed one.

#include <QDialog>
#include <filesystem>
#include <thread>

#include "qt/qt_event_loop.h"
#include "updater/update_run.h"

class QLabel;

namespace updater {

class UpdaterWindow final : public QDialog {
    Q_OBJECT
  public:
    UpdaterWindow(const UpdateRow& row, std::filesystem::path folder, UpdateHooks hooks);
    ~UpdaterWindow() override;

    void start();
    QString text() const;
    bool finished() const { return finished_; }

  signals:
    void upgradeEnded(bool upgraded);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void showAbout();

    const UpdateRow& row_;
    std::filesystem::path folder_;
    UpdateHooks hooks_;
    common::SystemClock clock_;
    QLabel* label_ = nullptr;
    // The run's texts reach the window's thread through this loop's own queue,
    // an ordering ThreadSanitizer can see.
    qt_adapters::QtEventLoop fromWorker_{this};
    std::thread worker_;
    bool finished_ = false;
};

}  // namespace updater
