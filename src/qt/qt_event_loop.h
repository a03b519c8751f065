#pragma once
// The core's event loop on a Qt thread: posted work runs queued on the
// context object's thread, timers are QTimers.

#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "common/event_loop.h"

namespace qt_adapters {

class QtEventLoop final : public common::EventLoop {
  public:
    explicit QtEventLoop(QObject* context);
    ~QtEventLoop() override;

    void post(std::function<void()> task) override;
    common::TimerId startTimer(std::chrono::milliseconds period,
                               std::function<void()> tick) override;
    void stopTimer(common::TimerId id) override;

  private:
    class Drainer;
    void runPosted();

    QObject* context_;
    // Posted tasks wait here, under our own lock, so the hand-over between
    // threads is plain to see (ThreadSanitizer cannot see inside Qt); a Qt
    // event only wakes the context's thread to run them.
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    std::unique_ptr<Drainer> drainer_;
    std::map<common::TimerId, std::unique_ptr<QTimer>> timers_;
    common::TimerId nextTimer_ = 1;
};

}  // namespace qt_adapters
