#pragma once

#include "platform/runtime/dispatch.h"

#include <QDateTime>

// The model keeps its dates as QDateTime; "now" still comes from the scheduler so tests control it.
QDateTime toDateTime(platform::Scheduler::Clock::time_point instant);
QDateTime wallClockNow(platform::Scheduler& scheduler = platform::Scheduler::shared());
