#include "core/app_icon_helper.h"

#include "core/log.h"
#include "platform/symbols/symbols.h"
#include "platform/workspace/desktop_entries.h"
#include "platform/workspace/icon_lookup.h"
#include "platform/workspace/workspace.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::mutex rootMutex;
QString rootFolder = QStringLiteral("/");

// `absolute` under the injected root, spelled exactly as given when the root is "/".
QString underRoot(const QString& absolute) {
    QString base = AppIconHelper::root();
    while (base.endsWith(QLatin1Char('/'))) base.chop(1);
    return base + absolute;
}

// The largest rendition of an icon, one pixel per point.
std::optional<QImage> imageOf(const std::optional<QIcon>& icon) {
    if (!icon || icon->isNull()) return std::nullopt;
    const QList<QSize> sizes = icon->availableSizes();
    QSize size(256, 256);
    if (!sizes.isEmpty()) {
        size = *std::max_element(sizes.begin(), sizes.end(), [](const QSize& a, const QSize& b) {
            return qint64(a.width()) * a.height() < qint64(b.width()) * b.height();
        });
    }
    QImage image = icon->pixmap(size, 1.0).toImage();
    if (image.isNull()) return std::nullopt;
    image.setDevicePixelRatio(1.0);
    return image;
}

std::optional<QImage> iconOfFile(const QString& path) {
    return imageOf(platform::Workspace::shared().iconForFile(path));
}

// Answers already found, by bundle identifier and by name, valid while the applications folders
// keep their stamps. Lookups may run on several threads.
struct IconMemory {
    std::mutex mutex;
    bool on = false;
    platform::DesktopEntries::Stamps stamps;
    std::map<QString, std::optional<QImage>> byBundle;
    std::map<QString, std::optional<QImage>> byName;
};

IconMemory& memory() {
    static IconMemory instance;
    return instance;
}

// Forgets every answer once the applications folders changed their stamps. Asked once per
// lookup: a lookup that tries the bundle identifier and then the name asks both tables.
void forgetIfFoldersChanged() {
    IconMemory& m = memory();
    std::lock_guard lock(m.mutex);
    if (!m.on) return;
    platform::DesktopEntries::Stamps stamps = platform::DesktopEntries::directoryStamps(AppIconHelper::root());
    if (stamps == m.stamps) return;
    m.stamps = std::move(stamps);
    m.byBundle.clear();
    m.byName.clear();
}

// The remembered answer for `key`, else `lookUp`'s, remembered from then on.
template <typename LookUp>
std::optional<QImage> remembered(std::map<QString, std::optional<QImage>> IconMemory::*table, const QString& key,
                                 LookUp&& lookUp) {
    IconMemory& m = memory();
    {
        std::unique_lock lock(m.mutex);
        if (!m.on) {
            lock.unlock();
            return lookUp();
        }
        const auto found = (m.*table).find(key);
        if (found != (m.*table).end()) return found->second;
    }
    const quint64 pending = platform::IconLookup::pendingAnswers();
    std::optional<QImage> icon = lookUp();
    // An answer given while an icon was still being looked up is not the last word.
    if (platform::IconLookup::pendingAnswers() != pending) return icon;
    std::lock_guard lock(m.mutex);
    if (m.on) (m.*table)[key] = icon;
    return icon;
}

void forgetIcons() {
    IconMemory& m = memory();
    std::lock_guard lock(m.mutex);
    m.stamps.clear();
    m.byBundle.clear();
    m.byName.clear();
}

}  // namespace

void AppIconHelper::setRemembering(bool remembering) {
    forgetIcons();
    std::lock_guard lock(memory().mutex);
    memory().on = remembering;
}

QString AppIconHelper::setRoot(const QString& root) {
    forgetIcons();
    std::lock_guard lock(rootMutex);
    return std::exchange(rootFolder, root);
}

QString AppIconHelper::root() {
    std::lock_guard lock(rootMutex);
    return rootFolder;
}

