#include "platform/workspace/icon_files.h"

#include "platform/files/child_file_read.h"
#include "platform/files/regular_file.h"
#include "platform/workspace/desktop_entries.h"
#include "platform/workspace/icon_folder_contents.h"
#include "platform/workspace/icon_theme_index.h"

#include <QBuffer>
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

qint64 modified(const QByteArray& path, bool* exists = nullptr) {
    struct stat info {};
    const bool found = ::lstat(path.constData(), &info) == 0;
    if (exists) *exists = found;
    return found ? qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec : -1;
}

// Whether folders are reached on this machine's own file systems (see readsInPlace), asked once
// per folder and lookup. Nothing on another file system is looked at here: a child looks there.
class Reach {
public:
    bool local(const QString& path) {
        const auto [it, added] = memo_.try_emplace(path, false);
        if (added) it->second = readsInPlace(path);
        return it->second;
    }

private:
    std::map<QString, bool> memo_;
};

// Folders on another file system whose child did not answer: not asked again, so that a file
// system that stopped costs one child left behind, not one per lookup.
std::mutex unansweringMutex;
std::set<QString> unanswering;

// Indexes on another file system, by path (none: not there, or no answer).
std::mutex remoteMutex;
std::map<QString, SharedIndex> remote;

bool indexedElsewhere(const QString& index) {
    std::lock_guard lock(remoteMutex);
    const auto hit = remote.find(index);
    return hit != remote.end() && hit->second;
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
    static std::map<QString, Cached> cache;
    for (const QString& base : bases) {
        const QString path = base + QLatin1Char('/') + theme + QStringLiteral("/index.theme");
        if (!reach.local(base + QLatin1Char('/') + theme)) {
            {
                std::lock_guard lock(remoteMutex);
                if (const auto hit = remote.find(path); hit != remote.end()) {
                    if (hit->second) return hit->second;
                    continue;
                }
            }
            {
                std::lock_guard lock(unansweringMutex);
                if (unanswering.count(base)) continue;
            }
            // Whether it is there, apart from whether it can be read: a base that does not answer
            // is not asked again.
            const std::optional<ChildProbe> there = firstFileInChild({QFile::encodeName(path)}, childDeadline());
            if (!there) {
                std::lock_guard lock(unansweringMutex);
                unanswering.insert(base);
                continue;
            }
            std::optional<QByteArray> bytes;
            if (there->index) {
                ++indexReads;
                bytes = readRegularFile(path, kMaxIndexBytes, nullptr, childDeadline());
            }
            SharedIndex index = parsed(bytes);
            std::lock_guard lock(remoteMutex);
            remote[path] = index;
            if (index) return index;
            continue;
        }
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const qint64 stamp = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        // Held while a local index is read and parsed: the lookup and the watch that start together
        // want the same one.
        std::lock_guard lock(mutex);
        const auto hit = cache.find(path);
        if (hit != cache.end() && hit->second.modified == stamp && hit->second.size == info.st_size)
            return hit->second.index;
        ++indexReads;
        SharedIndex index = parsed(readRegularFile(path, kMaxIndexBytes));
        cache[path] = Cached{stamp, qint64(info.st_size), index};
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

// The first of `paths` (in `folders`, on another file system) that is a file or a link, looked at
// by a child.
std::optional<size_t> firstFileElsewhere(const std::vector<QByteArray>& paths, const QStringList& folders) {
    if (paths.empty()) return std::nullopt;
    {
        std::lock_guard lock(unansweringMutex);
        for (const QString& folder : folders)
            if (unanswering.count(folder)) return std::nullopt;
    }
    const std::optional<ChildProbe> probe = firstFileInChild(paths, childDeadline());
    if (probe) return probe->index;
    std::lock_guard lock(unansweringMutex);
    for (const QString& folder : folders) unanswering.insert(folder);
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

// The path of the first of `names` (of the first `count`) that the folder at `path` holds.
std::optional<QString> fileIn(IconFolderContents& contents, const std::string& path, const FileNames& names,
                              size_t count = std::size(kExtensions)) {
    const std::shared_ptr<const IconFolderContents::Folder> folder = contents.folder(path);
    for (size_t i = 0; i < count && folder->exists(); ++i)
        if (folder->holds(names[i])) return QFile::decodeName(QByteArray::fromStdString(path + '/' + names[i]));
    return std::nullopt;
}

// The file for `name` in one theme: a folder matching the size, else the nearest.
std::optional<ThemedIconFile> findInTheme(const QString& theme, const ThemeIndex& index, const QString& name,
                                          int pixels, const QStringList& allBases, Reach& reach,
                                          IconFolderContents& contents) {
    QStringList elsewhere;
    std::vector<std::string> roots;
    for (const QString& base : allBases) {
        const QString root = base + QLatin1Char('/') + theme;
        if (reach.local(root)) {
            std::string path = QFile::encodeName(root).toStdString();
            if (contents.folder(path)->exists()) roots.push_back(path + '/');
        } else if (indexedElsewhere(root + QStringLiteral("/index.theme"))) {
            elsewhere << root;
        }
    }
    const FileNames names = fileNames(name);
    std::string path;
    std::optional<ThemedIconFile> nearest;
    int nearestDistance = INT_MAX;
    for (const bool exact : {true, false}) {
        for (const ThemeFolder& folder : index.folders) {
            if (exact != folder.matches(pixels)) continue;
            const int distance = exact ? 0 : folder.distance(pixels);
            if (!exact && distance >= nearestDistance) continue;
            for (const std::string& root : roots) {
                path.assign(root).append(folder.name.constData(), size_t(folder.name.size()));
                const std::optional<QString> found = fileIn(contents, path, names);
                if (!found) continue;
                const ThemedIconFile file{*found, folder.size * folder.scale};
                if (exact) return file;
                nearest = file;
                nearestDistance = distance;
                break;
            }
        }
    }
    if (nearest || elsewhere.isEmpty()) return nearest;
    // The theme's folders on another file system, nearest first, looked at by one child.
    std::vector<const ThemeFolder*> order;
    for (const ThemeFolder& folder : index.folders) order.push_back(&folder);
    std::stable_sort(order.begin(), order.end(), [pixels](const ThemeFolder* a, const ThemeFolder* b) {
        return (a->matches(pixels) ? 0 : a->distance(pixels)) < (b->matches(pixels) ? 0 : b->distance(pixels));
    });
    std::vector<QByteArray> candidates;
    std::vector<int> sizes;
    for (const ThemeFolder* folder : order) {
        for (const QString& root : elsewhere) {
            for (const char* extension : kExtensions) {
                candidates.push_back(QFile::encodeName(root) + '/' + folder->name + '/' + QFile::encodeName(name) +
                                     extension);
                sizes.push_back(folder->size * folder->scale);
            }
        }
    }
    if (const std::optional<size_t> found = firstFileElsewhere(candidates, elsewhere))
        return ThemedIconFile{QFile::decodeName(candidates[*found]), sizes[*found]};
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
        if (!reach.local(hicolor)) continue;
        const auto at = [&](const QString& folder) -> std::optional<ThemedIconFile> {
            const std::string apps = QFile::encodeName(hicolor + folder + QStringLiteral("/apps")).toStdString();
            if (std::optional<QString> found = fileIn(contents, apps, names, 2)) return ThemedIconFile{*found, pixels};
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
    std::vector<QByteArray> elsewhere;
    const FileNames names = fileNames(whole);
    for (const QString& folder : folders.unthemed) {
        const std::string path = QFile::encodeName(folder).toStdString();
        if (reach.local(folder)) {
            if (std::optional<QString> found = fileIn(contents, path, names)) return ThemedIconFile{*found, 0};
            continue;
        }
        for (const std::string& file : names) elsewhere.push_back(QByteArray::fromStdString(path + '/' + file));
    }
    QStringList elsewhereFolders;
    for (const QString& folder : folders.unthemed)
        if (!reach.local(folder)) elsewhereFolders << folder;
    if (const std::optional<size_t> found = firstFileElsewhere(elsewhere, elsewhereFolders))
        return ThemedIconFile{QFile::decodeName(elsewhere[*found]), 0};
    if (auto found = findUnindexed(whole, pixels, folders.dataDirectories, reach, contents)) return found;
    for (qsizetype dash = whole.lastIndexOf(QLatin1Char('-')); dash > 0; dash = whole.lastIndexOf(QLatin1Char('-'), dash - 1)) {
        if (auto found = inThemes(whole.left(dash))) return found;
    }
    return std::nullopt;
}

std::vector<QByteArray> iconFolderPaths(const IconFolders& folders) {
    std::vector<QByteArray> paths;
    Reach reach;
    // Folders on another file system are not looked at (their changes go unseen).
    const auto add = [&paths, &reach](const QString& path) {
        if (!reach.local(path)) return false;
        paths.push_back(QFile::encodeName(path));
        return modified(paths.back()) >= 0;
    };
    for (const QString& base : folders.bases) add(base);
    for (const auto& [theme, index] : themeChain(folders, reach)) {
        for (const QString& base : folders.bases) {
            const QString root = base + QLatin1Char('/') + theme;
            if (!add(root)) continue;
            const QByteArray encoded = QFile::encodeName(root) + '/';
            for (const ThemeFolder& folder : index->folders) paths.push_back(encoded + folder.name);
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
    IconFolderStamps stamps;
    for (const QByteArray& path : paths) {
        stamps.emplace_back(path, modified(path));
        // A theme's index changes in place.
        stamps.emplace_back(path + "/index.theme", modified(path + "/index.theme"));
    }
    return stamps;
}

int themeIndexReads() { return indexReads; }

}  // namespace platform
