#pragma once

// The notch panel of the switcher mode: a black 400 by 160 panel hanging from the notch with a
// row of the recently used applications; a click brings one to the front.

#include "core/event_bus.h"
#include "core/notch_info.h"
#include "notch/notch_aware_shape.h"
#include "notch/notch_drawing.h"
#include "platform/animation/animation.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/screens/screens.h"
#include "platform/storage/defaults.h"
#include "platform/workspace/workspace.h"

#include <QList>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>

struct SwitcherViewServices {
    EventBus& bus = EventBus::shared();
    platform::Scheduler& scheduler = platform::Scheduler::shared();
    platform::Defaults& defaults = platform::Defaults::standard();
    platform::Screens& screens = platform::Screens::shared();
    platform::Workspace& workspace = platform::Workspace::shared();
};

class AppSwitcherView : public QWidget, public NotchOutlinedView {
    Q_OBJECT

public:
    static constexpr double panelWidth = 400;
    static constexpr double panelHeight = 160;
    static constexpr double topSpace = 36;
    static constexpr double itemSpacing = 14;
    static constexpr double rowPadding = 20;
    static constexpr double iconSize = 48;
    static constexpr double nameWidth = 60;
    static constexpr double hoverScale = 1.12;

    explicit AppSwitcherView(QWidget* parent = nullptr, SwitcherViewServices services = {});

    const QList<platform::RunningApplication>& recentApps() const { return recentApps_; }
    std::optional<qint64> hoveredPID() const { return hoveredPID_; }
    bool isSubscribed() const { return cancellable_.has_value(); }
    // How far the item of `pid` has grown towards its hovered look: 0 at rest, 1 hovered.
    double hoverProgress(qint64 pid) const;

    // The stored corner radius: missing, zero or less gives 16; then clamped to 8...24.
    static double cornerRadius(const platform::Defaults& defaults);
    double cornerRadius() const { return cornerRadius(services_.defaults); }
    // The notch of the first screen (the main one when the list is empty).
    NotchInfo notchInfo() const;
    QPainterPath drawnOutline() const override;

    // The button of entry `index` where it sits now (the row scrolled by the offset).
    QRectF itemFrame(qsizetype index) const;
    double contentWidth() const;
    double scrollOffset() const { return scrollOffset_; }
    void scrollBy(double dx);
    // The row's items in panel coordinates (the panel itself is painted around them).
    DrawList layout() const;

    // Brings `app` to the front when the process behind it is still that application: a process
    // id that was reused by another program is never activated. Returns whether it asked.
    static bool activate(platform::Workspace& workspace, const platform::RunningApplication& app);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    std::optional<qsizetype> itemAt(const QPointF& point) const;
    double itemHeight() const;
    void setHovered(std::optional<qint64> pid);
    platform::Animated<double>& hoverAnimation(qint64 pid);

    SwitcherViewServices services_;
    QList<platform::RunningApplication> recentApps_;
    std::optional<qint64> hoveredPID_;
    std::optional<platform::AnyCancellable> cancellable_;
    std::optional<qint64> pressedPID_;
    // One spring per item that has been hovered, keyed by process id.
    std::map<qint64, std::unique_ptr<platform::Animated<double>>> hoverAnimations_;
    platform::CancellableSet hoverRedraws_;
    double scrollOffset_ = 0;
};
