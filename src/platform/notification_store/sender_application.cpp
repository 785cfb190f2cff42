#include "platform/notification_store/sender_application.h"

#include "platform/files/regular_file.h"

#include <QStringList>

namespace platform {

namespace {

constexpr qint64 kMaxFileBytes = 64 * 1024;

QString fileText(const QString& path, const FileReadCanceller* canceller = nullptr) {
    const auto bytes = readRegularFile(path, kMaxFileBytes, canceller);
    return bytes ? QString::fromUtf8(*bytes) : QString();
}

// The "name" of the [Application] group of a .flatpak-info key file.
QString flatpakApplication(const QString& info) {
    bool inApplication = false;
    for (const QString& raw : info.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inApplication = line == QLatin1String("[Application]");
        } else if (inApplication && line.startsWith(QLatin1String("name="))) {
            return line.mid(5).trimmed();
        }
    }
    return {};
}

// systemd-escape's \xNN.
QString unescaped(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\\') && i + 3 < text.size() && text.at(i + 1) == QLatin1Char('x')) {
            bool ok = false;
            const int code = text.mid(i + 2, 2).toInt(&ok, 16);
            if (ok && code > 0) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}

}  // namespace

QString applicationOfUnit(const QString& unit) {
    // app[-<launcher>]-<id>[@<random>].service or app[-<launcher>]-<id>-<random>.scope, where the id
    // has its own dashes escaped.
    if (!unit.startsWith(QLatin1String("app-"))) return {};
    QString rest = unit.mid(4);
    if (rest.endsWith(QLatin1String(".service"))) {
        rest.chop(8);
        const qsizetype at = rest.indexOf(QLatin1Char('@'));
        if (at >= 0) rest.truncate(at);
    } else if (rest.endsWith(QLatin1String(".scope"))) {
        rest.chop(6);
        const qsizetype dash = rest.lastIndexOf(QLatin1Char('-'));
        if (dash < 0) return {};
        rest.truncate(dash);
    } else {
        return {};
    }
    rest = rest.mid(rest.lastIndexOf(QLatin1Char('-')) + 1);
    return unescaped(rest);
}

QString applicationOfProcess(qint64 pid, const QString& procRoot, const FileReadCanceller* canceller) {
    if (pid <= 0) return {};
    const QString process = procRoot + QLatin1Char('/') + QString::number(pid);
    const QString flatpak = flatpakApplication(fileText(process + QStringLiteral("/root/.flatpak-info"), canceller));
    if (!flatpak.isEmpty()) return flatpak;
    // One line per hierarchy: "0::/user.slice/.../app-gnome-org.gnome.Terminal-1234.scope".
    for (const QString& line : fileText(process + QStringLiteral("/cgroup")).split(QLatin1Char('\n'))) {
        const QStringList units = line.section(QLatin1Char(':'), 2).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (auto unit = units.rbegin(); unit != units.rend(); ++unit) {
            if (unit->startsWith(QLatin1String("snap."))) {
                const QString snap = unit->section(QLatin1Char('.'), 1, 1);
                if (!snap.isEmpty()) return snap;
            }
            const QString id = applicationOfUnit(*unit);
            if (!id.isEmpty()) return id;
        }
    }
    return fileText(process + QStringLiteral("/comm")).trimmed();
}

}  // namespace platform
