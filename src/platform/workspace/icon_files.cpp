#include "platform/workspace/icon_files.h"

#include "platform/files/child_file_read.h"
#include "platform/files/regular_file.h"
#include "platform/workspace/desktop_entries.h"

#include <QBuffer>
#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <map>
#include <mutex>
#include <set>

#include <sys/stat.h>

namespace platform {

namespace {

constexpr int kMaxSide = 4096;
// An index.theme of the largest themes is a few hundred KiB.
constexpr qint64 kMaxIndexBytes = 1024 * 1024;
constexpr const char* kExtensions[] = {".png", ".svg", ".xpm"};

std::atomic<int> indexReads{0};

// A folder of a theme as its index describes it (the freedesktop icon theme rules).
struct ThemeFolder {
    QString name;
    enum class Type { fixed, scalable, threshold };
    Type type = Type::threshold;
    int size = 0, minSize = 0, maxSize = 0, threshold = 2, scale = 1;

    bool matches(int pixels) const {
        if (scale != 1) return false;
        switch (type) {
        case Type::fixed: return size == pixels;
        case Type::scalable: return minSize <= pixels && pixels <= maxSize;
        case Type::threshold: return size - threshold <= pixels && pixels <= size + threshold;
        }
        return false;
    }
    int distance(int pixels) const {
        const auto outside = [&](int low, int high) {
            return pixels < low * scale ? low * scale - pixels : pixels > high * scale ? pixels - high * scale : 0;
        };
        switch (type) {
        case Type::fixed: return std::abs(size * scale - pixels);
        case Type::scalable: return outside(minSize, maxSize);
        case Type::threshold: return outside(size - threshold, size + threshold);
        }
        return INT_MAX;
    }
};

struct ThemeIndex {
    QStringList inherits;
    std::vector<ThemeFolder> folders;
};

ThemeIndex parseIndex(const QByteArray& bytes) {
    ThemeIndex index;
    QStringList listed;
    std::map<QString, ThemeFolder> details;
    std::set<QString> sized;
    QString section;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || line.startsWith(QLatin1Char('#'))) continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (section == QLatin1String("Icon Theme")) {
            if (key == QLatin1String("Inherits")) index.inherits = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
            else if (key == QLatin1String("Directories")) listed = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
            continue;
        }
        ThemeFolder& d = details[section];
        if (key == QLatin1String("Size")) d.size = value.toInt();
        else if (key == QLatin1String("MinSize")) d.minSize = value.toInt(), sized.insert(section + u'<');
        else if (key == QLatin1String("MaxSize")) d.maxSize = value.toInt(), sized.insert(section + u'>');
        else if (key == QLatin1String("Threshold")) d.threshold = value.toInt();
        else if (key == QLatin1String("Scale")) d.scale = std::max(1, value.toInt());
        else if (key == QLatin1String("Type")) {
            d.type = value == QLatin1String("Fixed")      ? ThemeFolder::Type::fixed
                     : value == QLatin1String("Scalable") ? ThemeFolder::Type::scalable
                                                          : ThemeFolder::Type::threshold;
        }
    }
    for (QString& name : index.inherits) name = name.trimmed();
    for (const QString& entry : listed) {
        const QString name = entry.trimmed();
        const auto found = details.find(name);
        if (found == details.end() || found->second.size <= 0) continue;
        ThemeFolder folder = found->second;
        folder.name = name;
        // MinSize and MaxSize default to Size.
        if (!sized.count(name + u'<')) folder.minSize = folder.size;
        if (!sized.count(name + u'>')) folder.maxSize = folder.size;
        index.folders.push_back(folder);
    }
    return index;
}

qint64 modified(const QByteArray& path, bool* exists = nullptr) {
    struct stat info {};
    const bool found = ::lstat(path.constData(), &info) == 0;
    if (exists) *exists = found;
    return found ? qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec : -1;
}

// Whether a file (or a link, looked at but not followed: it may lead anywhere) is at `path`.
bool isFileAt(const QByteArray& path) {
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode));
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
std::map<QString, std::optional<ThemeIndex>> remote;

bool indexedElsewhere(const QString& index) {
    std::lock_guard lock(remoteMutex);
    const auto hit = remote.find(index);
    return hit != remote.end() && hit->second;
}

std::chrono::steady_clock::time_point childDeadline() {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(kFileReadTimeoutMs);
}

// The index of `theme` in the first of `bases` that has one. Large themes' indexes run to hundreds
// of KiB and every lookup walks them, so each is read and parsed once, and again only when its
// file changes. One on another file system is read by a child, once (its changes go unseen).
std::optional<ThemeIndex> themeIndex(const QString& theme, const QStringList& bases, Reach& reach) {
    struct Cached {
        qint64 modified = 0;
        qint64 size = 0;
        std::optional<ThemeIndex> index;
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
            std::optional<ThemeIndex> index = bytes ? std::optional(parseIndex(*bytes)) : std::nullopt;
            std::lock_guard lock(remoteMutex);
            remote[path] = index;
            if (index) return index;
            continue;
        }
        struct stat info {};
        if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const qint64 stamp = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        {
            std::lock_guard lock(mutex);
            const auto hit = cache.find(path);
            if (hit != cache.end() && hit->second.modified == stamp && hit->second.size == info.st_size)
                return hit->second.index;
        }
        ++indexReads;
        const std::optional<QByteArray> bytes = readRegularFile(path, kMaxIndexBytes);
        std::optional<ThemeIndex> index = bytes ? std::optional(parseIndex(*bytes)) : std::nullopt;
        std::lock_guard lock(mutex);
        cache[path] = Cached{stamp, qint64(info.st_size), index};
        return index;
    }
    return std::nullopt;
}

