#include "core/l10n.h"

#include "platform/storage/defaults.h"

#include <utility>

namespace {

std::function<QLocale()>& systemLocaleSource() {
    static std::function<QLocale()> source;
    return source;
}

QLocale systemLocale() {
    const auto& source = systemLocaleSource();
    return source ? source() : QLocale::system();
}

constexpr L10n::Entry kEntries[] = {
#define L10N_ENTRY(name, english, japanese) {#name, english, japanese},
#include "core/l10n_table.inc"
#undef L10N_ENTRY
};

QString chooseUtf8(const char* english, const char* japanese) {
    return QString::fromUtf8(L10n::isJapanese() ? japanese : english);
}

}  // namespace

bool L10n::isJapanese() {
    const QString language = selectedLanguage();
    if (language == languageJapanese) return true;
    if (language == languageEnglish) return false;
    // A locale without a language (the C locale) has no "ja" code and reads as English.
    return QLocale::languageToCode(systemLocale().language()) == QLatin1String("ja");
}

QString L10n::selectedLanguage() {
    return platform::Defaults::standard().stringValue(languageKey).value_or(languageAuto);
}

void L10n::setSelectedLanguage(const QString& language) { platform::Defaults::standard().set(languageKey, language); }

QString L10n::pick(const QString& english, const QString& japanese) { return isJapanese() ? japanese : english; }

QString L10n::format(const QString& formatText, const QString& argument) {
    static const QString token = QStringLiteral("%1$@");
    QString result = formatText;
    const qsizetype at = result.indexOf(token);
    if (at >= 0) result.replace(at, token.size(), argument);
    return result;
}

std::function<QLocale()> L10n::setSystemLocaleSource(std::function<QLocale()> source) {
    return std::exchange(systemLocaleSource(), std::move(source));
}

#define L10N_ENTRY(name, english, japanese) \
    QString L10n::name() { return chooseUtf8(english, japanese); }
#include "core/l10n_table.inc"
#undef L10N_ENTRY

QString L10n::appNameDesc(bool showsAppName) {
    if (showsAppName) return pick(QStringLiteral("3-line: App Name / Title / Detail"), QStringLiteral("3行表示: アプリ名 / タイトル / 詳細"));
    return pick(QStringLiteral("2-line: Title / Detail"), QStringLiteral("2行表示: タイトル / 詳細"));
}

std::span<const L10n::Entry> L10n::entries() { return kEntries; }
