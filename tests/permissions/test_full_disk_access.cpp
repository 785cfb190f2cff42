#include "permissions/full_disk_access_manager.h"
#include "support/fake_file_access.h"
#include "support/fake_user_directories.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QTemporaryDir>

using platform::LogLevel;
using Attempt = FullDiskAccessManager::Attempt;

class FullDiskAccessTest : public testsupport::QuillvexTest {
protected:
    FullDiskAccessTest() : bundle(std::nullopt, QStringLiteral("/Applications/Quillvex.app")) {
        directories.home = homeDir.path();
        previousBundle = platform::MainBundle::setShared(&bundle);
    }
    ~FullDiskAccessTest() override { platform::MainBundle::setShared(previousBundle); }

    void touch(const QString& path) { ASSERT_TRUE(testsupport::writeFile(path)); }
    void readableButUnopenable(const QString& path, const QString& error) {
        fileAccess.setReadable(path, true);
        fileAccess.setOpenError(path, error);
    }

    QTemporaryDir homeDir;
    const QString first = homeDir.path() + "/Library/Group Containers/group.com.apple.usernoted/db2/db";
    const QString second = homeDir.path() + "/Library/Group Containers/group.com.apple.usernoted/db/db";
    const QString third = homeDir.path() + "/Library/Application Support/NotificationCenter/db2/db";

    testsupport::FakeUserDirectories directories;
    testsupport::FakeFileAccessProbe fileAccess;
    testsupport::FakeWorkspace workspace;
    FullDiskAccessManager manager{directories, fileAccess, workspace};
    platform::MainBundle bundle;
    const platform::MainBundle* previousBundle;
};

TEST_F(FullDiskAccessTest, FirstCandidateThatOpensEndsTheWalk) {
    touch(second);
    touch(third);
    auto snapshot = manager.diagnosticSnapshot();
    EXPECT_TRUE(snapshot.canOpen && snapshot.isReadable);
    EXPECT_EQ(snapshot.dbPath, second);
    EXPECT_FALSE(snapshot.errorDescription);
    EXPECT_EQ(snapshot.attempts,
              (std::vector<Attempt>{{first, false, false, false, "not found"}, {second, true, true, true, std::nullopt}}));
}

TEST_F(FullDiskAccessTest, WithoutAnOpenableCandidateTheBestOtherOneIsNamed) {
    auto nothing = manager.diagnosticSnapshot();
    EXPECT_EQ(nothing.attempts.size(), 12u);
    EXPECT_EQ(nothing.attempts.back().path, "/private/var/db/NotificationCenter/db");
    EXPECT_EQ(nothing.dbPath, first);  // nothing exists: the first candidate
    EXPECT_EQ(nothing.errorDescription, "not readable");
    EXPECT_FALSE(nothing.isReadable || nothing.canOpen);

    fileAccess.setExists(third, true);
    fileAccess.setReadable(third, false);
    auto unreadable = manager.diagnosticSnapshot();
    EXPECT_EQ(unreadable.dbPath, third);  // the first existing one
    EXPECT_EQ(unreadable.attempts[2], (Attempt{third, true, false, false, "not readable"}));
    EXPECT_EQ(unreadable.errorDescription, "not readable");
    EXPECT_FALSE(unreadable.isReadable);  // it exists, but that is not reading it
    const QString last = unreadable.attempts.back().path;
    fileAccess.setExists(last, true);
    fileAccess.setReadable(last, false);
    EXPECT_EQ(manager.diagnosticSnapshot().dbPath, third);  // still the first, not the latest found

    // Readable candidates that fail to open: the first of them, with the last open error.
    readableButUnopenable(second, "Operation not permitted");
    auto one = manager.diagnosticSnapshot();
    EXPECT_TRUE(one.isReadable);
    EXPECT_FALSE(one.canOpen);
    EXPECT_EQ(one.dbPath, second);
    EXPECT_EQ(one.errorDescription, "Operation not permitted");
    readableButUnopenable(third, "Input/output error");
    auto two = manager.diagnosticSnapshot();
    EXPECT_EQ(two.dbPath, second);
    EXPECT_EQ(two.errorDescription, "Input/output error");
    EXPECT_EQ(two.attempts[2], (Attempt{third, true, true, false, "Input/output error"}));
}

