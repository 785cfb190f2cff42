#include "core/app_settings.h"

#include <algorithm>

namespace {

const QString kLegacyControlCenterSource = QStringLiteral("mediaRemoteExperimental");

// A stored value above 0, else the fallback; then kept within [lo, hi]. NaN is not above 0.
double positiveClamped(std::optional<double> stored, double fallback, double lo, double hi) {
    const double value = (stored && *stored > 0) ? *stored : fallback;
    return std::clamp(value, lo, hi);
}

template <class E>
E parsedOr(const platform::Defaults& defaults, const QString& key, E fallback) {
    const auto text = defaults.stringValue(key);
    if (!text) return fallback;
    return fromRawValue<E>(*text).value_or(fallback);
}

}  // namespace

AppSettings& AppSettings::shared() {
    static AppSettings instance;
    return instance;
}

AppSettings::AppSettings(platform::Defaults* defaults) : defaults_(defaults) {}

platform::Defaults& AppSettings::defaults() const { return defaults_ ? *defaults_ : platform::Defaults::standard(); }

bool AppSettings::boolSetting(const QString& key, bool fallback) const {
    // Only an absent key reads as the default: a stored value that is no Boolean reads false.
    return defaults().boolValue(key).value_or(fallback);
}

bool AppSettings::enableNotchFeatures() const { return boolSetting(enableNotchFeaturesKey, true); }
bool AppSettings::enableGlance() const { return boolSetting(enableGlanceKey, true); }
bool AppSettings::showCalendar() const { return boolSetting(showCalendarKey, true); }
bool AppSettings::showWeather() const { return boolSetting(showWeatherKey, true); }
bool AppSettings::enableSwitcher() const { return boolSetting(enableSwitcherKey, true); }
bool AppSettings::showMiniPlayerWhenPlaying() const { return boolSetting(showMiniPlayerWhenPlayingKey, true); }
bool AppSettings::enableMusicHotkeys() const { return boolSetting(enableMusicHotkeysKey, false); }
bool AppSettings::enableDrop() const { return boolSetting(enableDropKey, true); }
bool AppSettings::automaticUpdateChecks() const { return boolSetting(automaticUpdateChecksKey, true); }
bool AppSettings::showAppNameInNotification() const { return boolSetting(showAppNameKey, true); }

OverlayStyle AppSettings::overlayStyle() const { return parsedOr(defaults(), styleKey, OverlayStyle::splitPill); }

OverlayTint AppSettings::overlayTint() const { return parsedOr(defaults(), tintKey, OverlayTint::black); }

NotificationDetectionSource AppSettings::notificationDetectionSource() const {
    return parsedOr(defaults(), detectionSourceKey, NotificationDetectionSource::database);
}

NotificationDisplayScreen AppSettings::notificationDisplayScreen() const {
    return parsedOr(defaults(), notificationDisplayScreenKey, NotificationDisplayScreen::main);
}

MusicNowPlayingSource AppSettings::musicNowPlayingSource() const {
    const auto text = defaults().stringValue(musicNowPlayingSourceKey);
    if (!text) return MusicNowPlayingSource::appleScript;
    // Earlier versions stored the system source under this name.
    if (*text == kLegacyControlCenterSource) return MusicNowPlayingSource::controlCenter;
    return fromRawValue<MusicNowPlayingSource>(*text).value_or(MusicNowPlayingSource::appleScript);
}

MusicNotchColorMode AppSettings::musicNotchColorMode() const {
    return parsedOr(defaults(), musicNotchColorModeKey, MusicNotchColorMode::black);
}

double AppSettings::overlayDisplayTimeout() const {
    return positiveClamped(defaults().doubleValue(displayTimeoutKey), defaultDisplayTimeout, minDisplayTimeout,
                           maxDisplayTimeout);
}

double AppSettings::dynamicIslandCornerRadius() const {
    return positiveClamped(defaults().doubleValue(dynamicIslandCornerRadiusKey), defaultCornerRadius, minCornerRadius,
                           maxCornerRadius);
}

QString AppSettings::updateFeedURL() const {
    const QString trimmed = defaults().stringValue(updateFeedURLKey).value_or(QString()).trimmed();
    return trimmed.isEmpty() ? builtInUpdateFeedURL : trimmed;
}

int64_t AppSettings::updateCheckIntervalHours() const {
    const auto stored = defaults().integerValue(updateCheckIntervalHoursKey);
    return (stored && *stored > 0) ? *stored : defaultUpdateCheckIntervalHours;
}

std::optional<QDateTime> AppSettings::lastUpdateCheckAt() const {
    // Only a stored date counts; a text that looks like one still reads as absent.
    return defaults().dateValue(lastUpdateCheckAtKey);
}

void AppSettings::setLastUpdateCheckAt(const std::optional<QDateTime>& date) const {
    if (date) {
        defaults().set(lastUpdateCheckAtKey, *date);
    } else {
        defaults().remove(lastUpdateCheckAtKey);
    }
}

QString AppSettings::liveActivityKey(LiveActivityType type) { return caseName(type); }

bool AppSettings::isLiveActivityEnabled(LiveActivityType type) const {
    return boolSetting(laPrefix + liveActivityKey(type), true);
}
