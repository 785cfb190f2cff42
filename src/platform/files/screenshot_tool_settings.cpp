#include "platform/files/screenshot_tool_settings.h"

#include "platform/files/regular_file.h"

#include <QUrl>

#include <utility>

namespace platform {

ScreenshotToolSettings::ScreenshotToolSettings(QStringList desktops, QString configHome, QString picturesFolder,
                                               QString homeFolder)
    : desktops_(std::move(desktops)), configHome_(std::move(configHome)), pictures_(std::move(picturesFolder)),
      home_(std::move(homeFolder)) {}

std::optional<QString> ScreenshotToolSettings::settingsValue(const QByteArray& text, const QString& group, const QString& key) {
    QString current;
    std::optional<QString> value;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';'))) continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            current = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || (group != QLatin1String("*") && current != group)) continue;
        QString name = line.left(equals).trimmed();
        if (const qsizetype marker = name.indexOf(QStringLiteral("[$")); marker > 0) name.truncate(marker);
        if (name == key) value = line.mid(equals + 1).trimmed();  // the last one counts
    }
    return value;
}

std::optional<QString> ScreenshotToolSettings::folderSetting(const QString& file, const QString& group, const QString& key) const {
    const auto text = readRegularFile(configHome_ + QLatin1Char('/') + file, maxSettingsBytes);
    if (!text) return std::nullopt;
    auto value = settingsValue(*text, group, key);
    if (!value || value->isEmpty()) return std::nullopt;
    // Stored as a URL ("file:///home/me/Pictures"); KDE may write "$HOME" for the home folder.
    if (value->startsWith(QLatin1String("file:"))) value = QUrl(*value).toLocalFile();
    else if (value->startsWith(QLatin1String("$HOME"))) value = home_ + value->mid(5);
    if (value->size() > 1 && value->endsWith(QLatin1Char('/'))) value->chop(1);
    if (value->isEmpty() || !(value->startsWith(QLatin1Char('/')) || value->startsWith(QLatin1Char('~')))) return std::nullopt;
    return value;
}

std::optional<QString> ScreenshotToolSettings::screenshotFolder() const {
    const auto on = [this](const char* desktop) { return desktops_.contains(QLatin1String(desktop), Qt::CaseInsensitive); };
    if (on("KDE")) {
        if (auto folder = folderSetting(QStringLiteral("spectaclerc"), QStringLiteral("ImageSave"), QStringLiteral("imageSaveLocation")))
            return folder;
        if (auto folder = folderSetting(QStringLiteral("spectaclerc"), QStringLiteral("Save"), QStringLiteral("defaultSaveLocation")))
            return folder;
    } else if (on("XFCE")) {
        if (auto folder = folderSetting(QStringLiteral("xfce4/xfce4-screenshooter"), QStringLiteral("*"), QStringLiteral("screenshot_dir")))
            return folder;
        if (!pictures_.isEmpty()) return pictures_;
    }
    if (pictures_.isEmpty()) return std::nullopt;
    return pictures_ + QStringLiteral("/Screenshots");
}

}  // namespace platform
