#include "platform/workspace/desktop_entries.h"

#include "platform/files/local_reach.h"
#include "platform/files/regular_file.h"
#include "platform/process/child_process.h"
#include "platform/workspace/desktop_entries_elsewhere.h"
#include "platform/workspace/icon_lookup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Entries are a few hundred bytes; a huge file is not one, and a pipe or device never is.
constexpr qint64 kEntryLimit = 256 * 1024;
// How deep below an applications folder entries are looked for.
constexpr int kMaxDepth = 8;

bool isEntryFile(const char* name) {
    const size_t length = std::strlen(name);
    return length >= 8 && std::strcmp(name + length - 8, ".desktop") == 0;
}

// The entry files in the folder open at `fd` (reached here at `reached`) and its subfolders, each
// given to `found` with its path below the folder and its bytes. Nothing that lies on another file
// system is looked at: a subfolder there is not entered, and a link to a file there is added to
// `elsewhere` (its spelling under `spelled`), for a child to read.
void readHere(const LocalReach& reach, int fd, const QByteArray& reached, const QByteArray& spelled,
              const QByteArray& relative, int depth, const std::function<void(const QByteArray&, QByteArray)>& found,
              std::vector<QByteArray>* elsewhere) {
    forEachEntry(fd, [&](const char* name, unsigned char type) {
        const QByteArray here = reached + '/' + name;
        // A mount point of another file system, or of a kernel's view, is not even looked at.
        if (!reach.mounts().isLocal(here) || reach.mounts().isVirtual(here)) return true;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return true;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            // A link to a folder is not entered.
            const int sub = depth < kMaxDepth ? ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
            if (sub < 0) return true;
            readHere(reach, sub, here, spelled, relative + name + '/', depth + 1, found, elsewhere);
            ::close(sub);
        } else if ((type == DT_REG || type == DT_LNK) && isEntryFile(name)) {
            if (type == DT_LNK && !reach.inPlace(QFile::decodeName(here))) {
                elsewhere->push_back(spelled + '/' + relative + name);
                return true;
            }
            if (std::optional<QByteArray> bytes = readRegularFile(QFile::decodeName(here), kEntryLimit))
                found(relative + name, std::move(*bytes));
        }
        return true;
    });
}

// The status of the applications folder at `path`, asked for each notification. The folder is
// reached once through LocalReach and then asked through the handle kept, one call each time; it
// is reached anew once it went, and at least every kReachAgain, so a folder put in its place (or
// a link put on the way to it) is followed.
std::optional<struct stat> folderStatus(const QByteArray& path) {
    constexpr auto kReachAgain = std::chrono::seconds(2);
    struct Kept {
        int fd = -1;
        std::chrono::steady_clock::time_point reached;
    };
    // Never destroyed: a lookup may still run as the process ends.
    static std::mutex mutex;
    static std::map<QByteArray, Kept>& kept = *new std::map<QByteArray, Kept>;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex);
    Kept& folder = kept[path];
    struct stat info {};
    if (folder.fd >= 0 && now - folder.reached < kReachAgain && ::fstat(folder.fd, &info) == 0 && info.st_nlink > 0)
        return info;
    if (folder.fd >= 0) ::close(folder.fd);
    folder.fd = LocalReach().open(path, O_PATH | O_DIRECTORY);
    folder.reached = now;
    if (folder.fd < 0 || ::fstat(folder.fd, &info) != 0) return std::nullopt;
    return info;
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
    // Any file may be named so, the notification store's included. One that lies on another file
    // system is never read on the caller's thread: it is known as a child read it, or not at all.
    const std::optional<QByteArray> read = LocalReach().inPlace(path) ? readRegularFile(path, kEntryLimit)
                                                                      : EntriesElsewhere::shared().read(QFile::encodeName(
                                                                            QFileInfo(path).absoluteFilePath()));
    if (!read) return std::nullopt;
    return parse(*read, path, id);
}

std::optional<DesktopEntry> DesktopEntries::parse(const QByteArray& bytes, const QString& path, const QString& id) {
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
    for (const QString& dir : directories()) {
        // Looked at only where it lies on this machine's own file systems: the others change unseen.
        const std::optional<struct stat> info = folderStatus(QFile::encodeName(base + dir));
        // In UTC: asked at every notification, and local time would look up the time zone each time.
        stamps.emplace_back(dir, info ? QDateTime::fromMSecsSinceEpoch(qint64(info->st_mtim.tv_sec) * 1000 +
                                                                            info->st_mtim.tv_nsec / 1000000,
                                                                        Qt::UTC)
                                      : QDateTime());
    }
    // Entries read elsewhere come when a child's read ends; a mount or unmount may bring or take
    // any folder's. Both only grow: their sum changes with either.
    const quint64 elsewhere = EntriesElsewhere::shared().generation() + MountTable::changes();
    stamps.emplace_back(QString(), QDateTime::fromMSecsSinceEpoch(qint64(elsewhere), Qt::UTC));
    return stamps;
}

QStringList DesktopEntries::folderNames(const QString& folder) {
    QStringList names;
    const LocalReach reach;
    const QByteArray path = QFile::encodeName(folder);
    const int fd = reach.open(path, O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        forEachEntry(fd, [&names](const char* name, unsigned char) {
            names << QFile::decodeName(name);
            return true;
        });
        ::close(fd);
    } else if (errno == EXDEV) {
        if (const auto found = EntriesElsewhere::shared().files({path})) {
            for (const EntriesElsewhere::File& file : found->front())
                if (!file.relative.contains('/')) names << QFile::decodeName(file.relative);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
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
    const auto add = [&](const QString& dir, const QByteArray& relative, const QByteArray& bytes) {
        QString id = QFile::decodeName(relative);
        id.chop(8);
        id.replace(QLatin1Char('/'), QLatin1Char('-'));
        if (!seen.insert(id).second) return;
        if (auto entry = parse(bytes, dir + QLatin1Char('/') + QFile::decodeName(relative), id))
            entries_.push_back(std::move(*entry));
    };
    const LocalReach reach;
    for (const QString& dir : directories()) {
        const QByteArray spelled = QFile::encodeName(dir);
        QByteArray reached;
        const int fd = reach.open(spelled, O_RDONLY | O_DIRECTORY, &reached);
        if (fd < 0 && errno != EXDEV) continue;
        std::vector<QByteArray> elsewhere;
        if (fd >= 0) {
            readHere(reach, fd, reached, spelled, {}, 0,
                     [&](const QByteArray& relative, const QByteArray& bytes) { add(dir, relative, bytes); }, &elsewhere);
            ::close(fd);
        } else {
            elsewhere.push_back(spelled);
        }
        const auto found = EntriesElsewhere::shared().files(elsewhere);
        for (size_t i = 0; found && i < elsewhere.size(); ++i) {
            const QByteArray below = elsewhere[i].mid(spelled.size() + 1);
            for (const EntriesElsewhere::File& file : (*found)[i])
                add(dir, file.relative.isEmpty() ? below : file.relative, file.bytes);
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
    const std::optional<struct stat> folder =
        entry.workingDirectory.isEmpty() ? std::nullopt : LocalReach().status(QFile::encodeName(entry.workingDirectory));
    if (folder && S_ISDIR(folder->st_mode)) spec.workingDirectory = entry.workingDirectory;
    return launcher.startDetached(spec).has_value();
}

}  // namespace platform
