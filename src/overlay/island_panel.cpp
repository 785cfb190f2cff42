#include "overlay/island_panel.h"

#include <QGuiApplication>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// Every live panel, for stacking by level. Main thread only.
std::vector<IslandPanel*>& livePanels() {
    static std::vector<IslandPanel*> panels;
    return panels;
}
}  // namespace

IslandPanel::IslandPanel(const QRectF& contentRect, platform::Screens* screens, platform::Scheduler& scheduler)
    : QWidget(nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                  Qt::NoDropShadowWindowHint),
      screensOverride_(screens),
      frame_(contentRect, scheduler),
      alpha_(1.0, scheduler) {
    // Without a window manager in the way a frame above the screen's top edge is kept as set.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        setWindowFlag(Qt::X11BypassWindowManagerHint, true);
    }
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);  // stays when the application deactivates
    setFocusPolicy(Qt::NoFocus);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    frameWatch_ = frame_.onChange([this] { applyFrame(); });
    alphaWatch_ = alpha_.onChange([this] { applyAlpha(); });
    applyFrame();
    applyAlpha();
    livePanels().push_back(this);
}

IslandPanel::~IslandPanel() { std::erase(livePanels(), this); }

platform::Screens& IslandPanel::screens() const {
    return screensOverride_ ? *screensOverride_ : platform::Screens::shared();
}

void IslandPanel::applyFrame() {
    const QRectF qt = screens().toQt(frame_.value());
    const QRect rounded(static_cast<int>(std::lround(qt.x())), static_cast<int>(std::lround(qt.y())),
                        static_cast<int>(std::lround(qt.width())), static_cast<int>(std::lround(qt.height())));
    if (geometry() != rounded) setGeometry(rounded);
}

void IslandPanel::applyAlpha() {
    const double opacity = std::clamp(alpha_.value(), 0.0, 1.0);
    if (windowOpacity() != opacity) setWindowOpacity(opacity);
}

void IslandPanel::setLevel(int level) {
    level_ = level;
    if (isVisible()) restackByLevel();
}

void IslandPanel::orderFront() {
    applyFrame();
    applyAlpha();
    show();
    restackByLevel();
}

void IslandPanel::orderOut() { hide(); }

void IslandPanel::restackByLevel() {
    // The offscreen platform has no stacking order (and warns at every raise).
    static const bool hasStacking = QGuiApplication::platformName() != QLatin1String("offscreen");
    if (!hasStacking) return;
    raise();
    // Panels of a higher level go back above this one, lowest first.
    std::vector<IslandPanel*> higher;
    for (IslandPanel* panel : livePanels()) {
        if (panel != this && panel->isVisible() && panel->level_ > level_) higher.push_back(panel);
    }
    std::stable_sort(higher.begin(), higher.end(), [](auto* a, auto* b) { return a->level_ < b->level_; });
    for (IslandPanel* panel : higher) panel->raise();
}

std::optional<platform::ScreenInfo> IslandPanel::currentScreen() const {
    const QRectF f = frame();
    std::optional<platform::ScreenInfo> best;
    double bestArea = 0;
    for (const platform::ScreenInfo& screen : screens().screens()) {
        const QRectF overlap = screen.frame.intersected(f);
        const double area = overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen;
        }
    }
    return best;
}

void IslandPanel::setContentView(QWidget* view) {
    if (content_ == view) return;
    if (content_) content_->deleteLater();
    content_ = view;
    if (view) layout()->addWidget(view);
}
