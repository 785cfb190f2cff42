#include "permissions/permission_setup_view.h"
#include "support/fake_app.h"
#include "support/fake_app_permissions.h"
#include "support/fixtures.h"
#include "support/golden_image.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPushButton>

using Step = PermissionSetupModel::Step;

namespace {

template <class Item>
QStringList titles(const std::vector<Item>& items) {
    QStringList result;
    for (const auto& item : items) result << item.title;
    return result;
}

}  // namespace

class PermissionSetupTest : public testsupport::QuillvexTest, public testsupport::FakeAppPermissions {
protected:
    PermissionSetupTest() {
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

    testsupport::FakeApplication application;
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
    EXPECT_EQ(titles(fullDiskOnly->buttons()), (QStringList{"Open Store Folder", "Reveal Quillvex.app", "Copy App Path",
                                                        "Continue With Limited Detection"}));

    auto both = model(true, true);
    EXPECT_EQ(both->currentStep(), Step::accessibility);
    EXPECT_EQ(both->heading(), "Step 1. Allow Accessibility");
    EXPECT_EQ(titles(both->buttons()), QStringList{"Turn On Accessibility"});
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

// Linux has neither permission: each screen says what the permission stands for here and where
// to act instead.
TEST_F(PermissionSetupTest, EveryScreenTellsWhatToDoOnLinux) {
    PermissionSetupView view(true, true, actions, environment);
    QStringList labels;
    for (const QLabel* label : view.findChildren<QLabel*>()) labels << label->text();
    EXPECT_TRUE(labels.contains("Linux asks for no permissions, but Quillvex needs a few things in place before the "
                                "notification overlay works reliably."));
    const PermissionSetupModel& m = view.model();
    EXPECT_EQ(m.explanation(),
              "Quillvex uses the Accessibility API (AT-SPI) to detect visible notification banners in real time.");
    EXPECT_EQ(m.instructions(), (QStringList{"1. Press Turn On Accessibility",
                                             "2. Quillvex switches on the desktop's accessibility (AT-SPI)",
                                             "3. If the status stays Waiting, install at-spi2-core and log in again",
                                             "4. This window closes by itself once detection starts"}));
    for (const QString& line : m.instructions()) EXPECT_TRUE(labels.contains(line)) << line.toStdString();
    view.resize(560, view.heightForWidth(560));
    EXPECT_GOLDEN(QStringLiteral("setup-accessibility"), view);

    accessibility.setTrusted(true);
    view.model().refreshStatus();
    EXPECT_EQ(m.explanation(), "Database-based notification detection reads the notification store, a file Quillvex "
                               "itself writes under your home folder. Linux has no Full Disk Access: the store only "
                               "has to be yours and readable by you.");
    EXPECT_EQ(m.instructions(),
              (QStringList{"1. Press Open Store Folder, or open a terminal", "2. Go to the folder of the Detected DB path below",
                           "3. Make the file and its folders yours and readable by you",
                           "4. If the file is missing, restart Quillvex: it creates the store as it starts"}));
    PermissionSetupView fullDisk(true, true, actions, environment);
    fullDisk.resize(560, fullDisk.heightForWidth(560));  // as the window sizes it
    fullDisk.layout()->activate();
    // The tallest screen is exactly as high as its content: no slack spread between the pieces.
    for (int i = 0; i < fullDisk.layout()->count(); ++i) {
        const QWidget* piece = fullDisk.layout()->itemAt(i)->widget();
        const int wanted = piece->hasHeightForWidth() ? piece->heightForWidth(piece->width()) : piece->sizeHint().height();
        EXPECT_EQ(piece->height(), wanted) << i;
    }
}

TEST_F(PermissionSetupTest, ReadableButNotOpenableStaysOnFullDiskAccessWithTheError) {
    ASSERT_TRUE(grantFullDiskAccess());
    files.setOpenError(storePath(), QStringLiteral("Operation not permitted"));
    auto m = model(false, true);
    EXPECT_EQ(m->currentStep(), Step::fullDisk);
    EXPECT_EQ(titles(m->statusLines()),
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
    withdrawFullDiskAccess();
    m->refreshStatus();
    EXPECT_EQ(m->statusLines()[2].value, "No");
    EXPECT_EQ(m->statusLines()[4].value, "not readable");

    // The local actions reveal and copy the bundle.
    m->copyAppPath();
    EXPECT_EQ(copied, "/Applications/Quillvex.app");
    m->revealApp();
    EXPECT_TRUE(workspace.openedUrls.empty());
    ASSERT_EQ(workspace.fileViewerSelections.size(), 1u);
    EXPECT_EQ(workspace.fileViewerSelections[0], std::vector{QUrl::fromLocalFile("/Applications/Quillvex.app")});

    // The store's folder, or the nearest one that exists, after the creator's action.
    const QString folder = QFileInfo(storePath()).absolutePath();
    const auto openStoreFolder = m->buttons().front();
    for (const QString& expected : {folder, home.path()}) {
        openStoreFolder.action();
        EXPECT_EQ(ran.last(), "fullDisk");
        EXPECT_EQ(workspace.openedUrls.back(), QUrl::fromLocalFile(expected));
        ASSERT_TRUE(QDir(home.path() + "/Library").removeRecursively());
    }
}

TEST_F(PermissionSetupTest, PollsEveryEightTenthsWhileOnScreen) {
    auto m = model(false, true);
    int changes = 0;
    auto subscription = m->changed().sink([&] { ++changes; });

    m->appear();
    EXPECT_EQ(application.activationCount(), 1);
    EXPECT_TRUE(m->isPolling());

    ASSERT_TRUE(grantFullDiskAccess());
    scheduler().advance(0.79);
    EXPECT_EQ(m->currentStep(), Step::fullDisk);
    scheduler().advance(0.01);
    EXPECT_EQ(m->currentStep(), Step::done);
    EXPECT_EQ(changes, 1);
    scheduler().advance(0.8);  // nothing shown changed: no redraw
    EXPECT_EQ(changes, 1);

    // Withdrawn while done: back within one tick.
    withdrawFullDiskAccess();
    scheduler().advance(0.8);
    EXPECT_EQ(m->currentStep(), Step::fullDisk);

    m->disappear();
    EXPECT_FALSE(m->isPolling());
    ASSERT_TRUE(grantFullDiskAccess());
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

TEST_F(PermissionSetupTest, ViewShowsEveryButtonTitleInFullAndAnswersReturn) {
    PermissionSetupView view(true, true, actions, environment);
    auto footer = [&] {
        QStringList result;
        for (QPushButton* button : view.footerButtons()) result << button->text();
        return result;
    };
    EXPECT_EQ(footer(), (QStringList{"Turn On Accessibility", "Quit"}));
    EXPECT_TRUE(view.footerButtons().first()->isDefault());

    view.show();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &enter);
    EXPECT_EQ(ran, QStringList{"accessibility"});
    view.footerButtons().last()->click();
    EXPECT_EQ(ran.last(), "quit");

    // The widest footer: no title is cut short, reading order is kept and "Quit" ends the last
    // row at the column's right padding.
    accessibility.setTrusted(true);
    scheduler().advance(0.8);
    QCoreApplication::sendPostedEvents();
    view.layout()->activate();
    EXPECT_EQ(view.width(), 560);
    EXPECT_EQ(footer(), (QStringList{"Open Store Folder", "Reveal Quillvex.app", "Copy App Path",
                                     "Continue With Limited Detection", "Quit"}));
    QRect previous;
    for (QPushButton* button : view.footerButtons()) {
        const QRect frame(button->mapTo(&view, QPoint(0, 0)), button->size());
        EXPECT_GE(frame.width(), button->sizeHint().width()) << button->text().toStdString();
        EXPECT_GE(frame.left(), 22);
        EXPECT_LE(frame.right() + 1, 560 - 22);
        EXPECT_TRUE(frame.top() > previous.top() || (frame.top() == previous.top() && frame.left() > previous.right()));
        previous = frame;
    }
    EXPECT_EQ(previous.right() + 1, 560 - 22);

    // Done: only Quit is left and Return does nothing.
    ASSERT_TRUE(grantFullDiskAccess());
    scheduler().advance(0.8);
    EXPECT_EQ(footer(), QStringList{"Quit"});
    ran.clear();
    QCoreApplication::sendEvent(&view, &enter);
    EXPECT_TRUE(ran.isEmpty());

    view.hide();
    EXPECT_FALSE(view.model().isPolling());
}
