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

void setOptionalText(platform::Defaults& defaults, const QString& key, const std::optional<QString>& text) {
    if (text) {
        defaults.set(key, *text);
    } else {
        defaults.remove(key);
    }
}

}  // namespace

AppSettings& AppSettings::shared() {
    static AppSettings instance;
    return instance;
}

AppSettings::AppSettings(platform::Defaults* defaults) : defaults_(defaults) {}

platform::Defaults& AppSettings::defaults() const { return defaults_ ? *defaults_ : platform::Defaults::standard(); }

bool AppSettings::boolSetting(const QString& key, bool fallback) const {
    const auto& store = defaults();
    if (!store.contains(key)) return fallback;
    // Something is stored: its Boolean reading decides, and a value that cannot be read as a
    // Boolean counts as false rather than as the default.
    return store.boolValue(key).value_or(false);
}

bool AppSettings::enableNotchFeatures() const { return boolSetting(enableNotchFeaturesKey, true); }
void AppSettings::setEnableNotchFeatures(bool on) const { defaults().set(enableNotchFeaturesKey, on); }
bool AppSettings::enableGlance() const { return boolSetting(enableGlanceKey, true); }
void AppSettings::setEnableGlance(bool on) const { defaults().set(enableGlanceKey, on); }
bool AppSettings::showCalendar() const { return boolSetting(showCalendarKey, true); }
void AppSettings::setShowCalendar(bool on) const { defaults().set(showCalendarKey, on); }
bool AppSettings::showWeather() const { return boolSetting(showWeatherKey, true); }
void AppSettings::setShowWeather(bool on) const { defaults().set(showWeatherKey, on); }
bool AppSettings::enableSwitcher() const { return boolSetting(enableSwitcherKey, true); }
void AppSettings::setEnableSwitcher(bool on) const { defaults().set(enableSwitcherKey, on); }
bool AppSettings::showMiniPlayerWhenPlaying() const { return boolSetting(showMiniPlayerWhenPlayingKey, true); }
void AppSettings::setShowMiniPlayerWhenPlaying(bool on) const { defaults().set(showMiniPlayerWhenPlayingKey, on); }
bool AppSettings::enableMusicHotkeys() const { return boolSetting(enableMusicHotkeysKey, false); }
void AppSettings::setEnableMusicHotkeys(bool on) const { defaults().set(enableMusicHotkeysKey, on); }
bool AppSettings::enableDrop() const { return boolSetting(enableDropKey, true); }
void AppSettings::setEnableDrop(bool on) const { defaults().set(enableDropKey, on); }
bool AppSettings::automaticUpdateChecks() const { return boolSetting(automaticUpdateChecksKey, true); }
void AppSettings::setAutomaticUpdateChecks(bool on) const { defaults().set(automaticUpdateChecksKey, on); }
bool AppSettings::showAppNameInNotification() const { return boolSetting(showAppNameKey, true); }
void AppSettings::setShowAppNameInNotification(bool on) const { defaults().set(showAppNameKey, on); }

OverlayStyle AppSettings::overlayStyle() const { return parsedOr(defaults(), styleKey, OverlayStyle::splitPill); }
void AppSettings::setOverlayStyle(OverlayStyle style) const { defaults().set(styleKey, rawValue(style)); }

OverlayTint AppSettings::overlayTint() const { return parsedOr(defaults(), tintKey, OverlayTint::black); }
void AppSettings::setOverlayTint(OverlayTint tint) const { defaults().set(tintKey, rawValue(tint)); }

NotificationDetectionSource AppSettings::notificationDetectionSource() const {
    return parsedOr(defaults(), detectionSourceKey, NotificationDetectionSource::database);
}
void AppSettings::setNotificationDetectionSource(NotificationDetectionSource source) const {
    defaults().set(detectionSourceKey, rawValue(source));
}

NotificationDisplayScreen AppSettings::notificationDisplayScreen() const {
    return parsedOr(defaults(), notificationDisplayScreenKey, NotificationDisplayScreen::main);
}
void AppSettings::setNotificationDisplayScreen(NotificationDisplayScreen screen) const {
    defaults().set(notificationDisplayScreenKey, rawValue(screen));
}

MusicNowPlayingSource AppSettings::musicNowPlayingSource() const {
    const auto text = defaults().stringValue(musicNowPlayingSourceKey);
    if (!text) return MusicNowPlayingSource::appleScript;
    // Earlier versions stored the system source under this name.
    if (*text == kLegacyControlCenterSource) return MusicNowPlayingSource::controlCenter;
    return fromRawValue<MusicNowPlayingSource>(*text).value_or(MusicNowPlayingSource::appleScript);
}
void AppSettings::setMusicNowPlayingSource(MusicNowPlayingSource source) const {
    defaults().set(musicNowPlayingSourceKey, rawValue(source));
}

MusicNotchColorMode AppSettings::musicNotchColorMode() const {
    return parsedOr(defaults(), musicNotchColorModeKey, MusicNotchColorMode::black);
}
void AppSettings::setMusicNotchColorMode(MusicNotchColorMode mode) const {
    defaults().set(musicNotchColorModeKey, rawValue(mode));
}

double AppSettings::overlayDisplayTimeout() const {
    return positiveClamped(defaults().doubleValue(displayTimeoutKey), defaultDisplayTimeout, minDisplayTimeout,
                           maxDisplayTimeout);
}
void AppSettings::setOverlayDisplayTimeout(double seconds) const { defaults().set(displayTimeoutKey, seconds); }

double AppSettings::dynamicIslandCornerRadius() const {
    return positiveClamped(defaults().doubleValue(dynamicIslandCornerRadiusKey), defaultCornerRadius, minCornerRadius,
                           maxCornerRadius);
}
void AppSettings::setDynamicIslandCornerRadius(double points) const {
    defaults().set(dynamicIslandCornerRadiusKey, points);
}

std::optional<QString> AppSettings::musicAppPath() const { return defaults().stringValue(musicAppPathKey); }
void AppSettings::setMusicAppPath(const std::optional<QString>& path) const {
    setOptionalText(defaults(), musicAppPathKey, path);
}

QString AppSettings::updateFeedURL() const {
    const QString trimmed = defaults().stringValue(updateFeedURLKey).value_or(QString()).trimmed();
    return trimmed.isEmpty() ? builtInUpdateFeedURL : trimmed;
}
void AppSettings::setUpdateFeedURL(const QString& url) const { defaults().set(updateFeedURLKey, url); }

int64_t AppSettings::updateCheckIntervalHours() const {
    const auto stored = defaults().integerValue(updateCheckIntervalHoursKey);
    return (stored && *stored > 0) ? *stored : defaultUpdateCheckIntervalHours;
}
void AppSettings::setUpdateCheckIntervalHours(int64_t hours) const {
    defaults().set(updateCheckIntervalHoursKey, hours);
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

std::optional<QString> AppSettings::lastPromptedUpdateVersion() const {
    return defaults().stringValue(lastPromptedUpdateVersionKey);
}
void AppSettings::setLastPromptedUpdateVersion(const std::optional<QString>& version) const {
    setOptionalText(defaults(), lastPromptedUpdateVersionKey, version);
}

QString AppSettings::liveActivityKey(LiveActivityType type) { return caseName(type); }

bool AppSettings::isLiveActivityEnabled(LiveActivityType type) const {
    return boolSetting(laPrefix + liveActivityKey(type), true);
}
void AppSettings::setLiveActivityEnabled(LiveActivityType type, bool on) const {
    defaults().set(laPrefix + liveActivityKey(type), on);
}
