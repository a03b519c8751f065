#include "qt/qt_event_loop.h"

#include <QCoreApplication>
#include <QEvent>

namespace qt_adapters {

// Lives on the context's thread; each of its events runs what was posted.
class QtEventLoop::Drainer final : public QObject {
  public:
    Drainer(QtEventLoop& loop, QObject* context) : loop_(loop) { moveToThread(context->thread()); }
    bool event(QEvent* event) override {
        if (event->type() != QEvent::User) return QObject::event(event);
        loop_.runPosted();
        return true;
    }

  private:
    QtEventLoop& loop_;
};

QtEventLoop::QtEventLoop(QObject* context)
    : context_(context), drainer_(std::make_unique<Drainer>(*this, context)) {}

QtEventLoop::~QtEventLoop() = default;

void QtEventLoop::post(std::function<void()> task) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        wake = posted_.empty();  // one wake-up runs everything queued behind it
        posted_.push_back(std::move(task));
    }
    if (wake) QCoreApplication::postEvent(drainer_.get(), new QEvent(QEvent::User));
}

void QtEventLoop::runPosted() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(posted_);
    }
    for (auto& task : batch)
        task();
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
