#include "platform/dates/date_format.h"

#include <unicode/udat.h>
#include <unicode/udatpg.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <map>
#include <memory>
#include <tuple>

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

const UChar* uchars(const QString& text) { return reinterpret_cast<const UChar*>(text.utf16()); }

QString zoneIdOf(const QTimeZone& zone) {
    return QString::fromUtf8(zone.isValid() ? zone.id() : QByteArray("UTC"));
}

using FormatterPtr = std::unique_ptr<UDateFormat, void (*)(UDateFormat*)>;
using GeneratorPtr = std::unique_ptr<UDateTimePatternGenerator, void (*)(UDateTimePatternGenerator*)>;

// Opening a formatter or a pattern generator costs far more than formatting with one, and the
// views ask for the same few patterns on every frame: keep them per thread (ICU objects are not
// shared across threads), bounded so an unusual caller cannot grow them without end.
constexpr size_t kCacheLimit = 64;

UDateTimePatternGenerator* generatorFor(const QByteArray& localeName) {
    thread_local std::map<QByteArray, GeneratorPtr> generators;
    if (auto it = generators.find(localeName); it != generators.end()) return it->second.get();
    UErrorCode status = U_ZERO_ERROR;
    GeneratorPtr generator(udatpg_open(localeName.constData(), &status), udatpg_close);
    if (U_FAILURE(status) || !generator) return nullptr;
    if (generators.size() >= kCacheLimit) generators.clear();
    return generators.emplace(localeName, std::move(generator)).first->second.get();
}

QString bestPatternFor(const QString& skeleton, const QByteArray& localeName) {
    UDateTimePatternGenerator* generator = generatorFor(localeName);
    if (!generator || skeleton.isEmpty()) return {};
    UErrorCode status = U_ZERO_ERROR;
    UChar buffer[128];
    const int32_t length = udatpg_getBestPattern(generator, uchars(skeleton), static_cast<int32_t>(skeleton.size()),
                                                 buffer, static_cast<int32_t>(std::size(buffer)), &status);
    if (U_FAILURE(status) || length <= 0) return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), length);
}

// A formatter for `pattern` in the locale and zone, made once per thread.
UDateFormat* patternFormatter(const QString& pattern, const QByteArray& localeName, const QString& zoneId) {
    using Key = std::tuple<QString, QByteArray, QString>;
    thread_local std::map<Key, FormatterPtr> formatters;
    Key key{pattern, localeName, zoneId};
    if (auto it = formatters.find(key); it != formatters.end()) return it->second.get();
    UErrorCode status = U_ZERO_ERROR;
    FormatterPtr formatter(udat_open(UDAT_PATTERN, UDAT_PATTERN, localeName.constData(), uchars(zoneId),
                                     static_cast<int32_t>(zoneId.size()), uchars(pattern),
                                     static_cast<int32_t>(pattern.size()), &status),
                           udat_close);
    if (U_FAILURE(status) || !formatter) return nullptr;
    if (formatters.size() >= kCacheLimit) formatters.clear();
    return formatters.emplace(std::move(key), std::move(formatter)).first->second.get();
}

QString formatWith(UDateFormat* formatter, const QDateTime& date) {
    UErrorCode status = U_ZERO_ERROR;
    UChar buffer[256];
    const int32_t length = udat_format(formatter, static_cast<UDate>(date.toMSecsSinceEpoch()), buffer,
                                       static_cast<int32_t>(std::size(buffer)), nullptr, &status);
    if (U_FAILURE(status) || length < 0) return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), std::min<int32_t>(length, std::size(buffer)));
}

}  // namespace

QString DateFormat::bestPattern(const QString& skeleton, const QLocale& locale) {
    return bestPatternFor(skeleton, locale.name().toUtf8());
}

QString DateFormat::formatTemplate(const QDateTime& date, const QString& skeleton, const QLocale& locale,
                                   const QTimeZone& zone) {
    if (!date.isValid()) return {};
    const QByteArray localeName = locale.name().toUtf8();
    QString pattern = bestPatternFor(skeleton, localeName);
    // Without a locale arrangement the skeleton's own fields are the next best thing.
    if (pattern.isEmpty()) pattern = skeleton;
    return formatPattern(date, pattern, locale, zone);
}

QString DateFormat::formatPattern(const QDateTime& date, const QString& pattern, const QLocale& locale,
                                  const QTimeZone& zone) {
    if (!date.isValid() || pattern.isEmpty()) return {};
    UDateFormat* formatter = patternFormatter(pattern, locale.name().toUtf8(), zoneIdOf(zone));
    if (!formatter) return {};
    return formatWith(formatter, date);
}

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
