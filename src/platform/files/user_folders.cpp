#include "platform/files/user_folders.h"

#include "platform/files/screenshot_tool_settings.h"

#include <QStandardPaths>

namespace platform {

UserFolders& UserFolders::system() {
    static XdgUserFolders instance;
    return instance;
}

QString XdgUserFolders::homeDirectory() const { return QStandardPaths::writableLocation(QStandardPaths::HomeLocation); }

QString XdgUserFolders::downloadDirectory() const {
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

std::optional<QString> XdgUserFolders::screenshotLocation() const {
    const ScreenshotToolSettings settings(qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts),
                                          QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                                          QStandardPaths::writableLocation(QStandardPaths::PicturesLocation), homeDirectory());
    return settings.screenshotFolder();
}

}  // namespace platform
