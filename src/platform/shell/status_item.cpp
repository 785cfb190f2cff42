#include "platform/shell/status_item.h"

#include "platform/symbols/symbols.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace platform {

namespace {

// Sees key presses before any widget, so a menu command's shortcut works in every window.
class ShortcutFilter final : public QObject {
public:
    explicit ShortcutFilter(const StatusItem& item) : item_(item) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_unknown || key->modifiers() == Qt::NoModifier) return false;
        return item_.triggerShortcut(QKeySequence(key->keyCombination()));
    }

private:
    const StatusItem& item_;
};

}  // namespace

StatusItem::StatusItem(QString title, QString symbolName, MenuBuilder buildMenu, Presentation presentation)
    : title_(std::move(title)), symbolName_(std::move(symbolName)), buildMenu_(std::move(buildMenu)) {
    if (auto* app = QCoreApplication::instance()) {
        shortcutFilter_ = std::make_unique<ShortcutFilter>(*this);
        app->installEventFilter(shortcutFilter_.get());
    }
    if (presentation != Presentation::SystemTray || !QSystemTrayIcon::isSystemTrayAvailable()) return;

    menu_ = std::make_unique<QMenu>();
    QObject::connect(menu_.get(), &QMenu::aboutToShow, menu_.get(), [this] { rebuildTrayMenu(); });
    rebuildTrayMenu();

    const QColor color = QApplication::palette().color(QPalette::WindowText);
    tray_ = std::make_unique<QSystemTrayIcon>(QIcon(QPixmap::fromImage(Symbols::image(symbolName_, {64, 64}, color))));
    tray_->setToolTip(title_);
    tray_->setContextMenu(menu_.get());
    // A click opens the menu, as a menu-bar entry does.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, menu_.get(), [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
    });
    tray_->show();
}

StatusItem::~StatusItem() {
    if (shortcutFilter_ && QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(shortcutFilter_.get());
    tray_.reset();
}

bool StatusItem::trigger(const QString& title) const {
    for (const MenuItem& item : buildMenu_()) {
        if (item.kind != MenuItem::Kind::Command || item.title != title) continue;
        if (item.action) item.action();
        return true;
    }
    return false;
}

bool StatusItem::triggerShortcut(const QKeySequence& shortcut) const {
    if (shortcut.isEmpty()) return false;
    for (const MenuItem& item : buildMenu_()) {
        if (item.kind != MenuItem::Kind::Command || item.shortcut.isEmpty() || item.shortcut != shortcut) continue;
        if (item.action) item.action();
        return true;
    }
    return false;
}

void StatusItem::rebuildTrayMenu() {
    menu_->clear();
    for (const MenuItem& item : buildMenu_()) {
        if (item.kind == MenuItem::Kind::Separator) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(item.title);
        action->setShortcut(item.shortcut);
        QObject::connect(action, &QAction::triggered, action, [fn = item.action] {
            if (fn) fn();
        });
    }
}

}  // namespace platform
