#include "platform/workspace/desktop_entries.h"

#include "platform/files/regular_file.h"
#include "platform/process/child_process.h"
#include "platform/workspace/icon_lookup.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

#include <algorithm>
#include <cstdlib>
#include <set>

namespace platform {

namespace {

bool sameText(const QString& a, const QString& b) {
    return !a.isEmpty() && !b.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
}

// The file name of the program an Exec line starts.
QString programName(const DesktopEntry& entry) {
    const QStringList command = DesktopEntries::commandLine(entry);
    return command.isEmpty() ? QString() : QFileInfo(command.front()).fileName();
}

// The entry's id, or the last dotted part of it, is the window's class or instance ignoring case.
bool namedLoosely(const DesktopEntry& e, const QString& wmClass, const QString& wmInstance) {
    const QString last = e.id.section(QLatin1Char('.'), -1);
    return sameText(e.id, wmClass) || sameText(e.id, wmInstance) || sameText(last, wmClass) || sameText(last, wmInstance);
}

}  // namespace

QStringList DesktopEntries::dataDirectories() {
    QStringList roots;
    const QString home = qEnvironmentVariable("XDG_DATA_HOME");
    roots << (home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : home);
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty()) dirs = QStringLiteral("/usr/local/share:/usr/share");
    roots << dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return roots;
}

QStringList DesktopEntries::directories() {
    QStringList result;
    for (const QString& root : dataDirectories()) result << root + QStringLiteral("/applications");
    return result;
}

std::optional<DesktopEntry> DesktopEntries::parse(const QString& path, const QString& id) {
    // Entries are a few hundred bytes; a huge file is not one, and a pipe or device never is.
    constexpr qint64 kLimit = 256 * 1024;
    if (!QFileInfo(path).isFile()) return std::nullopt;
    // Any file may be named so, the notification store's included.
    const std::optional<QByteArray> read = readRegularFile(path, kLimit);
    if (!read) return std::nullopt;
    const QByteArray& bytes = *read;
    DesktopEntry entry;
    entry.id = id;
    entry.path = QFileInfo(path).absoluteFilePath();
    bool inMain = false;
    bool application = false;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
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
        else if (key == QLatin1String("Exec")) entry.exec = value;
        else if (key == QLatin1String("Path")) entry.workingDirectory = value;
        else if (key == QLatin1String("Categories")) entry.categories = value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        else if (key == QLatin1String("DBusActivatable")) entry.dbusActivatable = value == QLatin1String("true");
        else if (key == QLatin1String("Hidden") && value == QLatin1String("true")) return std::nullopt;
    }
    if (!application || entry.name.isEmpty()) return std::nullopt;
    return entry;
}

DesktopEntries::Stamps DesktopEntries::directoryStamps(const QString& root) {
    QString base = root;
    while (base.endsWith(QLatin1Char('/'))) base.chop(1);
    Stamps stamps;
    for (const QString& dir : directories()) stamps.emplace_back(dir, QFileInfo(base + dir).lastModified());
    return stamps;
}

bool DesktopEntries::settled(const Stamps& stamps) {
    // A folder's stamp is kept to the millisecond, and file systems stamp with a coarse clock: a
    // folder changed just now may change again under the same stamp. Only an older one is trusted
    // (or one from the future, which no change now can give).
    constexpr qint64 kSettleMs = 2000;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return std::all_of(stamps.begin(), stamps.end(), [&](const auto& stamp) {
        return !stamp.second.isValid() || std::abs(stamp.second.msecsTo(now)) > kSettleMs;
    });
}

void DesktopEntries::refreshIfChanged() {
    Stamps stamps = directoryStamps();
    if (loaded_ && settled_ && stamps == stamps_) return;
    settled_ = settled(stamps);
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
    // The instance names the program more closely than the class, which several entries may claim
    // (xterm's own entry and a distribution's copy with StartupWMClass=XTerm): an entry named
    // exactly after the window comes before another entry's StartupWMClass.
    const auto exactly = [this](const QString& name) -> const DesktopEntry* {
        if (name.isEmpty()) return nullptr;
        for (const DesktopEntry& e : entries_) {
            if (e.id == name) return &e;
        }
        for (const DesktopEntry& e : entries_) {
            if (e.startupWmClass == name) return &e;
        }
        return nullptr;
    };
    if (const DesktopEntry* e = exactly(wmInstance)) return *e;
    for (const DesktopEntry& e : entries_) {
        if (e.startupWmClass == wmClass && !wmClass.isEmpty()) return e;
    }
    for (const DesktopEntry& e : entries_) {
        if (namedLoosely(e, wmClass, wmInstance)) return e;
    }
    return std::nullopt;
}

