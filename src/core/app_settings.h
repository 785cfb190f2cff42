#pragma once

// The one place that names every user-defaults key, with typed accessors. Nothing is cached: each
// getter reads the defaults afresh, so a change is seen by the next read. The store sends no change
// notice of its own; watch Defaults::didChange() for that. Writers (the settings window, the
// updater) write the defaults under these keys directly; only the last check time has a setter.

#include "core/settings_enums.h"
#include "core/system_event_records.h"
#include "platform/storage/defaults.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

class AppSettings {
public:
    static AppSettings& shared();

    // nullptr reads the standard defaults, looked up at each use (so a test's swap is honoured).
    explicit AppSettings(platform::Defaults* defaults = nullptr);

    static inline const QString styleKey = QStringLiteral("overlayStyle");
    static inline const QString tintKey = QStringLiteral("overlayTint");
    static inline const QString displayTimeoutKey = QStringLiteral("overlayDisplayTimeout");
    static inline const QString detectionSourceKey = QStringLiteral("notificationDetectionSource");
    static inline const QString showAppNameKey = QStringLiteral("showAppNameInNotification");
    static inline const QString notificationDisplayScreenKey = QStringLiteral("notificationDisplayScreen");
    static inline const QString enableNotchFeaturesKey = QStringLiteral("enableNotchFeatures");
    static inline const QString showMiniPlayerWhenPlayingKey = QStringLiteral("showMiniPlayerWhenPlaying");
    static inline const QString musicAppPathKey = QStringLiteral("musicAppPath");
    static inline const QString musicNowPlayingSourceKey = QStringLiteral("musicNowPlayingSource");
    static inline const QString musicNotchColorModeKey = QStringLiteral("musicNotchColorMode");
    static inline const QString dynamicIslandCornerRadiusKey = QStringLiteral("dynamicIslandCornerRadius");
    static inline const QString enableGlanceKey = QStringLiteral("enableGlance");
    static inline const QString glanceAutoShowKey = QStringLiteral("glanceAutoShow");
    static inline const QString showCalendarKey = QStringLiteral("showCalendar");
    static inline const QString showWeatherKey = QStringLiteral("showWeather");
    static inline const QString enableMusicHotkeysKey = QStringLiteral("enableMusicHotkeys");
    static inline const QString enableDropKey = QStringLiteral("enableDrop");
    static inline const QString enableSwitcherKey = QStringLiteral("enableSwitcher");
    static inline const QString automaticUpdateChecksKey = QStringLiteral("automaticUpdateChecks");
    static inline const QString updateFeedURLKey = QStringLiteral("updateFeedURL");
    static inline const QString updateCheckIntervalHoursKey = QStringLiteral("updateCheckIntervalHours");
    static inline const QString lastUpdateCheckAtKey = QStringLiteral("lastUpdateCheckAt");
    static inline const QString lastPromptedUpdateVersionKey = QStringLiteral("lastPromptedUpdateVersion");
    // Prefix of the per-activity switches; the rest of the key is liveActivityKey(for:).
    static inline const QString laPrefix = QStringLiteral("liveActivity_");

    // Where updates are looked for when no feed address is configured.
    static inline const QString builtInUpdateFeedURL = QStringLiteral("https://quillvex.varnock.com/updates/latest.json");

    // Defaults of the numeric settings and their clamps.
    static constexpr double defaultDisplayTimeout = 2.0;
    static constexpr double minDisplayTimeout = 0.1;
    static constexpr double maxDisplayTimeout = 60.0;
    static constexpr double defaultCornerRadius = 16.0;
    static constexpr double minCornerRadius = 8.0;
    static constexpr double maxCornerRadius = 24.0;
    static constexpr int64_t defaultUpdateCheckIntervalHours = 12;

    // Booleans: the stored value's Boolean reading, or the default (true; false for
    // enableMusicHotkeys) when nothing is stored.
    bool enableNotchFeatures() const;
    bool enableGlance() const;
    bool showCalendar() const;
    bool showWeather() const;
    bool enableSwitcher() const;
    bool showMiniPlayerWhenPlaying() const;
    bool enableMusicHotkeys() const;
    bool enableDrop() const;
    bool automaticUpdateChecks() const;
    bool showAppNameInNotification() const;

    // Text-valued choices: exact raw text, anything else gives the fallback.
    OverlayStyle overlayStyle() const;  // splitPill
    OverlayTint overlayTint() const;  // black
    NotificationDetectionSource notificationDetectionSource() const;  // database
    NotificationDisplayScreen notificationDisplayScreen() const;  // main
    // appleScript; the older stored "mediaRemoteExperimental" reads as controlCenter.
    MusicNowPlayingSource musicNowPlayingSource() const;
    MusicNotchColorMode musicNotchColorMode() const;  // black

    // Seconds: a stored value above 0, else 2.0, clamped to 0.1 ... 60.
    double overlayDisplayTimeout() const;
    // Points: a stored value above 0, else 16, clamped to 8 ... 24.
    double dynamicIslandCornerRadius() const;

    // Trimmed of white space and line breaks; the built-in address when nothing is left.
    QString updateFeedURL() const;
    // Hours: a stored value above 0, else 12.
    int64_t updateCheckIntervalHours() const;
    // A stored date, else nothing (a value of another kind reads as absent); none removes it.
    std::optional<QDateTime> lastUpdateCheckAt() const;
    void setLastUpdateCheckAt(const std::optional<QDateTime>& date) const;

    // The case name of the type ("screenUnlock"); the full key is laPrefix + this.
    static QString liveActivityKey(LiveActivityType type);
    bool isLiveActivityEnabled(LiveActivityType type) const;  // true when never written

private:
    platform::Defaults& defaults() const;
    bool boolSetting(const QString& key, bool fallback) const;

    platform::Defaults* defaults_;
};
