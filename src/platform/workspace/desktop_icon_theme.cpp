#include "platform/workspace/desktop_icon_theme.h"

#include "platform/files/child_file_read.h"
#include "platform/files/regular_file.h"
#include "platform/process/child_process.h"
#include "platform/runtime/dispatch.h"
#include "platform/workspace/desktop_entries.h"
#include "platform/workspace/icon_lookup.h"
#include "platform/workspace/xsettings_watch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace platform {

namespace {

constexpr double kGsettingsTimeoutSeconds = 2.0;
const QByteArray kIconThemeSetting = QByteArrayLiteral("Net/IconThemeName");

// A theme name is one folder name.
bool plausibleName(const QString& theme) {
    return !theme.isEmpty() && !theme.contains(QLatin1Char('/')) && theme != QLatin1String(".") &&
           theme != QLatin1String("..");
}

// A GVariant string as gsettings prints it: 'text' (or "text" when it holds a quote), escaped.
std::optional<QString> variantString(const QByteArray& printed) {
    const QString text = QString::fromUtf8(printed).trimmed();
    if (text.size() < 2 || (text.front() != QLatin1Char('\'') && text.front() != QLatin1Char('"')) ||
        text.back() != text.front())
        return std::nullopt;
    QString value;
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\\') && i + 2 < text.size()) ++i;
        value += text.at(i);
    }
    return value;
}

}  // namespace