bool DesktopEntries::describes(const DesktopEntry& entry, const QString& wmClass, const QString& wmInstance) {
    const auto exact = [](const QString& a, const QString& b) { return !a.isEmpty() && a == b; };
    return exact(entry.id, wmInstance) || exact(entry.startupWmClass, wmInstance) ||
           exact(entry.startupWmClass, wmClass) || namedLoosely(entry, wmClass, wmInstance);
}

std::optional<DesktopEntry> DesktopEntries::resolve(const QString& identifier) {
    QString id = identifier.trimmed();
    if (id.endsWith(QLatin1String(".desktop"))) id.chop(8);
    if (id.isEmpty()) return std::nullopt;
    refreshIfChanged();
    for (const DesktopEntry& e : entries_) {
        if (e.id == id) return e;
    }
    for (const DesktopEntry& e : entries_) {
        if (sameText(e.startupWmClass, id)) return e;
    }
    for (const DesktopEntry& e : entries_) {
        if (sameText(e.id, id) || sameText(e.name, id) || sameText(programName(e), id)) return e;
    }
    return std::nullopt;
}

QIcon DesktopEntries::icon(const QString& iconField) {
    // Every file is read through readRegularFile and decoded from memory, never opened by name
    // (by QIcon): an entry may name any file, the notification store's included.
    if (iconField.isEmpty() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return {};
    const IconLookup::Answer answer = IconLookup::shared().find(iconField);
    return answer.image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(answer.image));
}

QStringList DesktopEntries::commandLine(const DesktopEntry& entry) {
    // The value's own escapes first (\s, \n, \t, \r, \\), then the command line's quoting: words
    // split at unquoted spaces; inside double quotes a backslash keeps the next character.
    QString exec;
    for (qsizetype i = 0; i < entry.exec.size(); ++i) {
        QChar c = entry.exec.at(i);
        if (c == QLatin1Char('\\') && i + 1 < entry.exec.size()) {
            switch (entry.exec.at(i + 1).unicode()) {
            case 's': c = QLatin1Char(' '); ++i; break;
            case 'n': c = QLatin1Char('\n'); ++i; break;
            case 't': c = QLatin1Char('\t'); ++i; break;
            case 'r': c = QLatin1Char('\r'); ++i; break;
            case '\\': ++i; break;
            default: break;
            }
        }
        exec += c;
    }
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                word += exec.at(++i);
            } else {
                word += c;
            }
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inWord) words << word;
            word.clear();
            inWord = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) return {};
    if (inWord) words << word;

    // Nothing is opened: a code that stands for files or URLs goes, alone or inside a word, and
    // so do the deprecated ones, which stand for nothing.
    QStringList command;
    for (const QString& w : words) {
        static const QStringList removedCodes{QStringLiteral("%f"), QStringLiteral("%F"), QStringLiteral("%u"),
                                              QStringLiteral("%U"), QStringLiteral("%i"), QStringLiteral("%d"),
                                              QStringLiteral("%D"), QStringLiteral("%n"), QStringLiteral("%N"),
                                              QStringLiteral("%v"), QStringLiteral("%m")};
        if (removedCodes.contains(w)) continue;
        QString expanded;
        for (qsizetype i = 0; i < w.size(); ++i) {
            if (w.at(i) != QLatin1Char('%') || i + 1 >= w.size()) {
                expanded += w.at(i);
                continue;
            }
            const QChar code = w.at(++i);
            if (code == QLatin1Char('%')) expanded += code;
            else if (code == QLatin1Char('c')) expanded += entry.name;
            else if (code == QLatin1Char('k')) expanded += entry.path;
        }
        command << expanded;
    }
    if (command.isEmpty() || command.front().isEmpty()) return {};
    return command;
}

bool DesktopEntries::launch(const DesktopEntry& entry, ProcessLauncher& launcher) {
    const QStringList command = commandLine(entry);
    if (command.isEmpty()) return false;
    const QString program =
        QFileInfo(command.front()).isAbsolute() ? command.front() : QStandardPaths::findExecutable(command.front());
    if (program.isEmpty()) return false;
    ProcessSpec spec;
    spec.program = program;
    spec.arguments = command.mid(1);
    if (QFileInfo(entry.workingDirectory).isDir()) spec.workingDirectory = entry.workingDirectory;
    return launcher.startDetached(spec).has_value();
}

}  // namespace platform