bool plausibleTheme(const QString& theme) {
    return !theme.isEmpty() && !theme.contains(QLatin1Char('/')) && !theme.startsWith(QLatin1Char('.'));
}

// The themes a lookup walks, in order: the theme, the themes it inherits depth first, hicolor.
std::vector<std::pair<QString, ThemeIndex>> themeChain(const IconFolders& folders, Reach& reach) {
    std::vector<std::pair<QString, ThemeIndex>> chain;
    std::set<QString> visited;
    const auto walk = [&](const auto& self, const QString& theme) -> void {
        if (!plausibleTheme(theme) || !visited.insert(theme).second) return;
        const std::optional<ThemeIndex> index = themeIndex(theme, folders.bases, reach);
        if (!index) return;
        chain.emplace_back(theme, *index);
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

// The file for `name` in one theme: a folder matching the size, else the nearest.
std::optional<ThemedIconFile> findInTheme(const QString& theme, const ThemeIndex& index, const QString& name,
                                          int pixels, const QStringList& allBases, Reach& reach) {
    QStringList bases, elsewhere;
    for (const QString& base : allBases) {
        const QString root = base + QLatin1Char('/') + theme;
        if (reach.local(root)) bases << base;
        else if (indexedElsewhere(root + QStringLiteral("/index.theme"))) elsewhere << root;
    }
    std::optional<ThemedIconFile> nearest;
    int nearestDistance = INT_MAX;
    for (const bool exact : {true, false}) {
        for (const ThemeFolder& folder : index.folders) {
            if (exact != folder.matches(pixels)) continue;
            const int distance = exact ? 0 : folder.distance(pixels);
            if (!exact && distance >= nearestDistance) continue;
            for (const QString& base : bases) {
                const QByteArray stem = QFile::encodeName(base + QLatin1Char('/') + theme + QLatin1Char('/') + folder.name +
                                                          QLatin1Char('/') + name);
                for (const char* extension : kExtensions) {
                    if (!isFileAt(stem + extension)) continue;
                    const ThemedIconFile file{QFile::decodeName(stem + extension), folder.size * folder.scale};
                    if (exact) return file;
                    nearest = file;
                    nearestDistance = distance;
                    break;
                }
                if (nearestDistance == distance) break;
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
                candidates.push_back(QFile::encodeName(root + QLatin1Char('/') + folder->name + QLatin1Char('/') + name) +
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
                                            Reach& reach) {
    static const int sizes[] = {16, 22, 24, 32, 48, 64, 96, 128, 192, 256, 512};
    std::vector<int> order(std::begin(sizes), std::end(sizes));
    std::stable_sort(order.begin(), order.end(),
                     [pixels](int a, int b) { return std::abs(a - pixels) < std::abs(b - pixels); });
    for (const QString& root : dataDirectories) {
        const QString hicolor = root + QStringLiteral("/icons/hicolor/");
        if (!reach.local(hicolor)) continue;
        const auto at = [&](const QString& folder) -> std::optional<ThemedIconFile> {
            for (const char* extension : {".png", ".svg"}) {
                const QByteArray file = QFile::encodeName(hicolor + folder + QStringLiteral("/apps/") + name) + extension;
                if (isFileAt(file)) return ThemedIconFile{QFile::decodeName(file), pixels};
            }
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

std::optional<ThemedIconFile> themedIconFile(const QString& name, int pixels, const IconFolders& folders) {
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))) return std::nullopt;
    QString whole = name;
    for (const char* extension : kExtensions)
        if (whole.endsWith(QLatin1String(extension))) whole.chop(4);
    Reach reach;
    const auto chain = themeChain(folders, reach);
    const auto inThemes = [&](const QString& stripped) -> std::optional<ThemedIconFile> {
        for (const auto& [theme, index] : chain)
            if (auto found = findInTheme(theme, index, stripped, pixels, folders.bases, reach)) return found;
        return std::nullopt;
    };
    if (auto found = inThemes(whole)) return found;
    // A name found whole anywhere comes before a shorter one found in a theme.
    std::vector<QByteArray> elsewhere;
    for (const QString& folder : folders.unthemed) {
        for (const char* extension : kExtensions) {
            const QByteArray file = QFile::encodeName(folder + QLatin1Char('/') + whole) + extension;
            if (!reach.local(folder)) elsewhere.push_back(file);
            else if (isFileAt(file)) return ThemedIconFile{QFile::decodeName(file), 0};
        }
    }
    QStringList elsewhereFolders;
    for (const QString& folder : folders.unthemed)
        if (!reach.local(folder)) elsewhereFolders << folder;
    if (const std::optional<size_t> found = firstFileElsewhere(elsewhere, elsewhereFolders))
        return ThemedIconFile{QFile::decodeName(elsewhere[*found]), 0};
    if (auto found = findUnindexed(whole, pixels, folders.dataDirectories, reach)) return found;
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
            for (const ThemeFolder& folder : index.folders) {
                paths.push_back(QFile::encodeName(root + QLatin1Char('/') + folder.name));
            }
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
