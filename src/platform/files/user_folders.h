#pragma once

#include <QString>

#include <optional>

namespace platform {

// The current user's standard folders as the desktop names them.
class UserFolders {
public:
    virtual ~UserFolders() = default;

    // The process-wide instance backed by the running system.
    static UserFolders& system();

    virtual QString homeDirectory() const = 0;
    // Where downloaded files land.
    virtual QString downloadDirectory() const = 0;
    // The folder the desktop's screenshot tool saves into, as configured; none when nothing is
    // configured. May name a folder that does not exist. It may read the tool's settings: call it
    // off the main thread.
    virtual std::optional<QString> screenshotLocation() const = 0;
};

// The XDG user directories (`user-dirs.dirs` under XDG_CONFIG_HOME, read at every call). The
// screenshot location is the one the current desktop's own tool saves into (ScreenshotToolSettings:
// Spectacle's setting on KDE, xfce4-screenshooter's on Xfce, else GNOME's "Screenshots" in the
// pictures folder).
class XdgUserFolders final : public UserFolders {
public:
    QString homeDirectory() const override;
    QString downloadDirectory() const override;
    std::optional<QString> screenshotLocation() const override;
};

}  // namespace platform
