#pragma once

#include <QIcon>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform {

// How an application presents itself: `regular` ones have ordinary windows the desktop lists,
// `accessory` ones only tool or taskbar-skipped windows, `prohibited` ones no window at all.
enum class ActivationPolicy { regular, accessory, prohibited };

// A handle on an application that is running now, as the workspace reports it.
struct RunningApplication {
    qint64 processIdentifier = 0;
    std::optional<QString> bundleIdentifier;
    std::optional<QString> localizedName;
    std::optional<QIcon> icon;
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
};

}  // namespace platform
