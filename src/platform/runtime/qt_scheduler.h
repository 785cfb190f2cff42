#pragma once

#include "platform/runtime/dispatch.h"
#include "platform/runtime/shared_ticks.h"

#include <QObject>
#include <QPointer>

#include <mutex>

namespace platform {

class TimerHost;

// The real main queue: Qt's event loop on the thread that created the QApplication. Repeating
// timers of one interval started together share one tick (SharedTicks). Timers on the main thread
// are plain timer ids on one object: firing, stopping or replacing one posts nothing, so none
// costs the event loop a pass of its own.
class QtScheduler final : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;

    Clock::time_point wallNow() const override;
    int64_t monotonicMicros() const override;
    WorkItem post(std::function<void()> fn) override;
    WorkItem after(double seconds, std::function<void()> fn) override;
    RepeatingTimer every(double interval, std::function<void()> fn) override;
    int64_t periodMicros(double interval) const override;
    void global(std::function<void()> fn) override;

private:
    TimerHost* context();
    RepeatingTimer rawEvery(double interval, std::function<void()> fn);
    std::mutex contextMutex_;  // post() may come from any thread, the first one included
    QPointer<TimerHost> context_;
    SharedTicks ticks_;
};

}  // namespace platform
