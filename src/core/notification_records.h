#pragma once

// What a detector hands to the overlay, and what the overlay shows. Both records are plain values
// that are only forwarded, never compared: neither has an equality.

#include "core/enum_cases.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

// How sure a detector is that it saw a real notification, weakest first.
enum class SignalConfidence { weak, normal, strong };

template <>
struct EnumCases<SignalConfidence> {
    static constexpr bool hasRawValue = true;
    static constexpr std::array<std::pair<SignalConfidence, const char*>, 3> table{{
        {SignalConfidence::weak, "weak"},
        {SignalConfidence::normal, "normal"},
        {SignalConfidence::strong, "strong"},
    }};
};

// One detected notification. Creators supply every field (a fresh id, the current time).
struct NotificationSignal {
    QUuid id;
    QDateTime timestamp;
    SignalConfidence confidence;
    std::optional<QString> sourceHint;    // display name of the posting application
    std::optional<QString> message;       // the text to show
    std::optional<QByteArray> appIconData;  // icon image bytes of the posting application
    std::optional<QString> bundleId;
    bool isCallAlert;
};

// Presentation of the overlay's current content; ordinals 0, 1, 2.
enum class IslandMode { peek, expanded, stacked };

template <>
struct EnumCases<IslandMode> {
    static constexpr bool hasRawValue = false;
    static constexpr std::array<std::pair<IslandMode, const char*>, 3> table{{
        {IslandMode::peek, "peek"},
        {IslandMode::expanded, "expanded"},
        {IslandMode::stacked, "stacked"},
    }};
};

// What the overlay shows at this moment.
struct OverlayState {
    bool isVisible;
    IslandMode mode;
    int count;              // notifications taken in since the overlay last came up from hidden
    QDateTime lastUpdated;  // the auto-hide check measures from here
    std::optional<QString> message;
    std::optional<QString> sourceHint;
    std::optional<QByteArray> appIconData;
    std::optional<QString> bundleId;
};
