#pragma once

// What the expanded notch views bind to. Every member defaults to the process-wide one, so the
// container creates the views with no arguments; tests hand in their own.

#include "core/event_bus.h"
#include "notch/expanded_dismiss_handshake.h"
#include "notch/player_media.h"
#include "platform/runtime/dispatch.h"
#include "platform/screens/screens.h"
#include "platform/storage/defaults.h"
#include "platform/workspace/workspace.h"

#include <QLocale>
#include <QTimeZone>

#include <functional>

struct NotchViewServices {
    EventBus& bus = EventBus::shared();
    platform::Scheduler& scheduler = platform::Scheduler::shared();
    platform::Defaults& defaults = platform::Defaults::standard();
    platform::Screens& screens = platform::Screens::shared();
    platform::Workspace& workspace = platform::Workspace::shared();
    PlayerMedia& media = PlayerMedia::shared();
    ExpandedDismissHandshake& dismissHandshake = ExpandedDismissHandshake::shared();
    // The user's locale and time zone, read at each use; empty: the system's.
    std::function<QLocale()> locale;
    std::function<QTimeZone()> timeZone;
};
