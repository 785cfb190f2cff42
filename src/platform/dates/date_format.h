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

    // `date` through a template that the locale arranges: the fields of `skeleton` ("MMM d (E)")
    // in the locale's own order and punctuation ("Fri, Dec 12" in English, "12/12(金)" in Japanese).
    static QString formatTemplate(const QDateTime& date, const QString& skeleton,
                                  const QLocale& locale = QLocale::system(),
                                  const QTimeZone& zone = QTimeZone::systemTimeZone());
    // `date` through `pattern` used literally ("HH:mm").
    static QString formatPattern(const QDateTime& date, const QString& pattern,
                                 const QLocale& locale = QLocale::system(),
                                 const QTimeZone& zone = QTimeZone::systemTimeZone());
    // The locale's pattern for `skeleton`; empty when the locale has none.
    static QString bestPattern(const QString& skeleton, const QLocale& locale = QLocale::system());
};

}  // namespace platform
