#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

// Where the desktop's own screenshot tool saves, as its settings say:
// - KDE: Spectacle, `spectaclerc` ([ImageSave] imageSaveLocation; before that, [Save]
//   defaultSaveLocation), by default "Screenshots" in the pictures folder;
// - Xfce: xfce4-screenshooter, `xfce4/xfce4-screenshooter` (screenshot_dir), by default the
//   pictures folder;
// - any other desktop (GNOME's own tool among them): "Screenshots" in the pictures folder.
// The settings files are read with a byte limit: call this off the main thread.
class ScreenshotToolSettings {
public:
    // `desktops` as XDG_CURRENT_DESKTOP lists them ("KDE", "XFCE", "ubuntu:GNOME").
    ScreenshotToolSettings(QStringList desktops, QString configHome, QString picturesFolder, QString homeFolder);

    static constexpr qint64 maxSettingsBytes = 256 * 1024;

    // The folder, absolute or starting with "~"; none when there is no pictures folder to start from.
    std::optional<QString> screenshotFolder() const;

    // The value of `key` in `group` (empty: before any group; "*": in any) of an INI-style
    // settings text; KDE's markers after a key ("key[$e]") are ignored. None when it is not set.
    static std::optional<QString> settingsValue(const QByteArray& text, const QString& group, const QString& key);

private:
    std::optional<QString> folderSetting(const QString& file, const QString& group, const QString& key) const;

    QStringList desktops_;
    QString configHome_;
    QString pictures_;
    QString home_;
};

}  // namespace platform
