#pragma once

// What the notch shows, the track that feeds it, and its lyrics.

#include "core/system_event_records.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>

// What the notch window shows. `liveActivity` carries the type of the activity; the other cases
// carry nothing. Equal when the case and, for a live activity, the type are equal.
class NotchMode {
public:
    enum class Kind { liveActivity, idle, miniPlayer, expanded, notification, glance, drop, switcher };

    constexpr NotchMode() = default;  // idle

    static constexpr NotchMode liveActivity(LiveActivityType type) { return NotchMode(Kind::liveActivity, type); }
    static const NotchMode idle;
    static const NotchMode miniPlayer;
    static const NotchMode expanded;
    static const NotchMode notification;
    static const NotchMode glance;
    static const NotchMode drop;
    static const NotchMode switcher;

    constexpr Kind kind() const { return kind_; }
    constexpr bool isLiveActivity() const { return kind_ == Kind::liveActivity; }
    // The carried type; present only for a live activity.
    constexpr std::optional<LiveActivityType> activityType() const { return activity_; }

    // As logs print it: the case name, a live activity with its type in parentheses
    // ("liveActivity(volume)").
    QString description() const;

    friend constexpr bool operator==(const NotchMode&, const NotchMode&) = default;

private:
    constexpr explicit NotchMode(Kind kind, std::optional<LiveActivityType> activity = std::nullopt)
        : kind_(kind), activity_(activity) {}

    Kind kind_ = Kind::idle;
    std::optional<LiveActivityType> activity_;
};

inline constexpr NotchMode NotchMode::idle{Kind::idle};
inline constexpr NotchMode NotchMode::miniPlayer{Kind::miniPlayer};
inline constexpr NotchMode NotchMode::expanded{Kind::expanded};
inline constexpr NotchMode NotchMode::notification{Kind::notification};
inline constexpr NotchMode NotchMode::glance{Kind::glance};
inline constexpr NotchMode NotchMode::drop{Kind::drop};
inline constexpr NotchMode NotchMode::switcher{Kind::switcher};

template <>
struct EnumCases<NotchMode::Kind> {
    static constexpr bool hasRawValue = false;
    static constexpr std::array<std::pair<NotchMode::Kind, const char*>, 8> table{{
        {NotchMode::Kind::liveActivity, "liveActivity"},
        {NotchMode::Kind::idle, "idle"},
        {NotchMode::Kind::miniPlayer, "miniPlayer"},
        {NotchMode::Kind::expanded, "expanded"},
        {NotchMode::Kind::notification, "notification"},
        {NotchMode::Kind::glance, "glance"},
        {NotchMode::Kind::drop, "drop"},
        {NotchMode::Kind::switcher, "switcher"},
    }};
};

// The current track.
struct NowPlayingInfo {
    std::optional<QString> title;
    std::optional<QString> artist;
    std::optional<QString> album;
    std::optional<QImage> artwork;
    std::optional<double> duration;     // seconds
    std::optional<double> elapsedTime;  // seconds
    double playbackRate = 0;            // 0 when paused or stopped, above 0 while playing
    std::optional<QString> bundleIdentifier;

    // Position and length are not compared, and artwork only by presence and size, so a
    // track that merely advances is the same track.
    friend bool operator==(const NowPlayingInfo& a, const NowPlayingInfo& b);
};

struct NotchDisplayState {
    NotchMode mode;
    bool isHovering = false;
    std::optional<NowPlayingInfo> nowPlaying;
    std::optional<NotchMode> previousMode;  // what showed before the current notification took over

    friend bool operator==(const NotchDisplayState&, const NotchDisplayState&) = default;
};

struct LyricsInfo {
    QString fullText;
    QStringList lines;
    std::optional<int> currentLineIndex;  // index into lines of the line being sung

    friend bool operator==(const LyricsInfo&, const LyricsInfo&) = default;
};
