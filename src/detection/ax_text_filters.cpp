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

const QStringList& interfaceWords() {
    static const QStringList words{QStringLiteral("notification center"),
                                   QStringLiteral("通知センター"),
                                   QStringLiteral("show more"),
                                   QStringLiteral("もっと見る"),
                                   QStringLiteral("close"),
                                   QStringLiteral("閉じる"),
                                   QStringLiteral("dismiss"),
                                   QStringLiteral("clear"),
                                   QStringLiteral("クリア")};
    return words;
}

const QStringList& relativeTimeWords() {
    static const QStringList words{
        QStringLiteral("秒前"),        QStringLiteral("分前"),        QStringLiteral("時間前"),
        QStringLiteral("日前"),        QStringLiteral("週間前"),      QStringLiteral("ヶ月前"),
        QStringLiteral("年前"),        QStringLiteral("seconds ago"), QStringLiteral("second ago"),
        QStringLiteral("minutes ago"), QStringLiteral("minute ago"),  QStringLiteral("hours ago"),
        QStringLiteral("hour ago"),    QStringLiteral("days ago"),    QStringLiteral("day ago"),
        QStringLiteral("weeks ago"),   QStringLiteral("week ago"),    QStringLiteral("months ago"),
        QStringLiteral("month ago"),   QStringLiteral("years ago"),   QStringLiteral("year ago"),
        QStringLiteral("just now"),    QStringLiteral("たった今")};
    return words;
}

const QStringList& creditTokens() {
    static const QStringList words{QStringLiteral("feat."), QStringLiteral("ft."), QStringLiteral("featuring"),
                                   QStringLiteral("vs."),   QStringLiteral("vs"),  QStringLiteral("&amp;")};
    return words;
}

const QStringList& punctuationMarks() {
    static const QStringList marks{QStringLiteral("—"),  QStringLiteral("–"),  QStringLiteral(" - "),
                                   QStringLiteral("（"), QStringLiteral("）"), QStringLiteral("("),
                                   QStringLiteral(")")};
    return marks;
}

const QStringList& commonWords() {
    static const QStringList words{QStringLiteral("now"),        QStringLiteral("今"),        QStringLiteral("options"),
                                   QStringLiteral("オプション"), QStringLiteral("yesterday"), QStringLiteral("昨日"),
                                   QStringLiteral("today"),      QStringLiteral("今日"),      QStringLiteral("recent"),
                                   QStringLiteral("最近"),       QStringLiteral("new"),       QStringLiteral("新着")};
    return words;
}

const QStringList& bundlePrefixes() {
    static const QStringList prefixes{QStringLiteral("com."), QStringLiteral("org."), QStringLiteral("net."),
                                      QStringLiteral("io."),  QStringLiteral("app."), QStringLiteral("dev."),
                                      QStringLiteral("co.")};
    return prefixes;
}

const QRegularExpression& japaneseTimeUnit() {
    static const QRegularExpression re(QStringLiteral("^\\d+\\s*[秒分時日週月年]"),
                                       QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

const QRegularExpression& decimalDigit() {
    static const QRegularExpression re(QStringLiteral("\\d"), QRegularExpression::UseUnicodePropertiesOption);
    return re;
}

const QRegularExpression& bundlePart() {
    static const QRegularExpression re(QStringLiteral("^[a-zA-Z0-9][a-zA-Z0-9-]*$"));
    return re;
}

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
    if (containsAny(l, interfaceWords())) return false;
    if (containsAny(l, relativeTimeWords())) return false;
    if (japaneseTimeUnit().match(t).hasMatch()) return false;
    if (containsAny(l, creditTokens())) return false;
    if (containsAny(t, punctuationMarks())) return false;
    if (length >= 13 && decimalDigit().match(t).hasMatch()) return false;
    return !commonWords().contains(l);
}

bool isValidBundleId(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    if (parts.size() < 2) return false;
    const QString l = text.toLower();
    if (l.contains(QStringLiteral("notification")) || l.contains(QStringLiteral("banner"))) return false;
    for (const auto& part : parts)
        if (!bundlePart().match(part).hasMatch()) return false;
    for (const auto& prefix : bundlePrefixes())
        if (l.startsWith(prefix)) return true;
    return false;
}

}  // namespace AXTextFilters
