#pragma once

#include "app/app_delegate.h"
#include "platform/shell/application.h"
#include "platform/shell/status_item.h"

#include <memory>
#include <vector>

// The application as the user meets it: one delegate, installed as the application's delegate
// before launch finishes, and a bell in the menu bar with three commands.
class QuillvexApp {
public:
    explicit QuillvexApp(platform::Application& application = platform::Application::shared(),
                         platform::StatusItem::Presentation presentation = platform::StatusItem::Presentation::SystemTray,
                         AppDelegateEnvironment environment = {});
    ~QuillvexApp();
    QuillvexApp(const QuillvexApp&) = delete;
    QuillvexApp& operator=(const QuillvexApp&) = delete;

    AppDelegate& appDelegate() { return *appDelegate_; }
    platform::StatusItem& menuBarExtra() { return *menuBarExtra_; }

    static inline const QString menuBarTitle = QStringLiteral("Quillvex");
    static inline const QString menuBarSymbol = QStringLiteral("bell.fill");

    // The menu as it reads now: its titles follow the language at the moment it is built.
    static std::vector<platform::MenuItem> menu(AppDelegate& delegate, platform::Application& application);

private:
    platform::Application& application_;
    std::unique_ptr<AppDelegate> appDelegate_;
    std::unique_ptr<platform::StatusItem> menuBarExtra_;
};
