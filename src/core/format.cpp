#include "core/format.h"

#include <QTextBoundaryFinder>

#include <charconv>
#include <cmath>
#include <system_error>

namespace format {

QString number(double value) {
    if (std::isnan(value)) return QStringLiteral("nan");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");

    char buffer[64];
    const double magnitude = std::fabs(value);
    const bool decimal = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
    const auto form = decimal ? std::chars_format::fixed : std::chars_format::scientific;
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, form);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (decimal && !text.contains(QLatin1Char('.'))) text += QStringLiteral(".0");
    return text;
}

QString size(double width, double height) {
    return QLatin1Char('(') + number(width) + QStringLiteral(", ") + number(height) + QLatin1Char(')');
}

QString point(double x, double y) { return size(x, y); }

QString optional(std::optional<double> value) {
    return value ? QStringLiteral("Optional(") + number(*value) + QLatin1Char(')') : QStringLiteral("nil");
}

QString boolean(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

namespace {
QString quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case 0:
            out += QStringLiteral("\\0");
            break;
        default:
            out += c;
        }
    }
    return out + QLatin1Char('"');
}
}  // namespace

QString quotedList(const QStringList& items) {
    QStringList parts;
    parts.reserve(items.size());
    for (const auto& item : items) parts << quoted(item);
    return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString intList(const std::vector<int64_t>& items) {
    QStringList parts;
    parts.reserve(qsizetype(items.size()));
    for (int64_t item : items) parts << QString::number(item);
    return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QString clipped(const QString& text, qsizetype maxUnits) {
    if (text.size() <= maxUnits) return text;
    if (maxUnits <= 0) return {};
    // A cluster is short: a window past the cut is enough to see where the one there began.
    const QString window = text.left(maxUnits + 64);
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, window);
    boundaries.setPosition(maxUnits);
    qsizetype cut = boundaries.isAtBoundary() ? maxUnits : boundaries.toPreviousBoundary();
    if (cut < 0) cut = 0;
    return text.left(cut);
}

}  // namespace format
