#include "platform/dates/date_format.h"

#include <unicode/udat.h>
#include <unicode/ustring.h>

#include <memory>

namespace platform {

namespace {

UDateFormatStyle icuStyle(DateFormat::Style style) {
    switch (style) {
    case DateFormat::Style::none:
        return UDAT_NONE;
    case DateFormat::Style::shortStyle:
        return UDAT_SHORT;
    case DateFormat::Style::medium:
        return UDAT_MEDIUM;
    case DateFormat::Style::longStyle:
        return UDAT_LONG;
    }
    return UDAT_NONE;
}

}  // namespace

QString DateFormat::format(const QDateTime& date, Style dateStyle, Style timeStyle, const QLocale& locale,
                           const QTimeZone& zone) {
    if (!date.isValid()) return {};
    UErrorCode status = U_ZERO_ERROR;
    const QByteArray localeName = locale.name().toUtf8();
    const QString zoneId = QString::fromUtf8(zone.isValid() ? zone.id() : QByteArray("UTC"));
    UDateFormat* raw = udat_open(icuStyle(timeStyle), icuStyle(dateStyle), localeName.constData(),
                                 reinterpret_cast<const UChar*>(zoneId.utf16()), static_cast<int32_t>(zoneId.size()),
                                 nullptr, -1, &status);
    const std::unique_ptr<UDateFormat, void (*)(UDateFormat*)> formatter(raw, udat_close);
    if (U_FAILURE(status) || !formatter) return locale.toString(date.toTimeZone(zone), QLocale::ShortFormat);
    UChar buffer[256];
    const int32_t length = udat_format(formatter.get(), static_cast<UDate>(date.toMSecsSinceEpoch()), buffer,
                                       static_cast<int32_t>(std::size(buffer)), nullptr, &status);
    if (U_FAILURE(status) || length < 0) return locale.toString(date.toTimeZone(zone), QLocale::ShortFormat);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), length);
}

}  // namespace platform
