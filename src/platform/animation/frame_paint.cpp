#include "platform/animation/frame_paint.h"

#include "platform/animation/animation.h"

#include <QPointer>
#include <QWidget>

#include <utility>
#include <vector>

namespace platform {

namespace {

struct PendingPaint {
    QPointer<QWidget> window;
    QRegion region;  // the window's coordinates
};

// What the frame under way has asked to redraw, by window. Main thread only.
std::vector<PendingPaint>& pendingPaints() {
    static std::vector<PendingPaint> pending;
    return pending;
}

void paintPending() {
    for (const PendingPaint& paint : std::exchange(pendingPaints(), {})) {
        if (!paint.window) continue;
        QRegion region = paint.region;
        if (auto* partly = dynamic_cast<PartlyShownWindow*>(paint.window.data())) {
            if (const std::optional<QRegion> shown = partly->shownArea()) region &= *shown;
        }
        if (!region.isEmpty()) paint.window->repaint(region);
    }
}

}  // namespace

void paintInFrame(QWidget& widget, const QRegion& area) {
    if (!FrameScope::active()) {
        widget.update(area);
        return;
    }
    // What update() would leave out.
    if (!widget.isVisible() || !widget.updatesEnabled()) return;
    QWidget* window = widget.window();
    const QRegion region = (area & widget.rect()).translated(widget.mapTo(window, QPoint(0, 0)));
    if (region.isEmpty()) return;
    std::vector<PendingPaint>& pending = pendingPaints();
    if (pending.empty()) FrameScope::atEnd(paintPending);
    for (PendingPaint& paint : pending) {
        if (paint.window == window) {
            paint.region += region;
            return;
        }
    }
    pending.push_back({window, region});
}

}  // namespace platform
