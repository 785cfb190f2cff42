#include "platform/calendar/calendar_store.h"

#include "platform/calendar/eds_calendar_store.h"

namespace platform {

namespace {
CalendarStore* installed = nullptr;
}

CalendarStore& CalendarStore::shared() {
    if (installed) return *installed;
    static EdsCalendarStore desktop;
    return desktop;
}

CalendarStore* CalendarStore::setShared(CalendarStore* store) { return std::exchange(installed, store); }

}  // namespace platform
