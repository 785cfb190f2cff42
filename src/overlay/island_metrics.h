#pragma once

// The one size table of the overlay: how large the drawn overlay is for each style and mode, and
// the panel size that holds it with a fixed margin. The overlay view, its styles and the window
// controller all measure with it, so the panel always fits what is drawn.

#include "core/notification_records.h"
#include "core/settings_enums.h"

#include <QSizeF>

struct IslandMetrics {
    // In `splitPill` the width of each of the two pills; otherwise the width of the one shape.
    double pillWidth = 0;
    // The space between the two split pills (0 in the other styles).
    double gap = 0;
    double height = 0;
    double totalWidth = 0;

    // Margin in points between the drawn content and the panel's edge, on every side.
    static constexpr double renderPadding = 3.0;

    // Pure: only the state's mode is read. `showAppName` changes the height of the sheet and glass
    // styles only.
    static IslandMetrics metrics(const OverlayState& state, OverlayStyle style, bool showAppName);
    static IslandMetrics metrics(IslandMode mode, OverlayStyle style, bool showAppName);

    // The panel size for a state: a hidden state is measured as a fresh one (peek), and always
    // with the app-name line, whatever the user's setting, so the panel has room for it.
    static QSizeF panelSize(const OverlayState& state, OverlayStyle style);

    friend bool operator==(const IslandMetrics&, const IslandMetrics&) = default;
};
