#include "platform/dates/date_format.h"

#include <gtest/gtest.h>

using platform::DateFormat;

TEST(DateFormat, MediumDateShortTimeFollowTheLocaleAndZone) {
    const QDateTime instant = QDateTime::fromString("2027-01-15T20:05:00Z", Qt::ISODate);
    const QTimeZone tokyo("Asia/Tokyo");
    EXPECT_EQ(DateFormat::format(instant, DateFormat::Style::medium, DateFormat::Style::shortStyle,
                                 QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()),
              QStringLiteral("Jan 15, 2027, 8:05\u202fPM"));
    EXPECT_EQ(DateFormat::format(instant, DateFormat::Style::medium, DateFormat::Style::shortStyle,
                                 QLocale(QLocale::Japanese, QLocale::Japan), tokyo),
              QStringLiteral("2027/01/16 5:05"));
    EXPECT_EQ(DateFormat::format(instant, DateFormat::Style::medium, DateFormat::Style::none,
                                 QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()),
              QStringLiteral("Jan 15, 2027"));
    EXPECT_EQ(DateFormat::format(QDateTime(), DateFormat::Style::medium, DateFormat::Style::shortStyle), QString());
}
