#pragma once

#include "platform/runtime/dispatch.h"

#include <QObject>
#include <QPointer>

#include <mutex>

namespace platform {

// The real main queue: Qt's event loop on the thread that created the QApplication.
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
    std::mutex contextMutex_;  // post() may come from any thread, the first one included
    QPointer<QObject> context_;
};

}  // namespace platform
