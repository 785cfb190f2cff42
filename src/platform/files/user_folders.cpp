#include "platform/files/user_folders.h"

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
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) return std::nullopt;
    return pictures + QStringLiteral("/Screenshots");
}

}  // namespace platform
