#include "detection/ax_text_filters.h"

#include <gtest/gtest.h>

using namespace AXTextFilters;

namespace {

void expectAll(bool (*filter)(const QString&), std::initializer_list<const char*> texts, bool expected) {
    for (const char* text : texts) EXPECT_EQ(filter(QString::fromUtf8(text)), expected) << text;
}

}  // namespace

TEST(AXTextFiltersTest, LengthsCountGraphemeClusters) {
    EXPECT_EQ(characterCount(QStringLiteral("e\u0301")), 1);  // e + combining acute
    EXPECT_EQ(characterCount(QStringLiteral("👨‍👩‍👧")), 1);
    EXPECT_EQ(characterCount(QStringLiteral("メール")), 3);
    // Fifty accented letters are 100 UTF-16 units but fifty characters.
    EXPECT_TRUE(shouldKeepAsAppName(QStringLiteral("e\u0301").repeated(50)));
    EXPECT_FALSE(shouldKeepAsAppName(QStringLiteral("e\u0301").repeated(51)));
}

TEST(AXTextFiltersTest, AppNames) {
    expectAll(shouldKeepAsAppName,
              {"Mail", "  Mail \n", "Today's Paper", "Up-Down", "メッセージ", "Newsstand", "Project 1234",
               "Project Alpha" /* 13 characters, no digit */, "日10"},
              true);
    expectAll(shouldKeepAsAppName,
              {" M ", "👨‍👩‍👧", "Mail\tApp", "Show More", "閉じる", "Clear All", "Notification Center", "5 minutes ago",
               "たった今", "3時間前", "12 時", "３日" /* full-width digit */, "Elvis vs Tree", "Song feat. Someone",
               "Rock &amp; Roll", "Mail (2)", "Mail（2）", "Up – Down", "Up - Down", "TODAY", "昨日", "New",
               "Project 12345", "Project ١٢٣٤٥" /* Arabic-Indic digits */},
              false);
}

TEST(AXTextFiltersTest, KeptTextsAndBundleIdentifiers) {
    expectAll(shouldKeep, {"Hi", "5 minutes ago", "Notifications"}, true);
    expectAll(shouldKeep, {" x \n", " Notification ", "Open NOTIFICATION CENTER"}, false);
    expectAll(isValidBundleId, {"com.example.Mail-2", "COM.Example.App", "io..example"}, true);
    expectAll(isValidBundleId,
              {"com.apple.notificationcenterui", "com.example.BannerKit", "uk.example.app", "com.example.my_app",
               "com.-example", "com."},
              false);
}
