#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

namespace platform {

// Dates as the platform's formatters write them for a locale, from the locale's own patterns
// (the "medium" date is "Dec 6, 2026" in English, "2026/12/06" in Japanese).
class DateFormat {
public:
    enum class Style { none, shortStyle, medium, longStyle };

    // `date` in `zone`, with the date and time parts in the given styles for `locale`.
    static QString format(const QDateTime& date, Style dateStyle, Style timeStyle,
                          const QLocale& locale = QLocale::system(), const QTimeZone& zone = QTimeZone::systemTimeZone());
};

}  // namespace platform
