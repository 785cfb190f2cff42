#include "permissions/permission_setup_view.h"
#include "support/fake_accessibility.h"
#include "support/fake_app.h"
#include "support/fake_file_access.h"
#include "support/fake_user_directories.h"
#include "support/fake_workspace.h"
#include "support/fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>

using Step = PermissionSetupModel::Step;

namespace {

QStringList buttonTitles(const PermissionSetupModel& model) {
    QStringList titles;
    for (const auto& button : model.buttons()) titles << button.title;
    return titles;
}

QStringList statusTitles(const PermissionSetupModel& model) {
    QStringList titles;
    for (const auto& line : model.statusLines()) titles << line.title;
    return titles;
}

}  // namespace

class PermissionSetupTest : public testsupport::QuillvexTest {
protected:
    PermissionSetupTest() {
        directories.home = home.path();
        directories.passwordHome = home.path();
        environment.permissions = &permissions;
        environment.fullDiskAccess = &fullDiskAccess;
        environment.workspace = &workspace;
        environment.application = &application;
        environment.scheduler = &scheduler();
        environment.bundlePath = [this] { return bundlePath; };
        environment.copyText = [this](const QString& text) { copied = text; };
        actions.openAccessibilitySettings = [this] { ran << "accessibility"; };
        actions.openFullDiskAccessSettings = [this] { ran << "fullDisk"; };
        actions.continueWithoutFullDiskAccess = [this] { ran << "continue"; };
        actions.quit = [this] { ran << "quit"; };
    }

    std::unique_ptr<PermissionSetupModel> model(bool accessibility, bool fullDisk) {
        return std::make_unique<PermissionSetupModel>(accessibility, fullDisk, actions, environment);
    }

