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
    // configured. May name a folder that does not exist.
    virtual std::optional<QString> screenshotLocation() const = 0;
};

// The XDG user directories (`user-dirs.dirs` under XDG_CONFIG_HOME, read at every call). The
// desktop has no screenshot-location setting of its own: GNOME saves into "Screenshots" inside
// the pictures folder, so that is the configured location whenever a pictures folder is named.
class XdgUserFolders final : public UserFolders {
public:
    QString homeDirectory() const override;
    QString downloadDirectory() const override;
    std::optional<QString> screenshotLocation() const override;
};

}  // namespace platform
