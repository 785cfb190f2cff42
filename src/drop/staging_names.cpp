#include "drop/staging_names.h"

#include <QFile>
#include <QRegularExpression>

namespace staging {

QString fittedName(const QString& prefix, const QString& name, const QString& suffix) {
    const qsizetype fixed = QFile::encodeName(prefix).size() + QFile::encodeName(suffix).size();
    QString kept = name;
    while (!kept.isEmpty() && fixed + QFile::encodeName(kept).size() > maxNameBytes) {
        // Never split a surrogate pair.
        kept.chop(kept.size() >= 2 && kept.back().isLowSurrogate() && kept.at(kept.size() - 2).isHighSurrogate() ? 2 : 1);
    }
    return prefix + kept + suffix;
}

QString partName(const QString& name, long long pid, unsigned serial) {
    return fittedName(QStringLiteral("."), name,
                      QLatin1Char('.') + QString::number(pid) + QLatin1Char('-') + QString::number(serial) +
                          QStringLiteral(".part"));
}

long long partOwner(const QString& fileName) {
    static const QRegularExpression form(QStringLiteral(R"(^\..*\.(\d{1,10})-\d{1,10}\.part$)"),
                                         QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = form.match(fileName);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

}  // namespace staging
