#include "detection/ax_text_filters.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTextBoundaryFinder>

namespace AXTextFilters {

namespace {

bool containsAny(const QString& text, const QStringList& needles) {
    for (const auto& needle : needles)
        if (text.contains(needle)) return true;
    return false;
}

// Each list as the filters name it; tested in lower case unless said otherwise.
const QStringList kInterfaceWords{QStringLiteral("notification center"), QStringLiteral("通知センター"),
                                  QStringLiteral("show more"),           QStringLiteral("もっと見る"),
                                  QStringLiteral("close"),               QStringLiteral("閉じる"),
                                  QStringLiteral("dismiss"),             QStringLiteral("clear"),
                                  QStringLiteral("クリア")};
const QStringList kRelativeTimeWords{
    QStringLiteral("秒前"),        QStringLiteral("分前"),        QStringLiteral("時間前"),
    QStringLiteral("日前"),        QStringLiteral("週間前"),      QStringLiteral("ヶ月前"),
    QStringLiteral("年前"),        QStringLiteral("seconds ago"), QStringLiteral("second ago"),
    QStringLiteral("minutes ago"), QStringLiteral("minute ago"),  QStringLiteral("hours ago"),
    QStringLiteral("hour ago"),    QStringLiteral("days ago"),    QStringLiteral("day ago"),
    QStringLiteral("weeks ago"),   QStringLiteral("week ago"),    QStringLiteral("months ago"),
    QStringLiteral("month ago"),   QStringLiteral("years ago"),   QStringLiteral("year ago"),
    QStringLiteral("just now"),    QStringLiteral("たった今")};
const QStringList kCreditTokens{QStringLiteral("feat."), QStringLiteral("ft."), QStringLiteral("featuring"),
                                QStringLiteral("vs."),   QStringLiteral("vs"),  QStringLiteral("&amp;")};
// Tested on the text as it is.
const QStringList kPunctuationMarks{QStringLiteral("—"), QStringLiteral("–"), QStringLiteral(" - "),
                                    QStringLiteral("（"), QStringLiteral("）"), QStringLiteral("("),
                                    QStringLiteral(")")};
// Tested for equality.
const QStringList kCommonWords{QStringLiteral("now"),        QStringLiteral("今"),        QStringLiteral("options"),
                               QStringLiteral("オプション"), QStringLiteral("yesterday"), QStringLiteral("昨日"),
                               QStringLiteral("today"),      QStringLiteral("今日"),      QStringLiteral("recent"),
                               QStringLiteral("最近"),       QStringLiteral("new"),       QStringLiteral("新着")};
const QStringList kBundlePrefixes{QStringLiteral("com."), QStringLiteral("org."), QStringLiteral("net."),
                                  QStringLiteral("io."),  QStringLiteral("app."), QStringLiteral("dev."),
                                  QStringLiteral("co.")};

const QRegularExpression kJapaneseTimeUnit(QStringLiteral("^\\d+\\s*[秒分時日週月年]"),
                                           QRegularExpression::UseUnicodePropertiesOption);
const QRegularExpression kDecimalDigit(QStringLiteral("\\d"), QRegularExpression::UseUnicodePropertiesOption);
const QRegularExpression kBundlePart(QStringLiteral("^[a-zA-Z0-9][a-zA-Z0-9-]*$"));

}  // namespace

qsizetype characterCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1) ++count;
    return count;
}

bool shouldKeep(const QString& text) {
    const QString t = text.trimmed();
    if (characterCount(t) < 2) return false;
    const QString l = t.toLower();
    return !(l.contains(QStringLiteral("notification center")) || l == QStringLiteral("notification"));
}

bool shouldKeepAsAppName(const QString& text) {
    const QString t = text.trimmed();
    const QString l = t.toLower();
    const qsizetype length = characterCount(t);
    if (length < 2 || length > 50) return false;
    if (t.contains(QLatin1Char('\n')) || t.contains(QLatin1Char('\t'))) return false;
    if (containsAny(l, kInterfaceWords)) return false;
    if (containsAny(l, kRelativeTimeWords)) return false;
    if (kJapaneseTimeUnit.match(t).hasMatch()) return false;
    if (containsAny(l, kCreditTokens)) return false;
    if (containsAny(t, kPunctuationMarks)) return false;
    if (length >= 13 && kDecimalDigit.match(t).hasMatch()) return false;
    return !kCommonWords.contains(l);
}

bool isValidBundleId(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (parts.size() < 2) return false;
    const QString l = text.toLower();
    if (l.contains(QStringLiteral("notification")) || l.contains(QStringLiteral("banner"))) return false;
    for (const auto& part : parts)
        if (!kBundlePart.match(part).hasMatch()) return false;
    for (const auto& prefix : kBundlePrefixes)
        if (l.startsWith(prefix)) return true;
    return false;
}

}  // namespace AXTextFilters
