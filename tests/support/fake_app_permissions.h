#pragma once

#include "permissions/full_disk_access_manager.h"
#include "permissions/permission_manager.h"
#include "support/fake_accessibility.h"
#include "support/fake_file_access.h"
#include "support/fake_user_directories.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QFile>
#include <QTemporaryDir>

namespace testsupport {

// The two permissions the application asks for, over fakes: Accessibility trust is scripted on
// `accessibility`; Full Disk Access holds while the notification store exists in a temporary
// home. Build it after the virtual scheduler.
struct FakeAppPermissions {
    FakeAppPermissions() {
        directories.home = home.path();
        directories.passwordHome = home.path();
    }

    QString storePath() const {
        return home.path() + QStringLiteral("/Library/Group Containers/group.com.apple.usernoted/db2/db");
    }
    bool grantFullDiskAccess() const { return writeFile(storePath()); }
    void withdrawFullDiskAccess() const { QFile::remove(storePath()); }

    QTemporaryDir home;
    FakeAccessibility accessibility;
    FakeWorkspace workspace;
    FakeUserDirectories directories;
    FakeFileAccessProbe files;
    FullDiskAccessManager fullDiskAccess{directories, files, workspace};
    PermissionManager permissions{&accessibility, &workspace};
};

}  // namespace testsupport
