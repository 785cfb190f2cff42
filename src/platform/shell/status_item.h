#pragma once

#include <QKeySequence>
#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QMenu;
class QObject;
class QSystemTrayIcon;

namespace platform {

struct MenuItem {
    enum class Kind { Command, Separator };

    static MenuItem command(QString title, std::function<void()> action, QKeySequence shortcut = {}) {
        return MenuItem{Kind::Command, std::move(title), std::move(shortcut), std::move(action)};
    }
    static MenuItem separator() { return MenuItem{Kind::Separator, {}, {}, {}}; }

    Kind kind = Kind::Command;
    QString title;
    QKeySequence shortcut;
    std::function<void()> action;
};

// The application's entry in the menu bar: a symbol and a menu. The menu is built afresh each
// time it is shown or inspected, so its texts follow the language of that moment. Shortcuts of
// its commands work whenever one of the application's windows has the keyboard focus.
class StatusItem {
public:
    using MenuBuilder = std::function<std::vector<MenuItem>()>;

    enum class Presentation {
        SystemTray,  // a tray icon where the desktop offers a tray, also one that appears later (X11)
        ModelOnly,   // no tray icon (tests)
    };

    StatusItem(QString title, QString symbolName, MenuBuilder buildMenu,
               Presentation presentation = Presentation::SystemTray);
    ~StatusItem();
    StatusItem(const StatusItem&) = delete;
    StatusItem& operator=(const StatusItem&) = delete;

    const QString& title() const { return title_; }
    const QString& symbolName() const { return symbolName_; }
    std::vector<MenuItem> menuItems() const { return buildMenu_(); }
    // Runs the command with this title in the current menu; false when there is none.
    bool trigger(const QString& title) const;
    // The tray picture of `symbolName`, `size` pixels square: a light glyph ringed in dark, so it
    // reads on dark and light panels alike (the panel's colour is not known to the application).
    static QImage trayImage(const QString& symbolName, int size);
    // Runs the command whose shortcut this is; false when there is none.
    bool triggerShortcut(const QKeySequence& shortcut) const;

private:
    void rebuildTrayMenu();

    QString title_;
    QString symbolName_;
    MenuBuilder buildMenu_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QObject> shortcutFilter_;
};

}  // namespace platform