std::optional<QImage> AppIconHelper::getIconForBundleId(const QString& bundleId) {
    if (bundleId.isEmpty()) return std::nullopt;
    Log& log = Log::shared();
    log.debug(QStringLiteral("AppIconHelper: Searching icon for bundle ID '") + bundleId + QLatin1Char('\''));

    const platform::Workspace& workspace = platform::Workspace::shared();
    const std::vector<platform::RunningApplication> running =
        workspace.runningApplicationsWithBundleIdentifier(bundleId);
    if (!running.empty()) {
        const platform::RunningApplication& app = running.front();
        log.debug(QStringLiteral("AppIconHelper: Found running app '") +
                  app.localizedName.value_or(QStringLiteral("unknown")) + QStringLiteral("' for bundle '") + bundleId +
                  QLatin1Char('\''));
        return imageOf(app.icon);
    }

    if (const std::optional<QString> path = workspace.urlForApplicationWithBundleIdentifier(bundleId)) {
        log.debug(QStringLiteral("AppIconHelper: Found app at '") + *path + QStringLiteral("' for bundle '") +
                  bundleId + QLatin1Char('\''));
        return iconOfFile(*path);
    }

    log.warning(QStringLiteral("AppIconHelper: Could not find app for bundle ID '") + bundleId + QLatin1Char('\''));
    return std::nullopt;
}

std::optional<QImage> AppIconHelper::getIcon(const std::optional<QString>& appName,
                                             const std::optional<QString>& bundleId) {
    Log& log = Log::shared();
    log.debug(QStringLiteral("AppIconHelper: Searching icon for app '") + appName.value_or(QStringLiteral("nil")) +
              QStringLiteral("' bundleId '") + bundleId.value_or(QStringLiteral("nil")) + QLatin1Char('\''));
    forgetIfFoldersChanged();

    if (bundleId && !bundleId->isEmpty()) {
        const std::optional<QImage> icon =
            remembered(&IconMemory::byBundle, *bundleId, [&] { return getIconForBundleId(*bundleId); });
        if (icon) {
            log.debug(QStringLiteral("AppIconHelper: Found icon via bundle ID '") + *bundleId + QLatin1Char('\''));
            return icon;
        }
    }

    if (!appName || appName->isEmpty()) {
        log.debug(QStringLiteral("AppIconHelper: No app name provided"));
        return std::nullopt;
    }
    return remembered(&IconMemory::byName, *appName, [&] { return getIconForName(*appName); });
}

std::optional<QImage> AppIconHelper::getIconForName(const QString& name) {
    Log& log = Log::shared();
    const QString lower = name.toLower();

    // One snapshot for every name test, so they all see the same list in the same order.
    const std::vector<platform::RunningApplication> running = platform::Workspace::shared().runningApplications();
    for (const platform::RunningApplication& app : running) {
        if (app.localizedName && *app.localizedName == name) {
            log.debug(QStringLiteral("AppIconHelper: Found via exact name match"));
            return imageOf(app.icon);
        }
    }
    for (const platform::RunningApplication& app : running) {
        if (app.localizedName && app.localizedName->toLower() == lower) {
            log.debug(QStringLiteral("AppIconHelper: Found via case-insensitive match"));
            return imageOf(app.icon);
        }
    }
    for (const platform::RunningApplication& app : running) {
        if (app.localizedName && app.localizedName->toLower().contains(lower)) {
            log.debug(QStringLiteral("AppIconHelper: Found via partial match (") + *app.localizedName +
                      QLatin1Char(')'));
            return imageOf(app.icon);
        }
    }
    for (const platform::RunningApplication& app : running) {
        if (!app.bundleIdentifier) continue;
        const QStringList pieces = app.bundleIdentifier->split(QLatin1Char('.'), Qt::SkipEmptyParts);
        const bool matches =
            std::any_of(pieces.begin(), pieces.end(), [&](const QString& piece) { return piece.toLower() == lower; });
        if (matches) {
            log.debug(QStringLiteral("AppIconHelper: Found via bundle ID component match (") + *app.bundleIdentifier +
                      QLatin1Char(')'));
            return imageOf(app.icon);
        }
    }

    // An application's entry is named by its id: the name itself, or the name with ".desktop".
    // The folders applications are installed in: each data folder's "applications", most
    // important first; listed at their top level only, and where one lies on a file system that
    // may never answer, as a child listed it. An unreadable folder lists nothing.
    std::vector<std::pair<QString, QStringList>> folders;
    for (const QString& folder : platform::DesktopEntries::directories())
        folders.emplace_back(underRoot(folder), platform::DesktopEntries::folderNames(underRoot(folder)));
    // A name with a slash would reach out of the folders.
    const QString fileName = name.endsWith(QLatin1String(".desktop")) ? name : name + QStringLiteral(".desktop");
    for (const auto& [folder, entries] : name.contains(QLatin1Char('/')) ? decltype(folders)() : folders) {
        if (entries.contains(fileName)) {
            const QString path = folder + QLatin1Char('/') + fileName;
            log.debug(QStringLiteral("AppIconHelper: Found app at path ") + path);
            return iconOfFile(path);
        }
    }

    for (const auto& [folder, entries] : folders) {
        for (const QString& entry : entries) {
            const QFileInfo info(entry);
            // A bare ".desktop" is a hidden name without an extension, not an entry.
            if (info.suffix() != QLatin1String("desktop") || info.completeBaseName().isEmpty()) continue;
            const QString entryName = info.completeBaseName().toLower();
            if (entryName.contains(lower) || lower.contains(entryName)) {
                const QString path = folder + QLatin1Char('/') + entry;
                log.debug(QStringLiteral("AppIconHelper: Found via directory search at ") + path);
                return iconOfFile(path);
            }
        }
    }

    log.warning(QStringLiteral("AppIconHelper: Could not find icon for '") + name + QLatin1Char('\''));
    return std::nullopt;
}

