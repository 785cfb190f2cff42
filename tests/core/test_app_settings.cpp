#include "core/app_settings.h"
#include "core/l10n.h"
#include "support/fixtures.h"

#include <limits>

namespace {

class AppSettingsTest : public testsupport::QuillvexTest {
protected:
    AppSettings settings;  // reads the standard defaults, which the fixture swapped for memory
};

TEST_F(AppSettingsTest, FreshDefaultsReadTheirDefaults) {
    for (auto getter : {&AppSettings::enableNotchFeatures, &AppSettings::enableGlance, &AppSettings::showCalendar,
                        &AppSettings::showWeather, &AppSettings::enableSwitcher,
                        &AppSettings::showMiniPlayerWhenPlaying, &AppSettings::enableDrop,
                        &AppSettings::automaticUpdateChecks, &AppSettings::showAppNameInNotification}) {
        EXPECT_TRUE((settings.*getter)());
    }
    EXPECT_FALSE(settings.enableMusicHotkeys());
    for (LiveActivityType type : allCases<LiveActivityType>()) EXPECT_TRUE(settings.isLiveActivityEnabled(type));

    EXPECT_EQ(settings.musicNowPlayingSource(), MusicNowPlayingSource::appleScript);
    EXPECT_EQ(settings.overlayStyle(), OverlayStyle::splitPill);
    EXPECT_EQ(settings.overlayTint(), OverlayTint::black);
    EXPECT_EQ(settings.notificationDetectionSource(), NotificationDetectionSource::database);
    EXPECT_EQ(settings.notificationDisplayScreen(), NotificationDisplayScreen::main);
    EXPECT_EQ(settings.musicNotchColorMode(), MusicNotchColorMode::black);
    EXPECT_EQ(settings.updateCheckIntervalHours(), 12);
    EXPECT_TRUE(settings.updateFeedURL().startsWith(QLatin1String("https://")));
    EXPECT_TRUE(settings.updateFeedURL().endsWith(QLatin1String("/updates/latest.json")));
    EXPECT_FALSE(settings.lastUpdateCheckAt());
}

TEST_F(AppSettingsTest, BoolsReadTheStoredValueAtEachUse) {
    const struct {
        platform::DefaultsValue stored;
        bool reads;
    } cases[] = {{false, false}, {int64_t(0), false}, {int64_t(2), true}, {QStringLiteral("not a boolean"), false}};
    for (const auto& c : cases) {
        defaults().set(AppSettings::enableDropKey, c.stored);
        EXPECT_EQ(settings.enableDrop(), c.reads);  // stored but unreadable: false, not the default
    }
    defaults().remove(AppSettings::enableDropKey);
    EXPECT_TRUE(settings.enableDrop());

    EXPECT_EQ(AppSettings::laPrefix + AppSettings::liveActivityKey(LiveActivityType::screenUnlock),
              QStringLiteral("liveActivity_screenUnlock"));
    defaults().set(QStringLiteral("liveActivity_lowBattery"), false);
    EXPECT_FALSE(AppSettings::shared().isLiveActivityEnabled(LiveActivityType::lowBattery));
}

TEST_F(AppSettingsTest, EnumerationsParseExactTextAndTitlesFollowTheLanguage) {
    for (const char* text : {"SplitPill", "splitPill ", " splitPill", ""}) {
        EXPECT_FALSE(fromRawValue<OverlayStyle>(QString::fromLatin1(text))) << text;
    }
    const auto store = [&](const QString& key, const char* text) { defaults().set(key, QString::fromLatin1(text)); };
    store(AppSettings::styleKey, "notchSheet");
    EXPECT_EQ(settings.overlayStyle(), OverlayStyle::notchSheet);
    store(AppSettings::styleKey, "NotchSheet");
    EXPECT_EQ(settings.overlayStyle(), OverlayStyle::splitPill);
    store(AppSettings::notificationDisplayScreenKey, "all");
    EXPECT_EQ(settings.notificationDisplayScreen(), NotificationDisplayScreen::all);
    store(AppSettings::notificationDisplayScreenKey, "All");
    EXPECT_EQ(settings.notificationDisplayScreen(), NotificationDisplayScreen::main);
    store(AppSettings::detectionSourceKey, "UI");
    EXPECT_EQ(settings.notificationDetectionSource(), NotificationDetectionSource::database);

    store(AppSettings::musicNowPlayingSourceKey, "mediaRemoteExperimental");
    EXPECT_EQ(settings.musicNowPlayingSource(), MusicNowPlayingSource::controlCenter);
    store(AppSettings::musicNowPlayingSourceKey, "ControlCenter");
    EXPECT_EQ(settings.musicNowPlayingSource(), MusicNowPlayingSource::appleScript);

    // Titles are chosen at each call.
    L10n::setSelectedLanguage(QStringLiteral("en"));
    EXPECT_EQ(title(OverlayStyle::splitPill), QStringLiteral("Notch Split"));
    EXPECT_EQ(title(OverlayTint::graphite), QStringLiteral("Graphite"));
    L10n::setSelectedLanguage(QStringLiteral("ja"));
    EXPECT_EQ(title(OverlayStyle::splitPill), QStringLiteral("ノッチ分割"));
    EXPECT_EQ(title(OverlayTint::black), QStringLiteral("ブラック"));
}

TEST_F(AppSettingsTest, NumbersUseStoredPositivesWithinTheirRanges) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double stored, timeout, radius;
    } cases[] = {{0.0, 2.0, 16.0},  {-3.0, 2.0, 16.0},   {0.05, 0.1, 8.0}, {4.0, 4.0, 8.0},
                 {30.0, 30.0, 24.0}, {120.0, 60.0, 24.0}, {nan, 2.0, 16.0}};
    for (const auto& c : cases) {
        defaults().set(AppSettings::displayTimeoutKey, c.stored);
        defaults().set(AppSettings::dynamicIslandCornerRadiusKey, c.stored);
        EXPECT_EQ(settings.overlayDisplayTimeout(), c.timeout) << c.stored;
        EXPECT_EQ(settings.dynamicIslandCornerRadius(), c.radius) << c.stored;
    }
    defaults().set(AppSettings::updateCheckIntervalHoursKey, int64_t(0));
    EXPECT_EQ(settings.updateCheckIntervalHours(), 12);
    defaults().set(AppSettings::updateCheckIntervalHoursKey, int64_t(6));
    EXPECT_EQ(settings.updateCheckIntervalHours(), 6);
    defaults().set(AppSettings::updateCheckIntervalHoursKey, int64_t(1));
    EXPECT_EQ(settings.updateCheckIntervalHours(), 1);
}

