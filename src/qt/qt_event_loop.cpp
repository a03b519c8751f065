#include "qt/qt_event_loop.h"

namespace qt_adapters {

void QtEventLoop::post(std::function<void()> task) {
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

common::TimerId QtEventLoop::startTimer(std::chrono::milliseconds period,
                                        std::function<void()> tick) {
    const common::TimerId id = nextTimer_++;
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(period);
    QObject::connect(timer.get(), &QTimer::timeout, context_, std::move(tick));
    timer->start();
    timers_[id] = std::move(timer);
    return id;
}

void QtEventLoop::stopTimer(common::TimerId id) {
    timers_.erase(id);
}

}  // namespace qt_adapters