std::optional<QImage> AppIconHelper::getIconForThemedName(const QString& name) {
    // A path would be read here, on the caller's (main) thread: only plain names are looked up.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.'))) return std::nullopt;
    // The remembered picture itself, so that every notification naming it hands on the same image.
    QImage image = platform::IconLookup::shared().find(name).image;
    if (image.isNull()) return std::nullopt;
    return image;
}

QImage AppIconHelper::getDefaultNotificationIcon() {
    // A symbol takes the label colour of where it is drawn; every overlay background is dark.
    QImage bell = platform::Symbols::image(QStringLiteral("bell.fill"), QSize(64, 64), Qt::white);
    if (!bell.isNull()) return bell;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (std::optional<QImage> appIcon = imageOf(QGuiApplication::windowIcon())) return *appIcon;
    }
    return QImage();
}

std::optional<QColor> AppIconHelper::dominantColor(const QImage& image) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) return std::nullopt;

    // 16 x 16, 8 bits per component, RGBA with alpha last and premultiplied: the colour bytes
    // read below are the stored, premultiplied values.
    constexpr int side = 16;
    QImage sample(side, side, QImage::Format_RGBA8888_Premultiplied);
    if (sample.isNull()) return std::nullopt;
    sample.fill(Qt::transparent);
    QImage source = image;
    source.setDevicePixelRatio(1.0);
    {
        QPainter painter(&sample);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(0, 0, side, side), source);
    }

    double red = 0, green = 0, blue = 0;
    int count = 0;
    for (int y = 0; y < side; ++y) {
        const uchar* row = sample.constScanLine(y);
        for (int x = 0; x < side; ++x) {
            const uchar* pixel = row + 4 * x;
            const double r = pixel[0] / 255.0, g = pixel[1] / 255.0, b = pixel[2] / 255.0, a = pixel[3] / 255.0;
            if (!(a > 0.5)) continue;
            const double maxValue = std::max({r, g, b});
            const double minValue = std::min({r, g, b});
            if (!(maxValue > 0)) continue;
            if (!(maxValue < 0.95)) continue;                          // near white and very bright
            if (!(maxValue > 0.15)) continue;                          // near black
            if (!((maxValue - minValue) / maxValue > 0.15)) continue;  // greys and weak colours
            red += r;
            green += g;
            blue += b;
            ++count;
        }
    }
    if (count == 0) return std::nullopt;
    return QColor::fromRgbF(float(red / count), float(green / count), float(blue / count), 1.0f);
}
