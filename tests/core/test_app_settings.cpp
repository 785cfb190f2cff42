#include "core/app_settings.h"
#include "core/l10n.h"
#include "support/fixtures.h"

#include <cmath>
#include <limits>

namespace {

class AppSettingsTest : public testsupport::QuillvexTest {
protected:
    AppSettings settings;  // reads the standard defaults, which the fixture swapped for memory
};

TEST_F(AppSettingsTest, FreshDefaultsReadTheirDefaults) {
    EXPECT_TRUE(settings.enableNotchFeatures());
    EXPECT_TRUE(settings.enableGlance());
    EXPECT_TRUE(settings.showCalendar());
    EXPECT_TRUE(settings.showWeather());
    EXPECT_TRUE(settings.enableSwitcher());
    EXPECT_TRUE(settings.showMiniPlayerWhenPlaying());
    EXPECT_TRUE(settings.enableDrop());
    EXPECT_TRUE(settings.automaticUpdateChecks());
    EXPECT_TRUE(settings.showAppNameInNotification());
    EXPECT_FALSE(settings.enableMusicHotkeys());
    for (LiveActivityType type : allCases<LiveActivityType>()) EXPECT_TRUE(settings.isLiveActivityEnabled(type));

    EXPECT_EQ(settings.musicNowPlayingSource(), MusicNowPlayingSource::appleScript);
    EXPECT_EQ(settings.overlayStyle(), OverlayStyle::splitPill);
    EXPECT_EQ(settings.overlayTint(), OverlayTint::black);
    EXPECT_EQ(settings.notificationDetectionSource(), NotificationDetectionSource::database);
    EXPECT_EQ(settings.notificationDisplayScreen(), NotificationDisplayScreen::main);
    EXPECT_EQ(settings.musicNotchColorMode(), MusicNotchColorMode::black);
    EXPECT_EQ(settings.overlayDisplayTimeout(), 2.0);
    EXPECT_EQ(settings.dynamicIslandCornerRadius(), 16.0);
    EXPECT_EQ(settings.updateCheckIntervalHours(), 12);
    EXPECT_EQ(settings.updateFeedURL(), AppSettings::builtInUpdateFeedURL);
    EXPECT_TRUE(settings.updateFeedURL().startsWith(QLatin1String("https://")));
    EXPECT_TRUE(settings.updateFeedURL().endsWith(QLatin1String("/updates/latest.json")));
    EXPECT_FALSE(settings.lastUpdateCheckAt());
}

TEST_F(AppSettingsTest, BoolsReadTheStoredValueAtEachUse) {
    defaults().set(AppSettings::enableDropKey, false);
    EXPECT_FALSE(settings.enableDrop());
    defaults().set(AppSettings::enableDropKey, int64_t(0));
    EXPECT_FALSE(settings.enableDrop());
    defaults().set(AppSettings::enableDropKey, int64_t(2));
    EXPECT_TRUE(settings.enableDrop());
    defaults().set(AppSettings::enableDropKey, QStringLiteral("not a boolean"));
    EXPECT_FALSE(settings.enableDrop());  // stored but unreadable: false, not the default
    defaults().remove(AppSettings::enableDropKey);
    EXPECT_TRUE(settings.enableDrop());

    defaults().set(QStringLiteral("enableMusicHotkeys"), true);
    EXPECT_TRUE(settings.enableMusicHotkeys());
    settings.setEnableNotchFeatures(false);
    EXPECT_EQ(defaults().boolValue(QStringLiteral("enableNotchFeatures")), false);
    EXPECT_FALSE(AppSettings::shared().enableNotchFeatures());
}

TEST_F(AppSettingsTest, LiveActivityKeysArePrefixPlusCaseName) {
    EXPECT_EQ(AppSettings::laPrefix + AppSettings::liveActivityKey(LiveActivityType::screenUnlock),
              QStringLiteral("liveActivity_screenUnlock"));
    EXPECT_EQ(AppSettings::liveActivityKey(LiveActivityType::powerDisconnect), QStringLiteral("powerDisconnect"));
    defaults().set(QStringLiteral("liveActivity_lowBattery"), false);
    EXPECT_FALSE(settings.isLiveActivityEnabled(LiveActivityType::lowBattery));
    EXPECT_TRUE(settings.isLiveActivityEnabled(LiveActivityType::charging));
    settings.setLiveActivityEnabled(LiveActivityType::airdrop, false);
    EXPECT_TRUE(defaults().contains(QStringLiteral("liveActivity_airdrop")));
    EXPECT_FALSE(settings.isLiveActivityEnabled(LiveActivityType::airdrop));
}

TEST_F(AppSettingsTest, MusicSourceAcceptsTheOlderNameAndExactTextOnly) {
    defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("mediaRemoteExperimental"));
    EXPECT_EQ(settings.musicNowPlayingSource(), MusicNowPlayingSource::controlCenter);
    defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("controlCenter"));
    EXPECT_EQ(settings.musicNowPlayingSource(), MusicNowPlayingSource::controlCenter);
    defaults().set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("ControlCenter"));
    EXPECT_EQ(settings.musicNowPlayingSource(), MusicNowPlayingSource::appleScript);
}

