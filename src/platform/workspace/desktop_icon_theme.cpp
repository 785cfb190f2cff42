#include "platform/workspace/desktop_icon_theme.h"

#include "platform/files/child_file_read.h"
#include "platform/files/regular_file.h"
#include "platform/process/child_process.h"
#include "platform/runtime/dispatch.h"
#include "platform/workspace/desktop_entries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace platform {

namespace {

// A settings manager's property is a few KiB; more is not one.
constexpr uint32_t kXSettingsLimitWords = 64 * 1024 / 4;
constexpr double kGsettingsTimeoutSeconds = 2.0;

xcb_atom_t internAtom(xcb_connection_t* c, const QByteArray& name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

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

std::optional<QString> DesktopIconTheme::xsettingsIconTheme(const QByteArray& display) {
    int screen = 0;
    xcb_connection_t* c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screen);
    const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> owned(c, xcb_disconnect);
    if (xcb_connection_has_error(c)) return std::nullopt;
    const xcb_atom_t selection = internAtom(c, "_XSETTINGS_S" + QByteArray::number(screen));
    const xcb_atom_t property = internAtom(c, "_XSETTINGS_SETTINGS");
    if (selection == XCB_ATOM_NONE || property == XCB_ATOM_NONE) return std::nullopt;
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const xcb_window_t manager = owner ? owner->owner : xcb_window_t{XCB_NONE};
    std::free(owner);
    if (manager == XCB_NONE) return std::nullopt;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, manager, property, property, 0, kXSettingsLimitWords), nullptr);
    if (!reply) return std::nullopt;
    std::optional<QString> theme;
    if (reply->format == 8 && reply->bytes_after == 0) {
        const QByteArray data(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
        theme = xsettingsString(data, "Net/IconThemeName");
    }
    std::free(reply);
    return theme;
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

void DesktopIconTheme::follow(Scheduler& scheduler, ProcessLauncher& launcher,
                              std::function<void(const QString&)> changed, const Sources& sources) {
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const auto use = [changed](const QString& theme) {
        if (theme == QIcon::themeName()) return;
        QIcon::setThemeName(theme);
        if (changed) changed(theme);
    };
    // Folders on a file system that may never answer (or reached through a link to one) are
    // looked into by a worker alone.
    QStringList local;
    for (const QString& path : searchPaths)
        if (readsInPlace(path)) local << path;
    const std::optional<QString> named = xsettingsIconTheme(sources.display);
    if (installed(named, local, true)) return use(*named);
    if (named && local.size() < searchPaths.size()) {
        scheduler.global([&scheduler, searchPaths, use, theme = *named] {
            if (installed(theme, searchPaths)) scheduler.post([use, theme] { use(theme); });
        });
    }
    if (installed(QIcon::themeName(), local, true)) return;
    for (const QString& fallback : {QStringLiteral("Adwaita"), QStringLiteral("breeze")}) {
        if (installed(fallback, local, true)) {
            use(fallback);
            break;
        }
    }
    if (sources.gsettings && sources.gsettings->isEmpty()) return;
    scheduler.global([&scheduler, &launcher, searchPaths, use, gsettings = sources.gsettings] {
        // Looked up here: a PATH walk touches the disk.
        const QString program = gsettings ? *gsettings : QStandardPaths::findExecutable(QStringLiteral("gsettings"));
        if (program.isEmpty()) return;
        const std::optional<QString> gnome = gnomeIconTheme(launcher, program);
        if (!installed(gnome, searchPaths)) return;
        scheduler.post([use, theme = *gnome] { use(theme); });
    });
}

}  // namespace platform
