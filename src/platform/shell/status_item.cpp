#include "platform/shell/status_item.h"

#include "platform/symbols/symbols.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <algorithm>
#include <cmath>
#include <numbers>

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
    if (presentation != Presentation::SystemTray) return;
    // On X11 a tray icon made before any tray exists follows the tray manager's selection and
    // docks when a tray appears (the usual race at login); elsewhere it needs a tray now.
    if (QGuiApplication::platformName() != QLatin1String("xcb") && !QSystemTrayIcon::isSystemTrayAvailable()) return;

    menu_ = std::make_unique<QMenu>();
    QObject::connect(menu_.get(), &QMenu::aboutToShow, menu_.get(), [this] { rebuildTrayMenu(); });
    rebuildTrayMenu();

    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(trayImage(symbolName_, size)));
    tray_ = std::make_unique<QSystemTrayIcon>(icon);
    tray_->setToolTip(title_);
    tray_->setContextMenu(menu_.get());
    // A click opens the menu, as a menu-bar entry does.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, menu_.get(), [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
    });
    tray_->show();
}

QImage StatusItem::trayImage(const QString& symbolName, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // The glyph a little inside the square, leaving room for its dark ring.
    const double ring = std::max(1.0, size / 16.0);
    const QRectF glyph = QRectF(0, 0, size, size).adjusted(ring, ring, -ring, -ring);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    for (int step = 0; step < 16; ++step) {
        const double angle = step * std::numbers::pi / 8;
        Symbols::draw(painter, symbolName, glyph.translated(ring * std::cos(angle), ring * std::sin(angle)),
                      QColor(20, 20, 24, 230));
    }
    Symbols::draw(painter, symbolName, glyph, QColor(250, 250, 250));
    return image;
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
