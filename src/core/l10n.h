#pragma once

// The English/Japanese texts of the application and the choice between them. Every read decides
// the language afresh (no cache), so a change of "appLanguage" shows at the very next read.

#include <QLocale>
#include <QString>

#include <functional>
#include <span>

class L10n {
public:
    L10n() = delete;

    // The user-defaults key of the language setting and its values.
    static inline const QString languageKey = QStringLiteral("appLanguage");
    static inline const QString languageAuto = QStringLiteral("auto");
    static inline const QString languageEnglish = QStringLiteral("en");
    static inline const QString languageJapanese = QStringLiteral("ja");

    // "ja" stored: true; "en": false; anything else (absent, "auto", "JA"...): whether the
    // system locale's language code is "ja".
    static bool isJapanese();

    // The stored language text, or "auto" when none is stored.
    static QString selectedLanguage();
    static void setSelectedLanguage(const QString& language);

    // Chooses between an English/Japanese pair written at its use site.
    static QString pick(const QString& english, const QString& japanese);

    // Replaces the "%1$@" of a format entry by `argument`, inserted literally.
    static QString format(const QString& formatText, const QString& argument);

    // Where the system locale comes from (tests pass a fixed one); an empty function restores
    // QLocale::system(). Returns the previous source.
    static std::function<QLocale()> setSystemLocaleSource(std::function<QLocale()> source);

#define L10N_ENTRY(name, english, japanese) static QString name();
#include "core/l10n_table.inc"
#undef L10N_ENTRY

    static QString tintBlack() { return notchBgBlack(); }
    static QString notchColorBlack() { return notchBgBlack(); }

    // The overlay's layout description: three lines with the application name, else two.
    static QString appNameDesc(bool showsAppName);

    // Every row of the table, for checks over all texts.
    struct Entry {
        const char* name;
        const char* english;  // UTF-8
        const char* japanese;  // UTF-8
    };
    static std::span<const Entry> entries();
};
