#pragma once

#include "platform/runtime/reactive.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace platform {

class ProcessLauncher;
class Scheduler;

// The icon theme the desktop uses. Qt's generic platform theme names none, and then only hicolor
// is searched, which holds few of the names notifications give (mail-message-new). The desktop
// names its theme in XSETTINGS (Net/IconThemeName, served by GNOME, Xfce, MATE, KDE and
// xsettingsd), else in GNOME's org.gnome.desktop.interface icon-theme; without either, the
// freedesktop default that is installed stands in.
class DesktopIconTheme {
public:
    struct Sources {
        QByteArray display;  // empty: $DISPLAY
        // The gsettings program; none: looked up in PATH; empty: the GNOME setting is not read.
        std::optional<QString> gsettings;
    };

    // On the main thread: the theme XSETTINGS names (looked for on a network or FUSE file system
    // by a worker only, which sets it when found), else the one Qt's platform theme chose (KDE's
    // and GNOME's read the desktop's setting), else the GNOME setting, else Adwaita or breeze,
    // whichever is installed first; each only when installed. QIcon takes the X server's answer
    // or the installed default at once, so the first notifications find their icons; the GNOME
    // setting, which takes running gsettings, follows from a worker. Until the returned handle is
    // cancelled, each theme the XSETTINGS manager names later (a new manager included) is taken
    // the same way, and an answer a worker gives after it names another is dropped. `changed`
    // runs on the main thread after each change of QIcon's theme, and then IconLookup's listeners.
    static AnyCancellable follow(Scheduler& scheduler, ProcessLauncher& launcher,
                                 std::function<void(const QString&)> changed, const Sources& sources = {});

    // The string setting `name` of an _XSETTINGS_SETTINGS property value; none when absent, not a
    // string, or the data is malformed.
    static std::optional<QString> xsettingsString(const QByteArray& data, const QByteArray& name);
    // org.gnome.desktop.interface icon-theme as the gsettings program prints it; none without the
    // schema.
    static std::optional<QString> gnomeIconTheme(ProcessLauncher& launcher, const QString& gsettings);
    // Where icon themes are installed: ~/.icons, then each data folder's icons, as the environment
    // names them, without looking at any (Qt's own list is made by looking at each, on the main
    // thread, where a folder on a file system that never answers would hold it for good).
    static QStringList searchPaths();
    // Whether a theme of this name other than hicolor is installed in one of the folders (it has an
    // index.theme there).
    // `localOnly`: on this machine's own file systems only, no link leading elsewhere followed.
    static bool installed(const std::optional<QString>& theme, const QStringList& searchPaths, bool localOnly = false);
};

}  // namespace platform
