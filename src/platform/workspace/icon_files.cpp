#include "platform/workspace/icon_files.h"

#include "platform/files/child_file_read.h"
#include "platform/files/local_reach.h"
#include "platform/files/regular_file.h"
#include "platform/workspace/desktop_entries.h"
#include "platform/workspace/icon_folder_contents.h"
#include "platform/workspace/icon_theme_index.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include <sys/stat.h>

namespace platform {

namespace {

constexpr int kMaxSide = 4096;
// An index.theme of the largest themes is a few hundred KiB.
constexpr qint64 kMaxIndexBytes = 1024 * 1024;
constexpr const char* kExtensions[] = {".png", ".svg", ".xpm"};

std::atomic<int> indexReads{0};

using SharedIndex = std::shared_ptr<const ThemeIndex>;

SharedIndex parsed(const std::optional<QByteArray>& bytes) {
    return bytes ? std::make_shared<const ThemeIndex>(parseThemeIndex(*bytes)) : nullptr;
}

// The last change of what `path` names (a link itself, not what it leads to), -1 where it is
// missing or lies on another file system (or a step to it does).
qint64 modified(const LocalReach& reach, const QByteArray& path) {
    const std::optional<struct stat> info = reach.status(path, false);
    return info ? qint64(info->st_mtim.tv_sec) * 1000000000 + info->st_mtim.tv_nsec : -1;
}

// Where folders lie, as one read of the mount table tells for a whole lookup. A folder that lies
// on this machine's own file systems, every step to it too (see LocalReach::inPlace), is looked
// into here, at the path its links lead to; nothing on another file system is looked at here: a
// child looks there.
class Reach {
public:
    // The link-free path of the folder `path` where it is reached here; asked once per folder and
    // lookup.
    std::optional<QByteArray> local(const QString& path) {
        const auto [it, added] = memo_.try_emplace(path);
        if (added) {
            const QByteArray clean = QFile::encodeName(QDir::cleanPath(path));
            const MountTable& mounts = here_.mounts();
            // A kernel's view is reached here, where opening it fails at once: no child looks there.
            if (clean.startsWith('/') && canOpenWithoutLinks()) {
                if (mounts.isVirtual(clean)) it->second = clean;
                else if (mounts.isLocal(clean)) it->second = here_.resolved(clean);
            }
        }
        return it->second;
    }
    const LocalReach& here() const { return here_; }
    // Which mounts elsewhere the lookup sees (see MountTable::foreignChanges).
    quint64 mountsElsewhere() const { return here_.mounts().foreignChanges(); }

private:
    LocalReach here_;
    std::map<QString, std::optional<QByteArray>> memo_;
};

// What was learned of places on another file system, by path: it holds while the mounts there
// stay as they were when the lookup that learned it began (one that came or went may answer now,
// or hold other files). Never destroyed, as none of these statics: a lookup may still wait while
// the process ends.
template <typename Value>
class LearnedElsewhere {
public:
    std::optional<Value> find(const QString& path, const Reach& reach) {
        std::lock_guard lock(mutex_);
        const auto hit = learned_.find(path);
        if (hit == learned_.end() || hit->second.first != reach.mountsElsewhere()) return std::nullopt;
        return hit->second.second;
    }
    void learn(const QString& path, const Reach& reach, Value value) {
        std::lock_guard lock(mutex_);
        learned_.insert_or_assign(path, std::pair(reach.mountsElsewhere(), std::move(value)));
    }

private:
    std::mutex mutex_;
    std::map<QString, std::pair<quint64, Value>> learned_;
};

// Folders whose child did not answer: not asked again, so that a file system that stopped costs
// one child left behind, not one per lookup.
LearnedElsewhere<bool>& unanswering = *new LearnedElsewhere<bool>;
// Indexes, by path (none: not there, or no answer).
LearnedElsewhere<SharedIndex>& remote = *new LearnedElsewhere<SharedIndex>;

bool indexedElsewhere(const QString& index, const Reach& reach) {
    return remote.find(index, reach).value_or(nullptr) != nullptr;
}

std::chrono::steady_clock::time_point childDeadline() {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(kFileReadTimeoutMs);
}

// The index of `theme` in the first of `bases` that has one. Large themes' indexes run to hundreds
// of KiB and every lookup walks them, so each is read and parsed once (lookups that want it
// meanwhile wait for it), and again only when its file changes. One on another file system is read
// by a child, once (its changes go unseen). None when no base has one.
SharedIndex themeIndex(const QString& theme, const QStringList& bases, Reach& reach) {
    struct Cached {
        qint64 modified = 0;
        qint64 size = 0;
        SharedIndex index;
    };
    static std::mutex mutex;
    static std::map<QString, Cached>& cache = *new std::map<QString, Cached>;
    for (const QString& base : bases) {
        const QString path = base + QLatin1Char('/') + theme + QStringLiteral("/index.theme");
        const std::optional<QByteArray> root = reach.local(base + QLatin1Char('/') + theme);
        errno = 0;
        const std::optional<struct stat> info = root ? reach.here().status(*root + "/index.theme") : std::nullopt;
        if (!root || (!info && errno == EXDEV)) {
            if (const std::optional<SharedIndex> known = remote.find(path, reach)) {
                if (*known) return *known;
                continue;
            }
            if (unanswering.find(base, reach).has_value()) continue;
            // Whether it is there, apart from whether it can be read: a base that does not answer
            // is not asked again.
            const std::optional<ChildProbe> there = firstFileInChild({QFile::encodeName(path)}, childDeadline());
            if (!there) {
                unanswering.learn(base, reach, true);
                continue;
            }
            std::optional<QByteArray> bytes;
            if (there->index) {
                ++indexReads;
                bytes = readRegularFile(path, kMaxIndexBytes, nullptr, childDeadline());
            }
            SharedIndex index = parsed(bytes);
            remote.learn(path, reach, index);
            if (index) return index;
            continue;
        }
        if (!info || !S_ISREG(info->st_mode)) continue;
        const qint64 stamp = qint64(info->st_mtim.tv_sec) * 1000000000 + info->st_mtim.tv_nsec;
        // Held while a local index is read and parsed: the lookup and the watch that start together
        // want the same one.
        std::lock_guard lock(mutex);
        const auto hit = cache.find(path);
        if (hit != cache.end() && hit->second.modified == stamp && hit->second.size == info->st_size)
            return hit->second.index;
        ++indexReads;
        SharedIndex index = parsed(readRegularFile(path, kMaxIndexBytes));
        cache[path] = Cached{stamp, qint64(info->st_size), index};
        return index;
    }
    return nullptr;
}

bool plausibleTheme(const QString& theme) {
    return !theme.isEmpty() && !theme.contains(QLatin1Char('/')) && !theme.startsWith(QLatin1Char('.'));
}

// The themes a lookup walks, in order: the theme, the themes it inherits depth first, hicolor.
std::vector<std::pair<QString, SharedIndex>> themeChain(const IconFolders& folders, Reach& reach) {
    std::vector<std::pair<QString, SharedIndex>> chain;
    std::set<QString> visited;
    const auto walk = [&](const auto& self, const QString& theme) -> void {
        if (!plausibleTheme(theme) || !visited.insert(theme).second) return;
        const SharedIndex index = themeIndex(theme, folders.bases, reach);
        if (!index) return;
        chain.emplace_back(theme, index);
        for (const QString& parent : index->inherits) self(self, parent);
    };
    walk(walk, folders.theme);
    walk(walk, QStringLiteral("hicolor"));
    return chain;
}

// A file a child may find, in a folder on another file system (or reached through one).
struct Candidate {
    QByteArray path;
    QString folder;  // whose child, when it does not answer, is not asked again
    int size = 0;
};

// The first of `candidates` that is a file or a link, looked at by one child; folders that did not
// answer before are left out.
std::optional<Candidate> firstFileElsewhere(std::vector<Candidate> candidates, const Reach& reach) {
    std::erase_if(candidates,
                  [&reach](const Candidate& candidate) { return unanswering.find(candidate.folder, reach).has_value(); });
    if (candidates.empty()) return std::nullopt;
    std::vector<QByteArray> paths;
    for (const Candidate& candidate : candidates) paths.push_back(candidate.path);
    const std::optional<ChildProbe> probe = firstFileInChild(paths, childDeadline());
    if (probe) return probe->index ? std::optional<Candidate>(candidates[*probe->index]) : std::nullopt;
    for (const Candidate& candidate : candidates) unanswering.learn(candidate.folder, reach, true);
    return std::nullopt;
}

// `name` with each of the extensions of kExtensions.
using FileNames = std::array<std::string, std::size(kExtensions)>;
FileNames fileNames(const QString& name) {
    const std::string stem = QFile::encodeName(name).toStdString();
    FileNames names;
    for (size_t i = 0; i < names.size(); ++i) names[i] = stem + kExtensions[i];
    return names;
}

// Which of `names` (of the first `count`) the folder reached here at the link-free `here` holds
// first. `elsewhere`: set when the folder lies on another file system.
std::optional<size_t> fileIn(IconFolderContents& contents, const Reach& reach, std::string_view here,
                             const FileNames& names, size_t count = std::size(kExtensions), bool* elsewhere = nullptr) {
    const std::shared_ptr<const IconFolderContents::Folder> folder = contents.folder(here, reach.here());
    if (elsewhere) *elsewhere = folder->elsewhere();
    for (size_t i = 0; i < count && folder->exists(); ++i)
        if (folder->holds(names[i])) return i;
    return std::nullopt;
}

// The file `name` in the folder spelled `folder`.
QString pathIn(const QString& folder, const std::string& name) {
    return folder + QLatin1Char('/') + QFile::decodeName(QByteArray::fromStdString(name));
}

// The file for `name` in one theme: a folder matching the size, else the nearest. Folders looked
// into here come first; those on another file system (the theme's own folder there, or one of its
// folders leading there) are looked into by one child after, nearest first.
std::optional<ThemedIconFile> findInTheme(const QString& theme, const ThemeIndex& index, const QString& name,
                                          int pixels, const QStringList& allBases, Reach& reach,
                                          IconFolderContents& contents) {
    QStringList rootsElsewhere;
    // Each as spelled (for the file found), and as reached here.
    std::vector<std::pair<QString, std::string>> roots;
    for (const QString& base : allBases) {
        const QString root = base + QLatin1Char('/') + theme;
        if (const std::optional<QByteArray> here = reach.local(root)) {
            if (contents.folder(here->toStdString(), reach.here())->exists())
                roots.emplace_back(root + QLatin1Char('/'), here->toStdString() + '/');
        } else if (indexedElsewhere(root + QStringLiteral("/index.theme"), reach)) {
            rootsElsewhere << root;
        }
    }
    const FileNames names = fileNames(name);
    std::string here;
    std::optional<ThemedIconFile> nearest;
    int nearestDistance = INT_MAX;
    std::set<std::pair<const ThemeFolder*, size_t>> foldersElsewhere;
    for (const bool exact : {true, false}) {
        for (const ThemeFolder& folder : index.folders) {
            if (exact != folder.matches(pixels)) continue;
            const int distance = exact ? 0 : folder.distance(pixels);
            if (!exact && distance >= nearestDistance) continue;
            for (size_t r = 0; r < roots.size(); ++r) {
                here.assign(roots[r].second).append(folder.name.constData(), size_t(folder.name.size()));
                bool elsewhere = false;
                const std::optional<size_t> found = fileIn(contents, reach, here, names, names.size(), &elsewhere);
                if (elsewhere) foldersElsewhere.emplace(&folder, r);
                if (!found) continue;
                const ThemedIconFile file{pathIn(roots[r].first + QFile::decodeName(folder.name), names[*found]),
                                          folder.size * folder.scale};
                if (exact) return file;
                nearest = file;
                nearestDistance = distance;
                break;
            }
        }
    }
    if (nearest || (rootsElsewhere.isEmpty() && foldersElsewhere.empty())) return nearest;
    std::vector<const ThemeFolder*> order;
    for (const ThemeFolder& folder : index.folders) order.push_back(&folder);
    std::stable_sort(order.begin(), order.end(), [pixels](const ThemeFolder* a, const ThemeFolder* b) {
        return (a->matches(pixels) ? 0 : a->distance(pixels)) < (b->matches(pixels) ? 0 : b->distance(pixels));
    });
    std::vector<Candidate> candidates;
    const QByteArray file = QFile::encodeName(name);
    const auto add = [&](const QString& folder, const ThemeFolder& at) {
        for (const char* extension : kExtensions)
            candidates.push_back({QFile::encodeName(folder) + '/' + file + extension, folder, at.size * at.scale});
    };
    for (const ThemeFolder* folder : order) {
        for (size_t r = 0; r < roots.size(); ++r)
            if (foldersElsewhere.count({folder, r})) add(roots[r].first + QFile::decodeName(folder->name), *folder);
        for (const QString& root : rootsElsewhere) add(root + QLatin1Char('/') + QFile::decodeName(folder->name), *folder);
    }
    if (const std::optional<Candidate> found = firstFileElsewhere(std::move(candidates), reach))
        return ThemedIconFile{QFile::decodeName(found->path), found->size};
    return std::nullopt;
}

// hicolor icons under a data folder that holds no hicolor index: the usual size folders, nearest first.
std::optional<ThemedIconFile> findUnindexed(const QString& name, int pixels, const QStringList& dataDirectories,
                                            Reach& reach, IconFolderContents& contents) {
    static const int sizes[] = {16, 22, 24, 32, 48, 64, 96, 128, 192, 256, 512};
    std::vector<int> order(std::begin(sizes), std::end(sizes));
    std::stable_sort(order.begin(), order.end(),
                     [pixels](int a, int b) { return std::abs(a - pixels) < std::abs(b - pixels); });
    const FileNames names = fileNames(name);
    for (const QString& root : dataDirectories) {
        const QString hicolor = root + QStringLiteral("/icons/hicolor/");
        const std::optional<QByteArray> here = reach.local(hicolor);
        if (!here) continue;
        const auto at = [&](const QString& folder) -> std::optional<ThemedIconFile> {
            const std::string apps = (*here + '/' + QFile::encodeName(folder) + "/apps").toStdString();
            if (const std::optional<size_t> found = fileIn(contents, reach, apps, names, 2))
                return ThemedIconFile{pathIn(hicolor + folder + QStringLiteral("/apps"), names[*found]), pixels};
            return std::nullopt;
        };
        if (auto found = at(QStringLiteral("%1x%1").arg(order.front()))) return found;
        if (auto found = at(QStringLiteral("scalable"))) return found;
        for (size_t i = 1; i < order.size(); ++i)
            if (auto found = at(QStringLiteral("%1x%1").arg(order[i]))) return ThemedIconFile{found->path, order[i]};
    }
    return std::nullopt;
}

}  // namespace

QImage readIconFile(const QString& path, int side) {
    const std::optional<QByteArray> bytes = readRegularFile(path, kMaxIconFileBytes);
    if (!bytes) return {};
    QBuffer buffer;
    buffer.setData(*bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > kMaxSide || size.height() > kMaxSide) return {};
    // A drawing is scaled while it is drawn; a picture keeps its own pixels.
    if (reader.format() == "svg" || reader.format() == "svgz")
        reader.setScaledSize(size.scaled(QSize(side, side), Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image;
    if (!reader.read(&image)) return {};
    return image;
}

bool isSymbolicIcon(const QString& name) {
    QString stem = name.section(QLatin1Char('/'), -1);
    for (const char* extension : kExtensions)
        if (stem.endsWith(QLatin1String(extension))) stem.chop(4);
    return stem.endsWith(QLatin1String("-symbolic"));
}

QImage recoloured(const QImage& image, const QColor& colour) {
    if (image.isNull()) return image;
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&out);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(out.rect(), colour);
    painter.end();
    return out;
}

IconFolders iconFolders() {
    IconFolders folders;
    folders.theme = QIcon::themeName();
    if (!plausibleTheme(folders.theme)) folders.theme = QStringLiteral("hicolor");
    folders.dataDirectories = DesktopEntries::dataDirectories();
    // Resources (":/icons") are the application's own, never a theme of the desktop's. The theme's
    // search paths are fixed when it is first used; the data folders are taken as they are now.
    QStringList bases;
    for (const QString& path : QIcon::themeSearchPaths())
        if (!path.startsWith(QLatin1Char(':'))) bases << path;
    for (const QString& root : folders.dataDirectories) bases << root + QStringLiteral("/icons");
    bases.removeDuplicates();
    folders.bases = bases;
    // Qt's own fallback list is made anew at each call by looking at folders: the data folders'
    // pixmaps are the desktop's.
    for (const QString& root : folders.dataDirectories) folders.unthemed << root + QStringLiteral("/pixmaps");
    return folders;
}

std::optional<ThemedIconFile> themedIconFile(const QString& name, int pixels, const IconFolders& folders,
                                             IconFolderContents* known) {
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))) return std::nullopt;
    QString whole = name;
    for (const char* extension : kExtensions)
        if (whole.endsWith(QLatin1String(extension))) whole.chop(4);
    IconFolderContents ownContents;
    IconFolderContents& contents = known ? *known : ownContents;
    Reach reach;
    const auto chain = themeChain(folders, reach);
    const auto inThemes = [&](const QString& stripped) -> std::optional<ThemedIconFile> {
        for (const auto& [theme, index] : chain)
            if (auto found = findInTheme(theme, *index, stripped, pixels, folders.bases, reach, contents)) return found;
        return std::nullopt;
    };
    if (auto found = inThemes(whole)) return found;
    // A name found whole anywhere comes before a shorter one found in a theme.
    std::vector<Candidate> elsewhere;
    const FileNames names = fileNames(whole);
    for (const QString& folder : folders.unthemed) {
        if (const std::optional<QByteArray> here = reach.local(folder)) {
            if (const std::optional<size_t> found = fileIn(contents, reach, here->toStdString(), names))
                return ThemedIconFile{pathIn(folder, names[*found]), 0};
            continue;
        }
        for (const std::string& file : names)
            elsewhere.push_back({QFile::encodeName(folder) + '/' + QByteArray::fromStdString(file), folder, 0});
    }
    if (const std::optional<Candidate> found = firstFileElsewhere(std::move(elsewhere), reach))
        return ThemedIconFile{QFile::decodeName(found->path), 0};
    if (auto found = findUnindexed(whole, pixels, folders.dataDirectories, reach, contents)) return found;
    for (qsizetype dash = whole.lastIndexOf(QLatin1Char('-')); dash > 0; dash = whole.lastIndexOf(QLatin1Char('-'), dash - 1)) {
        if (auto found = inThemes(whole.left(dash))) return found;
    }
    return std::nullopt;
}

