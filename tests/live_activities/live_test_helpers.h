#pragma once

// Shared by the live-activity service tests.

#include "core/enum_cases.h"
#include "core/event_bus.h"
#include "support/virtual_scheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <optional>
#include <string>

namespace testsupport {

// Real daemons answer in real time: pump the Qt loop and run what was queued on `scheduler` (its
// time standing still) until `done`, for at most `limitMs`.
inline bool pumpUntil(platform::VirtualScheduler& scheduler, const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        scheduler.drain();
    }
    return done();
}

// A live-activity request as the tests compare it: the type's name, or "none" for an end request.
inline std::string requestName(const std::optional<LiveActivityType>& type) {
    return type ? caseName(*type).toStdString() : std::string("none");
}

}  // namespace testsupport
