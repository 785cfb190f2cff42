#pragma once

#include "platform/runtime/dispatch.h"
#include "platform/runtime/shared_ticks.h"

#include <QObject>
#include <QPointer>

#include <mutex>

namespace platform {

// The real main queue: Qt's event loop on the thread that created the QApplication. Repeating
// timers of one interval started together share one tick (SharedTicks).
class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    Clock::time_point wallNow() const override;
    int64_t monotonicMicros() const override;
    WorkItem post(std::function<void()> fn) override;
    WorkItem after(double seconds, std::function<void()> fn) override;
    RepeatingTimer every(double interval, std::function<void()> fn) override;
    void global(std::function<void()> fn) override;

private:
    QObject* context();
    RepeatingTimer rawEvery(double interval, std::function<void()> fn);
    std::mutex contextMutex_;  // post() may come from any thread, the first one included
    QPointer<QObject> context_;
    SharedTicks ticks_;
};

}  // namespace platform
