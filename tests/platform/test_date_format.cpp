#include "platform/dates/date_format.h"

#include <gtest/gtest.h>

using platform::DateFormat;

namespace {
const QLocale english(QLocale::English, QLocale::UnitedStates);
const QLocale japanese(QLocale::Japanese, QLocale::Japan);
}  // namespace

TEST(DateFormat, TheLocaleArrangesTheTemplateFields) {
    const QTimeZone tokyo("Asia/Tokyo");
    // 2025-12-12 is a Friday; 20:05 UTC is already Saturday the 13th in Tokyo.
    const QDateTime friday = QDateTime::fromString("2025-12-12T09:30:00Z", Qt::ISODate);
    EXPECT_EQ(DateFormat::formatTemplate(friday, "MMM d (E)", english, QTimeZone::utc()), "Fri, Dec 12");
    EXPECT_EQ(DateFormat::formatTemplate(friday, "Md(E)", japanese, tokyo), "12/12(金)");
    EXPECT_EQ(DateFormat::formatTemplate(friday, "MMM", english, QTimeZone::utc()), "Dec");
    EXPECT_EQ(DateFormat::formatTemplate(friday, "M", japanese, tokyo), "12月");
    EXPECT_EQ(DateFormat::formatTemplate(friday, "EEEEE", english, QTimeZone::utc()), "F");
    EXPECT_EQ(DateFormat::formatTemplate(friday, "EEEEE", japanese, tokyo), "金");
    EXPECT_EQ(DateFormat::formatTemplate(friday, "d", english, QTimeZone::utc()), "12");

    const QDateTime late = QDateTime::fromString("2025-12-12T20:05:00Z", Qt::ISODate);
    EXPECT_EQ(DateFormat::formatTemplate(late, "Md(E)", japanese, tokyo), "12/13(土)");
    EXPECT_EQ(DateFormat::formatTemplate(QDateTime(), "MMM", english), QString());
}

TEST(DateFormat, FixedPatternsAreUsedLiterallyAndRepeatCallsAgree) {
    const QDateTime morning = QDateTime::fromString("2025-12-12T07:05:00Z", Qt::ISODate);
    EXPECT_EQ(DateFormat::formatPattern(morning, "HH:mm", english, QTimeZone::utc()), "07:05");
    EXPECT_EQ(DateFormat::formatPattern(morning, "H:mm", japanese, QTimeZone::utc()), "7:05");
    EXPECT_EQ(DateFormat::formatPattern(morning, "H:mm", japanese, QTimeZone("Asia/Tokyo")), "16:05");
    // The cached formatter gives the same text as the first one did.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(DateFormat::formatPattern(morning, "HH:mm", english, QTimeZone::utc()), "07:05");
    EXPECT_EQ(DateFormat::formatPattern(morning, QString(), english), QString());
    EXPECT_EQ(DateFormat::bestPattern("MMM d (E)", english), "EEE, MMM d");
}

TEST(DateFormat, MediumDateShortTimeFollowTheLocaleAndZone) {
    const QDateTime instant = QDateTime::fromString("2027-01-15T20:05:00Z", Qt::ISODate);
    const QTimeZone tokyo("Asia/Tokyo");
    EXPECT_EQ(DateFormat::format(instant, DateFormat::Style::medium, DateFormat::Style::shortStyle,
                                 english, QTimeZone::utc()),
              QStringLiteral("Jan 15, 2027, 8:05\u202fPM"));
    EXPECT_EQ(DateFormat::format(instant, DateFormat::Style::medium, DateFormat::Style::shortStyle,
                                 japanese, tokyo),
              QStringLiteral("2027/01/16 5:05"));
    EXPECT_EQ(DateFormat::format(instant, DateFormat::Style::medium, DateFormat::Style::none,
                                 english, QTimeZone::utc()),
              QStringLiteral("Jan 15, 2027"));
    EXPECT_EQ(DateFormat::format(QDateTime(), DateFormat::Style::medium, DateFormat::Style::shortStyle), QString());
}