    QString storePath() const {
        return home.path() + QStringLiteral("/Library/Group Containers/group.com.apple.usernoted/db2/db");
    }
    void createStore() {
        QDir().mkpath(QFileInfo(storePath()).absolutePath());
        QFile file(storePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    QTemporaryDir home;
    testsupport::FakeAccessibility accessibility;
    testsupport::FakeWorkspace workspace;
    testsupport::FakeApplication application;
    testsupport::FakeUserDirectories directories;
    testsupport::FakeFileAccessProbe files;
    FullDiskAccessManager fullDiskAccess{directories, files, workspace};
    PermissionManager permissions{&accessibility, &workspace};
    PermissionSetupEnvironment environment;
    PermissionSetupModel::Actions actions;
    QString bundlePath = QStringLiteral("/Applications/Quillvex.app");
    QString copied;
    QStringList ran;
};

TEST_F(PermissionSetupTest, StepsFollowFlagsAndPermissions) {
    auto neither = model(false, false);
    EXPECT_EQ(neither->currentStep(), Step::done);
    EXPECT_TRUE(neither->chips().empty());
    EXPECT_TRUE(neither->buttons().empty());
    EXPECT_EQ(neither->heading(), "Permissions look good");

    auto fullDiskOnly = model(false, true);
    EXPECT_EQ(fullDiskOnly->currentStep(), Step::fullDisk);
    EXPECT_EQ(fullDiskOnly->heading(), "Step 1. Allow Full Disk Access");
    ASSERT_EQ(fullDiskOnly->chips().size(), 1u);
    EXPECT_EQ(fullDiskOnly->chips()[0].title, "Full Disk Access");
    EXPECT_EQ(buttonTitles(*fullDiskOnly), (QStringList{"Open Full Disk Access", "Reveal Quillvex.app", "Copy App Path",
                                                        "Continue With Limited Detection"}));

    auto both = model(true, true);
    EXPECT_EQ(both->currentStep(), Step::accessibility);
    EXPECT_EQ(both->heading(), "Step 1. Allow Accessibility");
    EXPECT_EQ(buttonTitles(*both), QStringList{"Open Accessibility Settings"});
    EXPECT_EQ(both->statusLines()[0].value, "Waiting");

    // Trusted at creation: straight to Full Disk Access, numbered 2, the first chip complete.
    accessibility.setTrusted(true);
    auto trusted = model(true, true);
    EXPECT_EQ(trusted->currentStep(), Step::fullDisk);
    EXPECT_EQ(trusted->heading(), "Step 2. Allow Full Disk Access");
    const auto chips = trusted->chips();
    ASSERT_EQ(chips.size(), 2u);
    EXPECT_TRUE(chips[0].isComplete);
    EXPECT_FALSE(chips[0].isCurrent);
    EXPECT_TRUE(chips[1].isCurrent);
    EXPECT_FALSE(chips[1].isComplete);
}

TEST_F(PermissionSetupTest, ReadableButNotOpenableStaysOnFullDiskAccessWithTheError) {
    createStore();
    files.setOpenError(storePath(), QStringLiteral("Operation not permitted"));
    auto m = model(false, true);
    EXPECT_EQ(m->currentStep(), Step::fullDisk);
    EXPECT_EQ(statusTitles(*m),
              (QStringList{"Current app path", "Detected DB path", "Readable", "Openable", "Last error"}));
    const auto lines = m->statusLines();
    EXPECT_EQ(lines[0].value, "/Applications/Quillvex.app");
    EXPECT_TRUE(lines[0].monospace);
    EXPECT_EQ(lines[1].value, storePath());
    EXPECT_EQ(lines[2].value, "Yes");
    EXPECT_FALSE(lines[2].monospace);
    EXPECT_EQ(lines[3].value, "No");
    EXPECT_EQ(lines[4].value, "Operation not permitted");
    EXPECT_FALSE(m->warning().has_value());

    // Nothing readable: no open was tried, so the error is the snapshot's "not readable".
    QFile::remove(storePath());
    m->refreshStatus();
    EXPECT_EQ(m->statusLines()[2].value, "No");
    EXPECT_EQ(m->statusLines()[4].value, "not readable");
}

TEST_F(PermissionSetupTest, PollsEveryEightTenthsWhileOnScreen) {
    auto m = model(false, true);
    int changes = 0;
    auto subscription = m->changed().sink([&] { ++changes; });

    m->appear();
    EXPECT_EQ(application.activationCount(), 1);
    EXPECT_TRUE(m->isPolling());

    createStore();
    scheduler().advance(0.79);
    EXPECT_EQ(m->currentStep(), Step::fullDisk);
    scheduler().advance(0.01);
    EXPECT_EQ(m->currentStep(), Step::done);
    EXPECT_EQ(changes, 1);
    scheduler().advance(0.8);  // nothing shown changed: no redraw
    EXPECT_EQ(changes, 1);

    // Withdrawn while done: back within one tick.
    QFile::remove(storePath());
    scheduler().advance(0.8);
    EXPECT_EQ(m->currentStep(), Step::fullDisk);

    m->disappear();
    EXPECT_FALSE(m->isPolling());
    createStore();
    scheduler().advance(5);
    EXPECT_EQ(m->currentStep(), Step::fullDisk);
}

TEST_F(PermissionSetupTest, DevelopmentBuildWarningOnlyOnFullDiskAccess) {
    bundlePath = QStringLiteral("/Users/me/Library/Developer/Xcode/DerivedData/Quillvex/Build/Quillvex.app");
    auto m = model(true, true);
    EXPECT_TRUE(m->isRunningFromDerivedData());
    EXPECT_FALSE(m->warning().has_value());
    accessibility.setTrusted(true);
    m->refreshStatus();
    ASSERT_TRUE(m->warning().has_value());
    EXPECT_TRUE(m->warning()->startsWith("This build is running from Xcode DerivedData."));

    bundlePath = QStringLiteral("/Users/me/derivedData/Quillvex.app");
    EXPECT_FALSE(m->isRunningFromDerivedData());
}

TEST_F(PermissionSetupTest, LocalActionsRevealAndCopyTheBundle) {
    auto m = model(false, true);
    m->copyAppPath();
    EXPECT_EQ(copied, "/Applications/Quillvex.app");
    m->revealApp();
    ASSERT_EQ(workspace.openedUrls.size(), 1u);
    EXPECT_EQ(workspace.openedUrls[0], QUrl::fromLocalFile("/Applications"));
}

TEST_F(PermissionSetupTest, ViewShowsTheStepsButtonsAndAnswersReturn) {
    PermissionSetupView view(true, false, actions, environment);
    EXPECT_EQ(view.width(), 560);
    auto titles = [&] {
        QStringList result;
        for (QPushButton* button : view.footerButtons()) result << button->accessibleName();
        return result;
    };
    EXPECT_EQ(titles(), (QStringList{"Open Accessibility Settings", "Quit"}));
    EXPECT_TRUE(view.footerButtons().first()->isDefault());

    view.show();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &enter);
    EXPECT_EQ(ran, QStringList{"accessibility"});

    view.footerButtons().last()->click();
    EXPECT_EQ(ran.last(), "quit");

    // Granted: the next tick moves to done, where only Quit is left and Return does nothing.
    accessibility.setTrusted(true);
    scheduler().advance(0.8);
    EXPECT_EQ(titles(), QStringList{"Quit"});
    ran.clear();
    QKeyEvent again(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &again);
    EXPECT_TRUE(ran.isEmpty());

    view.hide();
    EXPECT_FALSE(view.model().isPolling());
}