std::vector<QByteArray> iconFolderPaths(const IconFolders& folders) {
    std::vector<QByteArray> paths;
    Reach reach;
    // Each at the path its links lead to; folders on another file system are not looked at (their
    // changes go unseen). The path of a folder that is there.
    const auto add = [&paths, &reach](const QString& path) -> std::optional<QByteArray> {
        const std::optional<QByteArray> here = reach.local(path);
        if (!here) return std::nullopt;
        paths.push_back(*here);
        if (modified(reach.here(), *here) < 0) return std::nullopt;
        return here;
    };
    for (const QString& base : folders.bases) add(base);
    for (const auto& [theme, index] : themeChain(folders, reach)) {
        for (const QString& base : folders.bases) {
            const std::optional<QByteArray> root = add(base + QLatin1Char('/') + theme);
            if (!root) continue;
            // Any of them may lead elsewhere: the watch tells.
            for (const ThemeFolder& folder : index->folders) paths.push_back(*root + '/' + folder.name);
        }
    }
    for (const QString& folder : folders.unthemed) add(folder);
    for (const QString& root : folders.dataDirectories) {
        const QString hicolor = root + QStringLiteral("/icons/hicolor");
        if (!add(hicolor)) continue;
        add(hicolor + QStringLiteral("/scalable/apps"));
        for (int size : {16, 22, 24, 32, 48, 64, 96, 128, 192, 256, 512})
            add(hicolor + QStringLiteral("/%1x%1/apps").arg(size));
    }
    return paths;
}

IconFolderStamps iconFolderStamps(const std::vector<QByteArray>& paths) {
    const LocalReach reach;
    IconFolderStamps stamps;
    for (const QByteArray& path : paths) {
        stamps.emplace_back(path, modified(reach, path));
        // A theme's index changes in place.
        stamps.emplace_back(path + "/index.theme", modified(reach, path + "/index.theme"));
    }
    return stamps;
}

int themeIndexReads() { return indexReads; }

}  // namespace platform
