#pragma once
// The core's event loop on a Qt thread: posted work runs queued on the
// context object's thread, timers are QTimers.

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

#include "common/event_loop.h"

namespace qt_adapters {

class QtEventLoop final : public common::EventLoop {
  public:
    explicit QtEventLoop(QObject* context) : context_(context) {}

    void post(std::function<void()> task) override;
    common::TimerId startTimer(std::chrono::milliseconds period,
                               std::function<void()> tick) override;
    void stopTimer(common::TimerId id) override;

  private:
    QObject* context_;
    std::map<common::TimerId, std::unique_ptr<QTimer>> timers_;
    common::TimerId nextTimer_ = 1;
};

}  // namespace qt_adapters
