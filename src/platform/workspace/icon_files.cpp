#include "platform/workspace/icon_files.h"

#include "platform/files/regular_file.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace platform {

namespace {

constexpr int kMaxSide = 4096;
// An index.theme of the largest themes is a few hundred KiB.
constexpr qint64 kMaxIndexBytes = 1024 * 1024;

struct ThemeFolder {
    QString name;
    int size = 0;
};

struct ThemeIndex {
    QStringList inherits;
    std::vector<ThemeFolder> folders;
};

// The folders a theme's index.theme lists at one pixel per point, and the themes it inherits.
ThemeIndex parseIndex(const QByteArray& bytes) {
    ThemeIndex index;
    QStringList listed;
    struct Details {
        int size = 0, maxSize = 0, scale = 1;
        bool scalable = false;
    };
    std::map<QString, Details> details;
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
        Details& d = details[section];
        if (key == QLatin1String("Size")) d.size = value.toInt();
        else if (key == QLatin1String("MaxSize")) d.maxSize = value.toInt();
        else if (key == QLatin1String("Scale")) d.scale = value.toInt();
        else if (key == QLatin1String("Type")) d.scalable = value == QLatin1String("Scalable");
    }
    for (QString& name : index.inherits) name = name.trimmed();
    for (const QString& entry : listed) {
        const QString name = entry.trimmed();
        const auto found = details.find(name);
        if (found == details.end() || found->second.scale > 1 || found->second.size <= 0) continue;
        const Details& d = found->second;
        index.folders.push_back({name, d.scalable ? std::max(d.size, d.maxSize) : d.size});
    }
    return index;
}

QStringList searchPaths() {
    QStringList paths;
    // Resources (":/icons") are the application's own, never a theme of the desktop's.
    for (const QString& path : QIcon::themeSearchPaths())
        if (!path.startsWith(QLatin1Char(':'))) paths << path;
    return paths;
}

// The index of `theme` in the first of `bases` that has one. Large themes' indexes run to hundreds
// of KiB and every lookup walks them, so each is read and parsed once, and again only when its
// file changes.
std::optional<ThemeIndex> themeIndex(const QString& theme, const QStringList& bases) {
    struct Cached {
        QDateTime modified;
        qint64 size = 0;
        std::optional<ThemeIndex> index;
    };
    static std::mutex mutex;
    static std::map<QString, Cached> cache;
    for (const QString& base : bases) {
        const QString path = base + QLatin1Char('/') + theme + QStringLiteral("/index.theme");
        const QFileInfo info(path);
        if (!info.isFile()) continue;
        {
            std::lock_guard lock(mutex);
            const auto hit = cache.find(path);
            if (hit != cache.end() && hit->second.modified == info.lastModified() && hit->second.size == info.size())
                return hit->second.index;
        }
        const std::optional<QByteArray> bytes = readRegularFile(path, kMaxIndexBytes);
        std::optional<ThemeIndex> index = bytes ? std::optional(parseIndex(*bytes)) : std::nullopt;
        std::lock_guard lock(mutex);
        cache[path] = Cached{info.lastModified(), info.size(), index};
        return index;
    }
    return std::nullopt;
}

// The best file for `name` in `theme` and the themes it inherits, depth first: a theme before its parents.
std::optional<ThemedIconFile> findInTheme(const QString& theme, const QString& name, const QStringList& bases,
                                          std::set<QString>& visited) {
    if (theme.isEmpty() || theme.contains(QLatin1Char('/')) || theme.startsWith(QLatin1Char('.')) ||
        !visited.insert(theme).second)
        return std::nullopt;
    const std::optional<ThemeIndex> found = themeIndex(theme, bases);
    if (!found) return std::nullopt;
    const ThemeIndex& index = *found;
    std::optional<ThemedIconFile> best;
    for (const ThemeFolder& folder : index.folders) {
        if (best && best->size >= folder.size) continue;
        for (const QString& base : bases) {
            const QString stem = base + QLatin1Char('/') + theme + QLatin1Char('/') + folder.name + QLatin1Char('/') + name;
            for (const char* extension : {".png", ".svg", ".xpm"}) {
                const QString file = stem + QLatin1String(extension);
                if (!QFileInfo(file).isFile()) continue;
                best = ThemedIconFile{file, folder.size};
                break;
            }
            if (best && best->size >= folder.size) break;
        }
    }
    if (best) return best;
    for (const QString& parent : index.inherits) {
        if (auto found = findInTheme(parent, name, bases, visited)) return found;
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

std::optional<ThemedIconFile> themedIconFile(const QString& name) {
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))) return std::nullopt;
    const QStringList bases = searchPaths();
    QString theme = QIcon::themeName();
    if (theme.isEmpty()) theme = QStringLiteral("hicolor");
    for (QString stripped = name; !stripped.isEmpty();) {
        std::set<QString> visited;
        if (auto found = findInTheme(theme, stripped, bases, visited)) return found;
        if (auto found = findInTheme(QStringLiteral("hicolor"), stripped, bases, visited)) return found;
        const qsizetype dash = stripped.lastIndexOf(QLatin1Char('-'));
        stripped = dash > 0 ? stripped.left(dash) : QString();
    }
    for (const QString& folder : QIcon::fallbackSearchPaths()) {
        if (folder.startsWith(QLatin1Char(':'))) continue;
        for (const char* extension : {".png", ".svg", ".xpm"}) {
            const QString file = folder + QLatin1Char('/') + name + QLatin1String(extension);
            if (QFileInfo(file).isFile()) return ThemedIconFile{file, 0};
        }
    }
    return std::nullopt;
}

}  // namespace platform
