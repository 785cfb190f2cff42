#pragma once

#include "platform/shell/application.h"

#include <QIcon>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform {

// A handle on an application that is running now, as the workspace reports it.
struct RunningApplication {
    qint64 processIdentifier = 0;
    std::optional<QString> bundleIdentifier;
    std::optional<QString> localizedName;
    std::optional<QIcon> icon;
    // Regular: it has ordinary windows the desktop lists; accessory: only tool or
    // taskbar-skipped windows, or none.
    ActivationPolicy activationPolicy = ActivationPolicy::Regular;
};

}  // namespace platform
