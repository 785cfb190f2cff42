#include "app/quillvex_app.h"
#include "app_delegate_fixture.h"
#include "core/l10n.h"

#include <QCoreApplication>
#include <QKeyEvent>

using apptest::AppDelegateTest;

namespace {

QStringList titles(const std::vector<platform::MenuItem>& items) {
    QStringList result;
    for (const auto& item : items) {
        result << (item.kind == platform::MenuItem::Kind::Separator ? QStringLiteral("---") : item.title);
    }
    return result;
}

}  // namespace

TEST_F(AppDelegateTest, AppInstallsItsDelegateAndABellWhoseCommandsReachIt) {
    ASSERT_TRUE(grantFullDiskAccess());
    QuillvexApp app(application, platform::StatusItem::Presentation::ModelOnly, environment());
    EXPECT_EQ(application.delegate(), &app.appDelegate());
    EXPECT_EQ(AppDelegate::shared(), &app.appDelegate());
    EXPECT_EQ(app.menuBarExtra().title(), "Quillvex");
    EXPECT_EQ(app.menuBarExtra().symbolName(), "bell.fill");

    // The titles follow the language at the moment the menu is built.
    defaults().set(L10n::languageKey, QStringLiteral("ja"));
    EXPECT_EQ(titles(app.menuBarExtra().menuItems()), (QStringList{"アップデートの確認", "---", "設定...", "---", "終了"}));
    defaults().set(L10n::languageKey, QStringLiteral("en"));
    EXPECT_EQ(titles(app.menuBarExtra().menuItems()), (QStringList{"Check for Updates", "---", "Settings...", "---", "Quit"}));
    application.delegate()->applicationDidFinishLaunching();

    EXPECT_TRUE(app.menuBarExtra().trigger("Check for Updates"));
    EXPECT_EQ(updater.interactiveChecks, 0);  // returns at once; the check runs afterwards
    scheduler().drain();
    EXPECT_EQ(updater.interactiveChecks, 1);
    EXPECT_TRUE(app.menuBarExtra().trigger("Settings..."));
    ASSERT_NE(app.appDelegate().settingsWindow(), nullptr);

    // "Quit" answers Ctrl+Q in any of the application's windows, and runs the shutdown.
    QWidget* target = app.appDelegate().settingsWindow()->widget();
    QKeyEvent plainQ(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, QStringLiteral("q"));
    QCoreApplication::sendEvent(target, &plainQ);
    EXPECT_EQ(application.terminateCount(), 0);
    QKeyEvent controlQ(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier);
    QCoreApplication::sendEvent(target, &controlQ);
    EXPECT_EQ(application.terminateCount(), 1);
    EXPECT_EQ(log.texts().last(), "Application terminating");
    EXPECT_TRUE(app.menuBarExtra().trigger("Quit"));
    EXPECT_EQ(application.terminateCount(), 2);
}
