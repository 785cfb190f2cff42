#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// The printed forms of values in log lines: numbers as the shortest text that reads back to the
// same double, always with a decimal point or an exponent.
namespace format {

// "3.0", "2.5", "0.0001", "-0.5"; exponent form outside 1e-4 <= |x| < 2^53 ("1e-05",
// "1.5e-07", "1e+16"); "inf", "-inf", "nan".
QString number(double value);
// "(700.0, 300.0)"
QString size(double width, double height);
QString point(double x, double y);
// "Optional(1.0)" or "nil"
QString optional(std::optional<double> value);
// "true" or "false"
QString boolean(bool value);
// ["a", "b"] (quotes, backslashes and control characters escaped); [] when empty
QString quotedList(const QStringList& items);
// [80, 75]
QString intList(const std::vector<int64_t>& items);

// `text` cut to at most `maxUnits` UTF-16 units, at the last character (grapheme) boundary that
// fits, so neither a surrogate pair nor a base letter and its marks are split. Costs the same
// whatever the length of `text`.
QString clipped(const QString& text, qsizetype maxUnits);

}  // namespace format