std::optional<QString> DesktopIconTheme::xsettingsString(const QByteArray& data, const QByteArray& name) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const size_t size = static_cast<size_t>(data.size());
    if (size < 12 || bytes[0] > 1) return std::nullopt;
    const bool bigEndian = bytes[0] == 1;
    const auto card16 = [&](size_t at) {
        return bigEndian ? uint32_t(bytes[at]) << 8 | bytes[at + 1] : uint32_t(bytes[at + 1]) << 8 | bytes[at];
    };
    const auto card32 = [&](size_t at) {
        return bigEndian ? card16(at) << 16 | card16(at + 2) : card16(at + 2) << 16 | card16(at);
    };
    const auto padded = [](size_t n) { return (n + 3) & ~size_t(3); };
    const uint32_t count = card32(8);
    size_t at = 12;
    for (uint32_t i = 0; i < count; ++i) {
        // type, unused, name length, name (padded), last-change serial
        if (size - at < 4) return std::nullopt;
        const unsigned type = bytes[at];
        const size_t nameLength = card16(at + 2);
        at += 4;
        if (size - at < padded(nameLength) + 4) return std::nullopt;
        const QByteArray settingName(data.constData() + at, static_cast<qsizetype>(nameLength));
        at += padded(nameLength) + 4;
        switch (type) {
        case 0:  // integer
            if (size - at < 4) return std::nullopt;
            at += 4;
            break;
        case 1: {  // string
            if (size - at < 4) return std::nullopt;
            const size_t length = card32(at);
            at += 4;
            if (length > size - at || padded(length) > size - at) return std::nullopt;
            if (settingName == name)
                return QString::fromUtf8(data.constData() + at, static_cast<qsizetype>(length));
            at += padded(length);
            break;
        }
        case 2:  // colour: four CARD16
            if (size - at < 8) return std::nullopt;
            at += 8;
            break;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<QString> DesktopIconTheme::gnomeIconTheme(ProcessLauncher& launcher, const QString& gsettings) {
    const ProcessResult result = launcher.run(
        ProcessSpec{gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("icon-theme")}, {}, {}},
        kGsettingsTimeoutSeconds, 4096);
    if (!result.succeeded()) return std::nullopt;
    return variantString(result.standardOutput);
}

bool DesktopIconTheme::installed(const std::optional<QString>& theme, const QStringList& searchPaths, bool localOnly) {
    if (!theme || !plausibleName(*theme) || theme->compare(QLatin1String("hicolor"), Qt::CaseInsensitive) == 0)
        return false;
    std::vector<QByteArray> elsewhere;
    for (const QString& folder : searchPaths) {
        const QString index = folder + QLatin1Char('/') + *theme + QStringLiteral("/index.theme");
        if (!readsInPlace(index)) {
            if (!localOnly) elsewhere.push_back(QFile::encodeName(index));
            continue;
        }
        if (QFileInfo(index).isFile()) return true;
    }
    // Looked at by a child, which may be left behind where a file system never answers.
    if (elsewhere.empty()) return false;
    const std::optional<ChildProbe> probe =
        firstFileInChild(elsewhere, std::chrono::steady_clock::now() + std::chrono::milliseconds(kFileReadTimeoutMs));
    return probe && probe->index;
}

QStringList DesktopIconTheme::searchPaths() {
    QStringList paths{QDir::homePath() + QStringLiteral("/.icons")};
    for (const QString& root : DesktopEntries::dataDirectories()) paths << root + QStringLiteral("/icons");
    paths << QStringLiteral(":/icons");
    return paths;
}

namespace {

// The search paths readRegularFile reads in place: folders on a file system that may never
// answer (or reached through a link to one) are looked into by a worker alone.
QStringList localFolders(const QStringList& searchPaths) {
    QStringList local;
    for (const QString& path : searchPaths)
        if (readsInPlace(path)) local << path;
    return local;
}

// Sets QIcon's theme from what the desktop names, now and as the XSETTINGS manager names others.
// Main thread, but for the workers' look at folders.
class ThemeFollower : public std::enable_shared_from_this<ThemeFollower> {
public:
    ThemeFollower(Scheduler& scheduler, std::function<void(const QString&)> changed)
        : scheduler_(scheduler), changed_(std::move(changed)), searchPaths_(QIcon::themeSearchPaths()) {}

    const QStringList& searchPaths() const { return searchPaths_; }

    void use(const QString& theme) {
        if (theme == QIcon::themeName()) return;
        QIcon::setThemeName(theme);
        if (changed_) changed_(theme);
        // Icons found in the old theme are stale: whoever holds one hears of it as of a lookup's end.
        IconLookup::shared().notifyListeners();
    }
    // `theme` when the worker that found it answers, unless the manager named another meanwhile.
    std::function<void(const QString&)> useLater() {
        return [self = shared_from_this(), named = named_](const QString& theme) {
            self->scheduler_.post([self, named, theme] {
                if (self->named_ == named) self->use(theme);
            });
        };
    }
    // The theme the manager names: at once when installed on this machine's own file systems, else
    // once a worker found it elsewhere. Whether it was taken at once.
    bool takeNamed(const QStringList& local) {
        if (DesktopIconTheme::installed(named_, local, true)) {
            use(*named_);
            return true;
        }
        if (named_ && local.size() < searchPaths_.size()) {
            scheduler_.global([searchPaths = searchPaths_, theme = *named_, later = useLater()] {
                if (DesktopIconTheme::installed(theme, searchPaths)) later(theme);
            });
        }
        return false;
    }

    // Reads the manager's settings and follows them from now on; whether it names a theme taken at once.
    bool watch(const QByteArray& display, const QStringList& local) {
        watch_ = XSettingsWatch::connect(display);
        if (!watch_) return false;
        named_ = DesktopIconTheme::xsettingsString(watch_->settings(), kIconThemeSetting);
        const bool taken = takeNamed(local);
        watch_->follow([this] { settingsChanged(); });
        return taken;
    }
    void stopWatching() { watch_.reset(); }

private:
    void settingsChanged() {
        // Gone or unreadable settings, or others than the theme changing, keep the theme.
        const std::optional<QString> named = DesktopIconTheme::xsettingsString(watch_->settings(), kIconThemeSetting);
        if (!named || named == named_) return;
        named_ = named;
        takeNamed(localFolders(searchPaths_));
    }

    Scheduler& scheduler_;
    std::function<void(const QString&)> changed_;
    const QStringList searchPaths_;
    std::optional<QString> named_;  // by the manager, last
    std::unique_ptr<XSettingsWatch> watch_;
};

}  // namespace

AnyCancellable DesktopIconTheme::follow(Scheduler& scheduler, ProcessLauncher& launcher,
                                        std::function<void(const QString&)> changed, const Sources& sources) {
    const auto follower = std::make_shared<ThemeFollower>(scheduler, std::move(changed));
    AnyCancellable following([follower] { follower->stopWatching(); });
    const QStringList local = localFolders(follower->searchPaths());
    if (follower->watch(sources.display, local)) return following;
    if (installed(QIcon::themeName(), local, true)) return following;
    for (const QString& fallback : {QStringLiteral("Adwaita"), QStringLiteral("breeze")}) {
        if (installed(fallback, local, true)) {
            follower->use(fallback);
            break;
        }
    }
    if (sources.gsettings && sources.gsettings->isEmpty()) return following;
    scheduler.global([&launcher, searchPaths = follower->searchPaths(), later = follower->useLater(),
                      gsettings = sources.gsettings] {
        // Looked up here: a PATH walk touches the disk.
        const QString program = gsettings ? *gsettings : QStandardPaths::findExecutable(QStringLiteral("gsettings"));
        if (program.isEmpty()) return;
        const std::optional<QString> gnome = gnomeIconTheme(launcher, program);
        if (installed(gnome, searchPaths)) later(*gnome);
    });
    return following;
}

}  // namespace platform