TEST_F(AppSettingsTest, FeedAddressIsTrimmedAndLastCheckIsADate) {
    for (const char* blank : {"   ", "\n", " \t\r\n "}) {
        defaults().set(AppSettings::updateFeedURLKey, QString::fromLatin1(blank));
        EXPECT_EQ(settings.updateFeedURL(), AppSettings::builtInUpdateFeedURL);
    }
    defaults().set(AppSettings::updateFeedURLKey, QStringLiteral("  https://example.test/feed.json\n"));
    EXPECT_EQ(settings.updateFeedURL(), QStringLiteral("https://example.test/feed.json"));

    defaults().set(AppSettings::lastUpdateCheckAtKey, QStringLiteral("2026-01-01T00:00:00Z"));
    EXPECT_FALSE(settings.lastUpdateCheckAt());
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    settings.setLastUpdateCheckAt(when);
    EXPECT_EQ(settings.lastUpdateCheckAt(), when);
    settings.setLastUpdateCheckAt(std::nullopt);
    EXPECT_FALSE(defaults().contains(AppSettings::lastUpdateCheckAtKey));
}

// The keys are what earlier versions stored: a changed letter silently resets a user's setting.
TEST_F(AppSettingsTest, SettingsReadTheStoredNames) {
    defaults().set(QStringLiteral("overlayStyle"), QStringLiteral("liquidGlass"));
    defaults().set(QStringLiteral("enableSwitcher"), false);
    defaults().set(QStringLiteral("updateCheckIntervalHours"), int64_t{6});
    defaults().set(QStringLiteral("overlayDisplayTimeout"), 5.0);
    defaults().set(QStringLiteral("dynamicIslandCornerRadius"), 10.0);
    defaults().set(QStringLiteral("enableNotchFeatures"), false);
    defaults().set(QStringLiteral("updateFeedURL"), QStringLiteral("https://example.test/f.json"));
    EXPECT_EQ(settings.overlayDisplayTimeout(), 5.0);
    EXPECT_EQ(settings.dynamicIslandCornerRadius(), 10.0);
    EXPECT_FALSE(settings.enableNotchFeatures());
    EXPECT_EQ(settings.updateFeedURL(), QStringLiteral("https://example.test/f.json"));
    EXPECT_EQ(settings.overlayStyle(), OverlayStyle::liquidGlass);
    EXPECT_FALSE(settings.enableSwitcher());
    EXPECT_EQ(settings.updateCheckIntervalHours(), 6);
}

}  // namespace
