#include "platform/workspace/desktop_entries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <set>

namespace platform {

QStringList DesktopEntries::directories() {
    QStringList roots;
    const QString home = qEnvironmentVariable("XDG_DATA_HOME");
    roots << (home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : home);
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty()) dirs = QStringLiteral("/usr/local/share:/usr/share");
    roots << dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    QStringList result;
    for (const QString& root : roots) result << root + QStringLiteral("/applications");
    return result;
}

std::optional<DesktopEntry> DesktopEntries::parse(const QString& path, const QString& id) {
    QFile file(path);
    // Entries are a few hundred bytes; a huge file is not one.
    if (file.size() > 256 * 1024 || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    DesktopEntry entry;
    entry.id = id;
    bool inMain = false;
    bool application = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain || line.startsWith(QLatin1Char('#'))) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Type")) application = value == QLatin1String("Application");
        else if (key == QLatin1String("Name")) entry.name = value;
        else if (key == QLatin1String("Icon")) entry.icon = value;
        else if (key == QLatin1String("StartupWMClass")) entry.startupWmClass = value;
        else if (key == QLatin1String("Hidden") && value == QLatin1String("true")) return std::nullopt;
    }
    if (!application || entry.name.isEmpty()) return std::nullopt;
    return entry;
}

void DesktopEntries::refreshIfChanged() {
    std::vector<std::pair<QString, QDateTime>> stamps;
    for (const QString& dir : directories()) stamps.emplace_back(dir, QFileInfo(dir).lastModified());
    if (loaded_ && stamps == stamps_) return;
    stamps_ = std::move(stamps);
    loaded_ = true;
    entries_.clear();
    std::set<QString> seen;
    for (const auto& [dir, stamp] : stamps_) {
        QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = QDir(dir).relativeFilePath(path);
            id.chop(8);
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            if (!seen.insert(id).second) continue;
            if (auto entry = parse(path, id)) entries_.push_back(std::move(*entry));
        }
    }
}

std::optional<DesktopEntry> DesktopEntries::match(const QString& desktopHint, const QString& wmClass,
                                                  const QString& wmInstance) {
    refreshIfChanged();
    if (!desktopHint.isEmpty()) {
        for (const DesktopEntry& e : entries_) {
            if (e.id == desktopHint) return e;
        }
    }
    for (const DesktopEntry& e : entries_) {
        if (!e.startupWmClass.isEmpty() && (e.startupWmClass == wmClass || e.startupWmClass == wmInstance)) return e;
    }
    const auto same = [](const QString& a, const QString& b) {
        return !a.isEmpty() && !b.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
    };
    for (const DesktopEntry& e : entries_) {
        const QString last = e.id.section(QLatin1Char('.'), -1);
        if (same(e.id, wmClass) || same(e.id, wmInstance) || same(last, wmClass) || same(last, wmInstance)) return e;
    }
    return std::nullopt;
}

}  // namespace platform
