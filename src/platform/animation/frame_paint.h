#pragma once

// Drawing for a frame of animation in the pass of the event loop that computes it.
//
// QWidget::update() posts a request to the window, which wakes the event loop once more before
// anything is drawn. Within a FrameScope (the frame clock's tick, a motion's end) paintInFrame
// instead gathers what each window needs redrawn and paints it at the scope's end, once per
// window, synchronously; outside one it is update().

#include <QRegion>

#include <optional>

class QWidget;

namespace platform {

// A window that shows only part of itself (one cut to a shape) and knows which. A frame redraws
// only that part of what it changed: what never shows is neither cleared, drawn nor sent to the
// window system.
class PartlyShownWindow {
public:
    virtual ~PartlyShownWindow() = default;
    // Where the window shows anything once the frame under way is drawn, in its coordinates;
    // none when it shows all of itself.
    virtual std::optional<QRegion> shownArea() = 0;
};

// Redraws `area` (the widget's own coordinates) of `widget` as described above.
void paintInFrame(QWidget& widget, const QRegion& area);

}  // namespace platform
