#pragma once

#include "platform/accessibility/accessibility.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace platform {
class Scheduler;
class Workspace;
}  // namespace platform

// One reading of what the notification-showing process displays, taken through the
// accessibility interface by a bounded breadth-first walk of its tree.
struct AXTreeSnapshot {
    int64_t notificationCount = 0;
    QDateTime timestamp;
    std::optional<QString> message;  // the first kept text, as read
    std::optional<QString> appName;
    std::optional<QByteArray> appIconData;  // PNG
    std::optional<QString> bundleId;
    int64_t signature = 0;  // compares only within one run
    // The kept texts in the order the message is chosen from: those inside notification
    // containers, then the others (a popup's title, then its body).
    QStringList texts;
    // The windows the reading started from, as the process lists them; empty when it has none
    // and the reading started from the process itself.
    platform::AXElementList windows;

    // Where a reading comes from; the shared platform ports unless a test passes others.
    struct Sources {
        platform::Accessibility& accessibility;
        platform::Workspace& workspace;
        platform::Scheduler& scheduler;
        static Sources shared();
    };

    // A reading now, or none without accessibility trust or without a notification process.
    static std::optional<AXTreeSnapshot> take();
    static std::optional<AXTreeSnapshot> take(const Sources& sources);
    // A reading of the given elements of one process only (a popup that just appeared).
    static std::optional<AXTreeSnapshot> take(const Sources& sources, const platform::AXElementList& roots);
    // The application element of the process that shows notifications, or none.
    static std::optional<platform::AXElement> notificationCenterAppElement(const Sources& sources);

    // The walk's bounds: entries taken from the queue, depth below a root, texts kept per list.
    static constexpr int maxEntries = 2000;
    static constexpr int maxDepth = 12;
    static constexpr int maxTextsPerList = 40;
};
