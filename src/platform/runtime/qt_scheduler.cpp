#include "platform/runtime/qt_scheduler.h"

#include <QCoreApplication>
#include <QThread>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>

namespace platform {

namespace {
int toMilliseconds(double seconds) {
    if (!(seconds > 0)) return 0;  // also catches NaN
    return static_cast<int>(std::min(std::ceil(seconds * 1000.0), 2147483647.0));
}
}  // namespace

// Runs the scheduler's timers by id. A QTimer per step would have to be deleted later (it is
// inside its own signal when it fires), and each such deletion is an event the loop wakes for.
class TimerHost final : public QObject {
public:
    // Ids are reused once a timer is killed: a handle names its timer by id and serial.
    struct Handle {
        int id = 0;
        uint64_t serial = 0;
    };

    Handle start(int milliseconds, bool repeating, std::function<void()> fn) {
        const int id = startTimer(milliseconds, Qt::PreciseTimer);
        if (id == 0) return {};
        const uint64_t serial = ++lastSerial_;
        timers_[id] = Entry{serial, repeating, std::make_shared<std::function<void()>>(std::move(fn))};
        return {id, serial};
    }

    void stop(Handle handle) {
        const auto it = timers_.find(handle.id);
        if (it == timers_.end() || it->second.serial != handle.serial) return;
        killTimer(handle.id);
        timers_.erase(it);
    }

protected:
    void timerEvent(QTimerEvent* event) override {
        const auto it = timers_.find(event->timerId());
        if (it == timers_.end()) return;
        // Kept alive through the call: a repeating timer's function may stop its own timer.
        const std::shared_ptr<std::function<void()>> fn = it->second.fn;
        if (!it->second.repeating) {
            killTimer(it->first);
            timers_.erase(it);
        }
        (*fn)();
    }

private:
    struct Entry {
        uint64_t serial;
        bool repeating;
        std::shared_ptr<std::function<void()>> fn;
    };
    std::unordered_map<int, Entry> timers_;
    uint64_t lastSerial_ = 0;
};

QtScheduler::QtScheduler()
    : ticks_([this] { return monotonicMicros(); },
             [this](double interval, std::function<void()> fn) { return rawEvery(interval, std::move(fn)); }) {}
QtScheduler::~QtScheduler() {
    // Steps and timers still pending die with their scheduler rather than run after it.
    if (!context_) return;
    if (context_->thread() == QThread::currentThread()) {
        delete context_.data();
    } else {
        context_->deleteLater();
    }
}

TimerHost* QtScheduler::context() {
    // Created lazily so the scheduler can exist before the application object; it lives on the
    // application's (main) thread, which makes queued calls from worker threads land there.
    std::lock_guard lock(contextMutex_);
    if (!context_) {
        auto* context = new TimerHost;
        context_ = context;
        if (auto* app = QCoreApplication::instance()) {
            context->moveToThread(app->thread());
            // Parenting touches the application's child list, which only its thread may do.
            if (QThread::currentThread() == app->thread()) {
                context->setParent(app);
            } else {
                const QPointer<QObject> weak(context);
                QMetaObject::invokeMethod(
                    app, [app, weak] { if (weak) weak->setParent(app); }, Qt::QueuedConnection);
            }
        }
    }
    return context_;
}

Scheduler::Clock::time_point QtScheduler::wallNow() const { return Clock::now(); }

int64_t QtScheduler::monotonicMicros() const {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

WorkItem QtScheduler::post(std::function<void()> fn) {
    auto state = std::make_shared<WorkItem::State>();
    QMetaObject::invokeMethod(
        context(),
        [state, fn = std::move(fn)] {
            if (state->cancelled) return;
            state->done = true;
            fn();
        },
        Qt::QueuedConnection);
    return WorkItem(state);
}

WorkItem QtScheduler::after(double seconds, std::function<void()> fn) {
    auto state = std::make_shared<WorkItem::State>();
    TimerHost* owner = context();
    auto run = [state, fn = std::move(fn)] {
        if (state->cancelled) return;
        state->done = true;
        fn();
    };
    if (QThread::currentThread() != owner->thread()) {
        // Qt starts the timer on the owner's thread; a cancel from here only mutes it.
        QTimer::singleShot(toMilliseconds(seconds), Qt::PreciseTimer, owner, std::move(run));
        return WorkItem(state);
    }
    const TimerHost::Handle handle = owner->start(toMilliseconds(seconds), false, std::move(run));
    // A cancel on the timer's thread stops it, so a step given up (an animation's end notice
    // replaced by the next) never wakes the thread.
    state->onCancel = [weak = QPointer<TimerHost>(owner), handle] {
        if (weak && QThread::currentThread() == weak->thread()) weak->stop(handle);
    };
    return WorkItem(state);
}

RepeatingTimer QtScheduler::every(double interval, std::function<void()> fn) { return ticks_.every(interval, std::move(fn)); }

int64_t QtScheduler::periodMicros(double interval) const {
    // Timers keep whole milliseconds.
    return std::max<int64_t>(1, toMilliseconds(interval)) * 1000;
}

RepeatingTimer QtScheduler::rawEvery(double interval, std::function<void()> fn) {
    const QPointer<TimerHost> owner = context();
    const TimerHost::Handle handle = owner->start(toMilliseconds(interval), true, std::move(fn));
    return RepeatingTimer([owner, handle] {
        if (owner) owner->stop(handle);
    });
}

void QtScheduler::global(std::function<void()> fn) { QThreadPool::globalInstance()->start(std::move(fn)); }

}  // namespace platform
