#include "core/l10n.h"
#include "support/fixtures.h"

#include <QSet>

namespace {

class L10nTest : public testsupport::QuillvexTest {
protected:
    L10nTest() { previous_ = L10n::setSystemLocaleSource([this] { return systemLocale; }); }
    ~L10nTest() override { L10n::setSystemLocaleSource(previous_); }

    QLocale systemLocale{QLocale::English, QLocale::UnitedStates};

private:
    std::function<QLocale()> previous_;
};

TEST_F(L10nTest, NoStoredLanguageFollowsTheSystemLocale) {
    EXPECT_EQ(L10n::selectedLanguage(), QStringLiteral("auto"));
    systemLocale = QLocale(QLocale::Japanese, QLocale::Japan);
    EXPECT_TRUE(L10n::isJapanese());
    EXPECT_EQ(L10n::tabGeneral(), QStringLiteral("一般"));
    for (QLocale other : {QLocale(QLocale::English), QLocale(QLocale::French), QLocale(QLocale::Chinese), QLocale::c()}) {
        systemLocale = other;
        EXPECT_FALSE(L10n::isJapanese()) << other.name().toStdString();
    }
    EXPECT_EQ(L10n::tabGeneral(), QStringLiteral("General"));
}

TEST_F(L10nTest, StoredLanguageWinsOnlyWhenExactlyEnOrJa) {
    systemLocale = QLocale(QLocale::Japanese, QLocale::Japan);
    L10n::setSelectedLanguage(QStringLiteral("en"));
    EXPECT_FALSE(L10n::isJapanese());
    for (const char* other : {"JA", "japanese", "auto", ""}) {
        L10n::setSelectedLanguage(QString::fromLatin1(other));
        EXPECT_TRUE(L10n::isJapanese()) << other;  // treated as auto: the Japanese system decides
    }

    systemLocale = QLocale(QLocale::English, QLocale::UnitedStates);
    L10n::setSelectedLanguage(QStringLiteral("JA"));
    EXPECT_FALSE(L10n::isJapanese());
    EXPECT_EQ(L10n::checkForUpdates(), QStringLiteral("Check for Updates"));
    L10n::setSelectedLanguage(QStringLiteral("ja"));  // takes effect at the very next read
    EXPECT_EQ(L10n::checkForUpdates(), QStringLiteral("アップデートの確認"));
    EXPECT_EQ(L10n::pick(QStringLiteral("Settings"), QStringLiteral("設定")), QStringLiteral("設定"));
}

TEST_F(L10nTest, EveryEntryHasBothTextsAndFormatsHoldOnePlaceholder) {
    const QString token = QStringLiteral("%1$@");
    QSet<QString> names;
    int formats = 0;
    for (const auto& entry : L10n::entries()) {
        const QString name = QString::fromLatin1(entry.name);
        EXPECT_FALSE(names.contains(name)) << entry.name;
        names.insert(name);
        const QString english = QString::fromUtf8(entry.english);
        const QString japanese = QString::fromUtf8(entry.japanese);
        EXPECT_FALSE(english.isEmpty()) << entry.name;
        EXPECT_FALSE(japanese.isEmpty()) << entry.name;
        const int expected = name.endsWith(QLatin1String("Format")) ? 1 : 0;
        formats += expected;
        EXPECT_EQ(english.count(token), expected) << entry.name;
        EXPECT_EQ(japanese.count(token), expected) << entry.name;
    }
    EXPECT_EQ(formats, 6);
    EXPECT_EQ(names.size(), 133);
}

TEST_F(L10nTest, FormatInsertsTheArgumentLiterally) {
    L10n::setSelectedLanguage(QStringLiteral("en"));
    EXPECT_EQ(L10n::format(L10n::updateAvailableFormat(), QStringLiteral("1.4.0")),
              QStringLiteral("Update to 1.4.0 is available"));
    // printf-like sequences and the token itself in the argument stay as they are.
    EXPECT_EQ(L10n::format(L10n::updateStatusFailedFormat(), QStringLiteral("100% %@ %1$@ %s")),
              QStringLiteral("Error: 100% %@ %1$@ %s"));
    L10n::setSelectedLanguage(QStringLiteral("ja"));
    EXPECT_EQ(L10n::format(L10n::updateAvailableFormat(), QStringLiteral("1.4.0")),
              QStringLiteral("1.4.0 にアップデートできます"));
    EXPECT_EQ(L10n::appNameDesc(false), QStringLiteral("2行表示: タイトル / 詳細"));
    EXPECT_EQ(L10n::dropDesc(), QStringLiteral("ファイルをノッチにドラッグ＆ドロップ"));  // full-width ampersand
    L10n::setSelectedLanguage(QStringLiteral("en"));
    EXPECT_EQ(L10n::appNameDesc(true), QStringLiteral("3-line: App Name / Title / Detail"));
}

}  // namespace