TEST_F(FullDiskAccessTest, PerUserCandidateComesFirstAndSandboxedProcessesProbeUnderTheRealHome) {
    directories.perUser = std::string("\t ") + homeDir.path().toStdString() + "/T/\n";
    auto snapshot = manager.diagnosticSnapshot();
    ASSERT_EQ(snapshot.attempts.size(), 13u);  // whether or not that file exists
    // Control characters are trimmed, the space is not.
    EXPECT_EQ(snapshot.attempts[0].path, " " + homeDir.path() + "/T/com.apple.notificationcenter/db2/db");
    EXPECT_EQ(snapshot.attempts[1].path, first);
    EXPECT_FALSE(snapshot.isSandboxed);

    directories.perUser.reset();
    directories.home = "/Users/ada/Library/Containers/com.varnock.Quillvex/Data";
    directories.passwordHome = homeDir.path();
    snapshot = manager.diagnosticSnapshot();
    EXPECT_TRUE(snapshot.isSandboxed);
    EXPECT_EQ(snapshot.containerHome, directories.home);
    EXPECT_EQ(snapshot.realHome, homeDir.path());
    EXPECT_EQ(snapshot.attempts[0].path, first);

    // Without a password entry the container is all there is; the environment also marks a sandbox.
    directories.passwordHome.clear();
    EXPECT_EQ(manager.diagnosticSnapshot().attempts[0].path,
              directories.home + "/Library/Group Containers/group.com.apple.usernoted/db2/db");
    directories.home = "/home/ada";
    directories.passwordHome = homeDir.path();
    directories.sandboxContainerId = true;
    EXPECT_EQ(manager.diagnosticSnapshot().attempts[0].path, first);
}

TEST_F(FullDiskAccessTest, SnapshotIsLoggedOncePerSignatureAcrossContextsAndThePaneOpens) {
    touch(first);
    manager.logDiagnosticSnapshotIfNeeded(std::nullopt, "check");
    ASSERT_EQ(log.texts().size(), 2);
    EXPECT_TRUE(log.contains(LogLevel::Info, "FullDiskAccessManager[check]: appPath=/Applications/Quillvex.app "
                                             "sandboxed=false containerHome=" + homeDir.path() + " realHome= dbPath=" +
                                                 first + " readable=true openable=true error=none"));
    EXPECT_TRUE(log.contains(LogLevel::Debug, "FullDiskAccessManager[check]: candidate path=" + first +
                                                  " exists=true readable=true openable=true error=none"));

    // Same signature under another context, or differing only in the homes and sandbox flag.
    manager.logDiagnosticSnapshotIfNeeded(std::nullopt, "setup-flow");
    auto moved = manager.diagnosticSnapshot();
    moved.containerHome = "/elsewhere";
    moved.realHome = "/real";
    moved.isSandboxed = true;
    manager.logDiagnosticSnapshotIfNeeded(moved, "check");
    EXPECT_EQ(log.lines().size(), 2u);

    // A changed error text of any attempt logs again, also when the snapshot's own error stays.
    readableButUnopenable(first, "Operation not permitted");
    readableButUnopenable(second, "Input/output error");
    manager.logDiagnosticSnapshotIfNeeded(std::nullopt, "setup-flow");
    fileAccess.setOpenError(first, "Permission denied");
    manager.logDiagnosticSnapshotIfNeeded(std::nullopt, "setup-flow");
    EXPECT_EQ(log.matching("FullDiskAccessManager[setup-flow]: appPath=").size(), 2);

    manager.openFullDiskAccessSettings();
    ASSERT_EQ(workspace.openedUrls.size(), 1u);
    EXPECT_EQ(workspace.openedUrls[0].toString(), "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles");
}
