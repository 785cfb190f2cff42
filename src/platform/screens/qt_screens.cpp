#include "platform/screens/qt_screens.h"

#include "platform/screens/screen_geometry.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace platform {

namespace {

// Connector names of panels built into the machine (DRM and RandR spellings).
bool isBuiltInName(const QString& name) {
    for (const char* prefix : {"eDP", "LVDS", "DSI"}) {
        if (name.startsWith(QLatin1String(prefix), Qt::CaseInsensitive)) return true;
    }
    return false;
}

}  // namespace

QtScreens::QtScreens() : simulatedNotch_(parseSimulatedNotch(qEnvironmentVariable("QUILLVEX_SIMULATED_NOTCH"))) {}

uint32_t QtScreens::displayNumber(QScreen* screen) const {
    std::lock_guard lock(mutex_);
    const QString key = screen->name() + QLatin1Char('\n') + screen->serialNumber();
    auto it = numbers_.find(key);
    if (it == numbers_.end()) it = numbers_.emplace(key, uint32_t(numbers_.size() + 1)).first;
    return it->second;
}

ScreenInfo QtScreens::info(QScreen* screen, const QRectF& primaryGeometry, bool primary) const {
    ScreenInfo result;
    result.frame = fromQtRect(QRectF(screen->geometry()), primaryGeometry);
    result.visibleFrame = fromQtRect(QRectF(screen->availableGeometry()), primaryGeometry);
    result.displayNumber = displayNumber(screen);
    result.isBuiltIn = isBuiltInName(screen->name());
    if (primary && simulatedNotch_) applySimulatedNotch(result, *simulatedNotch_);
    return result;
}

std::vector<ScreenInfo> QtScreens::screens() const {
    std::vector<ScreenInfo> result;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return result;
    const QRectF primaryGeometry(primary->geometry());
    result.push_back(info(primary, primaryGeometry, true));
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary) result.push_back(info(screen, primaryGeometry, false));
    }
    return result;
}

std::optional<ScreenInfo> QtScreens::mainScreen() const {
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return std::nullopt;
    return info(primary, QRectF(primary->geometry()), true);
}

QPointF QtScreens::mouseLocation() const { return fromQtPoint(QPointF(QCursor::pos()), primaryQtGeometry()); }

QRectF QtScreens::primaryQtGeometry() const {
    QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? QRectF(primary->geometry()) : QRectF();
}

}  // namespace platform
