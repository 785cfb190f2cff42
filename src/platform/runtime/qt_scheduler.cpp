#include "platform/runtime/qt_scheduler.h"

#include <QCoreApplication>
#include <QThread>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include <cmath>

namespace platform {

namespace {
int toMilliseconds(double seconds) {
    if (!(seconds > 0)) return 0;  // also catches NaN
    return static_cast<int>(std::min(std::ceil(seconds * 1000.0), 2147483647.0));
}
}  // namespace

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

QObject* QtScheduler::context() {
    // Created lazily so the scheduler can exist before the application object; it lives on the
    // application's (main) thread, which makes queued calls from worker threads land there.
    std::lock_guard lock(contextMutex_);
    if (!context_) {
        auto* context = new QObject;
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
    QObject* owner = context();
    if (QThread::currentThread() != owner->thread()) {
        // Qt starts the timer on the owner's thread; a cancel from here only mutes it.
        QTimer::singleShot(toMilliseconds(seconds), Qt::PreciseTimer, owner, [state, fn = std::move(fn)] {
            if (state->cancelled) return;
            state->done = true;
            fn();
        });
        return WorkItem(state);
    }
    auto* timer = new QTimer(owner);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, state, fn = std::move(fn)] {
        timer->deleteLater();
        if (state->cancelled) return;
        state->done = true;
        fn();
    });
    // A cancel on the timer's thread stops it, so a step given up (an animation's end notice
    // replaced by the next) never wakes the thread.
    state->onCancel = [thread = owner->thread(), weak = QPointer<QTimer>(timer)] {
        if (QThread::currentThread() != thread || !weak) return;
        weak->stop();
        weak->deleteLater();
    };
    timer->start(toMilliseconds(seconds));
    return WorkItem(state);
}

RepeatingTimer QtScheduler::every(double interval, std::function<void()> fn) { return ticks_.every(interval, std::move(fn)); }

RepeatingTimer QtScheduler::rawEvery(double interval, std::function<void()> fn) {
    QPointer<QTimer> timer = new QTimer(context());
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(toMilliseconds(interval));
    QObject::connect(timer, &QTimer::timeout, timer, std::move(fn));
    timer->start();
    return RepeatingTimer([timer] {
        if (!timer) return;
        timer->stop();
        timer->deleteLater();
    });
}

void QtScheduler::global(std::function<void()> fn) { QThreadPool::globalInstance()->start(std::move(fn)); }

}  // namespace platform
