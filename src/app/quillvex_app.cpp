#include "app/quillvex_app.h"

#include "core/l10n.h"

#include <QKeySequence>

QuillvexApp::QuillvexApp(platform::Application& application, platform::StatusItem::Presentation presentation,
                         AppDelegateEnvironment environment)
    : application_(application) {
    if (!environment.application) environment.application = &application;
    appDelegate_ = std::make_unique<AppDelegate>(std::move(environment));
    application_.setDelegate(appDelegate_.get());
    AppDelegate* delegate = appDelegate_.get();
    menuBarExtra_ = std::make_unique<platform::StatusItem>(
        menuBarTitle, menuBarSymbol, [delegate, &application] { return menu(*delegate, application); }, presentation);
}

QuillvexApp::~QuillvexApp() {
    menuBarExtra_.reset();
    if (application_.delegate() == appDelegate_.get()) application_.setDelegate(nullptr);
}

std::vector<platform::MenuItem> QuillvexApp::menu(AppDelegate& delegate, platform::Application& application) {
    using platform::MenuItem;
    return {
        MenuItem::command(L10n::checkForUpdates(),
                          [&delegate] { delegate.checkForUpdates(); }),
        MenuItem::separator(),
        MenuItem::command(L10n::pick(QStringLiteral("Settings..."), QStringLiteral("設定...")),
                          [&delegate] { delegate.openSettings(); }),
        MenuItem::separator(),
        MenuItem::command(L10n::pick(QStringLiteral("Quit"), QStringLiteral("終了")),
                          [&application] { application.terminate(); }, QKeySequence(Qt::CTRL | Qt::Key_Q)),
    };
}