TEST_F(AppSettingsTest, EnumerationSettingsFallBackOnAnyOtherText) {
    for (const char* text : {"SplitPill", "splitPill ", " splitPill", ""}) {
        EXPECT_FALSE(fromRawValue<OverlayStyle>(QString::fromLatin1(text))) << text;
    }
    defaults().set(AppSettings::styleKey, QStringLiteral("notchSheet"));
    EXPECT_EQ(settings.overlayStyle(), OverlayStyle::notchSheet);
    defaults().set(AppSettings::styleKey, QStringLiteral("NotchSheet"));
    EXPECT_EQ(settings.overlayStyle(), OverlayStyle::splitPill);

    defaults().set(AppSettings::notificationDisplayScreenKey, QStringLiteral("all"));
    EXPECT_EQ(settings.notificationDisplayScreen(), NotificationDisplayScreen::all);
    defaults().set(AppSettings::notificationDisplayScreenKey, QStringLiteral("All"));
    EXPECT_EQ(settings.notificationDisplayScreen(), NotificationDisplayScreen::main);

    defaults().set(AppSettings::detectionSourceKey, QStringLiteral("UI"));
    EXPECT_EQ(settings.notificationDetectionSource(), NotificationDetectionSource::database);
    defaults().set(AppSettings::detectionSourceKey, int64_t(1));  // not a text of the set
    EXPECT_EQ(settings.notificationDetectionSource(), NotificationDetectionSource::database);
    settings.setNotificationDetectionSource(NotificationDetectionSource::ui);
    EXPECT_EQ(defaults().stringValue(AppSettings::detectionSourceKey), QStringLiteral("ui"));
}

TEST_F(AppSettingsTest, TitlesFollowTheLanguageAtEachCall) {
    L10n::setSelectedLanguage(QStringLiteral("en"));
    EXPECT_EQ(title(OverlayStyle::splitPill), QStringLiteral("Notch Split"));
    EXPECT_EQ(title(OverlayTint::graphite), QStringLiteral("Graphite"));
    L10n::setSelectedLanguage(QStringLiteral("ja"));
    EXPECT_EQ(title(OverlayStyle::splitPill), QStringLiteral("ノッチ分割"));
    EXPECT_EQ(title(OverlayStyle::liquidGlass), QStringLiteral("リキッドグラス"));
    EXPECT_EQ(title(OverlayTint::black), QStringLiteral("ブラック"));
}

TEST_F(AppSettingsTest, NumbersUseStoredPositivesWithinTheirRanges) {
    struct Case {
        std::optional<double> stored;
        double timeout;
        double radius;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const Case& c : {Case{0.0, 2.0, 16.0}, Case{-3.0, 2.0, 16.0}, Case{0.05, 0.1, 8.0}, Case{4.0, 4.0, 8.0},
                          Case{30.0, 30.0, 24.0}, Case{120.0, 60.0, 24.0}, Case{nan, 2.0, 16.0}}) {
        defaults().set(AppSettings::displayTimeoutKey, *c.stored);
        defaults().set(AppSettings::dynamicIslandCornerRadiusKey, *c.stored);
        EXPECT_EQ(settings.overlayDisplayTimeout(), c.timeout) << *c.stored;
        EXPECT_EQ(settings.dynamicIslandCornerRadius(), c.radius) << *c.stored;
    }
    defaults().set(AppSettings::updateCheckIntervalHoursKey, int64_t(0));
    EXPECT_EQ(settings.updateCheckIntervalHours(), 12);
    settings.setUpdateCheckIntervalHours(6);
    EXPECT_EQ(settings.updateCheckIntervalHours(), 6);
}

TEST_F(AppSettingsTest, FeedAddressIsTrimmedAndNeverEmpty) {
    for (const char* blank : {"   ", "\n", " \t\r\n "}) {
        defaults().set(AppSettings::updateFeedURLKey, QString::fromLatin1(blank));
        EXPECT_EQ(settings.updateFeedURL(), AppSettings::builtInUpdateFeedURL);
    }
    settings.setUpdateFeedURL(QStringLiteral("  https://example.test/feed.json\n"));
    EXPECT_EQ(settings.updateFeedURL(), QStringLiteral("https://example.test/feed.json"));
}

TEST_F(AppSettingsTest, LastCheckIsADateOrAbsent) {
    defaults().set(AppSettings::lastUpdateCheckAtKey, QStringLiteral("2026-01-01T00:00:00Z"));
    EXPECT_FALSE(settings.lastUpdateCheckAt());
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    settings.setLastUpdateCheckAt(when);
    EXPECT_EQ(settings.lastUpdateCheckAt(), when);
    settings.setLastUpdateCheckAt(std::nullopt);
    EXPECT_FALSE(defaults().contains(AppSettings::lastUpdateCheckAtKey));
}

TEST_F(AppSettingsTest, AnInjectedStoreIsUsedInsteadOfTheStandardOne) {
    platform::Defaults other;
    AppSettings isolated(&other);
    other.set(AppSettings::enableSwitcherKey, false);
    EXPECT_FALSE(isolated.enableSwitcher());
    EXPECT_TRUE(settings.enableSwitcher());
}

}  // namespace
