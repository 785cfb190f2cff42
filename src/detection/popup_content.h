#pragma once

#include "detection/ax_tree_snapshot.h"

#include <QString>

#include <optional>

// What a notification popup shows, read alike on every "ui" road: its title and the first other
// text, joined as the overlay splits them ("title • text"), and the name picked as the posting
// application's unless that name is only the popup's title or text.
struct PopupContent {
    std::optional<QString> message;
    std::optional<QString> appName;

    static PopupContent of(const AXTreeSnapshot& snapshot);
};
