#include "detection/ax_text_filters.h"

#include <gtest/gtest.h>

using namespace AXTextFilters;

namespace {
QString repeated(const QString& unit, int n) {
    QString out;
    for (int i = 0; i < n; ++i) out += unit;
    return out;
}
}  // namespace

TEST(AXTextFiltersTest, CountsGraphemeClustersNotCodeUnits) {
    const QString decomposedE = QStringLiteral("e\u0301");  // e + combining acute: one character
    EXPECT_EQ(characterCount(decomposedE), 1);
    EXPECT_EQ(characterCount(QStringLiteral("👨‍👩‍👧")), 1);
    EXPECT_EQ(characterCount(QStringLiteral("メール")), 3);
    EXPECT_EQ(characterCount(QString()), 0);
}

TEST(AXTextFiltersTest, AppNameLengthIsTwoToFiftyCharactersAfterTrimming) {
    EXPECT_TRUE(shouldKeepAsAppName(QStringLiteral("Slack")));
    EXPECT_TRUE(shouldKeepAsAppName(QStringLiteral("  Mail \n")));
    EXPECT_FALSE(shouldKeepAsAppName(QStringLiteral(" M ")));
    // Fifty accented letters are 100 UTF-16 units but fifty characters.
    EXPECT_TRUE(shouldKeepAsAppName(repeated(QStringLiteral("e\u0301"), 50)));
    EXPECT_FALSE(shouldKeepAsAppName(repeated(QStringLiteral("e\u0301"), 51)));
    // A single emoji of several code points is one character.
    EXPECT_FALSE(shouldKeepAsAppName(QStringLiteral("👨‍👩‍👧")));
}

TEST(AXTextFiltersTest, AppNameRejectsControlsTimesCreditsAndPunctuation) {
    for (const char* text : {"Mail\tApp", "Show More", "閉じる", "Clear All", "5 minutes ago", "たった今", "3時間前",
                             "12 時", "Elvis vs Tree", "Song feat. Someone", "Rock &amp; Roll", "Mail (2)", "Mail（2）",
                             "Up – Down", "Up - Down", "TODAY", "昨日", "New", "Notification Center"}) {
        EXPECT_FALSE(shouldKeepAsAppName(QString::fromUtf8(text))) << text;
    }
    for (const char* text : {"Mail", "Today's Paper", "Up-Down", "Canvas", "メッセージ", "Newsstand"})
        EXPECT_TRUE(shouldKeepAsAppName(QString::fromUtf8(text))) << text;
}

TEST(AXTextFiltersTest, AppNameDigitsAreUnicodeDecimalDigits) {
    // A name with digits is allowed up to twelve characters.
    EXPECT_TRUE(shouldKeepAsAppName(QStringLiteral("Project 1234")));
    EXPECT_FALSE(shouldKeepAsAppName(QStringLiteral("Project 12345")));
    EXPECT_FALSE(shouldKeepAsAppName(QStringLiteral("Project ١٢٣٤٥")));  // Arabic-Indic digits
    EXPECT_TRUE(shouldKeepAsAppName(QStringLiteral("Project Alpha")));   // 13 characters, no digit
    // Full-width digits before a Japanese unit of time read as a relative time.
    EXPECT_FALSE(shouldKeepAsAppName(QStringLiteral("３日")));
    EXPECT_FALSE(shouldKeepAsAppName(QStringLiteral("10 秒")));
    EXPECT_TRUE(shouldKeepAsAppName(QStringLiteral("日10")));
}

TEST(AXTextFiltersTest, KeptTextsNeedTwoCharactersAndNoNotificationCenterWording) {
    EXPECT_TRUE(shouldKeep(QStringLiteral("Hi")));
    EXPECT_TRUE(shouldKeep(QStringLiteral("5 minutes ago")));  // times may still become a message
    EXPECT_TRUE(shouldKeep(QStringLiteral("Notifications")));
    EXPECT_FALSE(shouldKeep(QStringLiteral(" x \n")));
    EXPECT_FALSE(shouldKeep(QStringLiteral(" Notification ")));
    EXPECT_FALSE(shouldKeep(QStringLiteral("Open NOTIFICATION CENTER")));
}

TEST(AXTextFiltersTest, BundleIdentifiersAreReverseDomainsWithKnownPrefixes) {
    EXPECT_TRUE(isValidBundleId(QStringLiteral("com.example.Mail-2")));
    EXPECT_TRUE(isValidBundleId(QStringLiteral("COM.Example.App")));
    EXPECT_TRUE(isValidBundleId(QStringLiteral("io..example")));  // empty parts are dropped
    EXPECT_FALSE(isValidBundleId(QStringLiteral("com.apple.notificationcenterui")));
    EXPECT_FALSE(isValidBundleId(QStringLiteral("com.example.BannerKit")));
    EXPECT_FALSE(isValidBundleId(QStringLiteral("uk.example.app")));
    EXPECT_FALSE(isValidBundleId(QStringLiteral("com.example.my_app")));
    EXPECT_FALSE(isValidBundleId(QStringLiteral("com.-example")));
    EXPECT_FALSE(isValidBundleId(QStringLiteral("com.")));
}
