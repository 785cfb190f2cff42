#pragma once

// Drawing for a frame of animation in the pass of the event loop that computes it.
//
// QWidget::update() posts a request to the window, which wakes the event loop once more before
// anything is drawn. Within a FrameScope (the frame clock's tick, a motion's end) paintInFrame
// instead gathers what each window needs redrawn and paints it at the scope's end, once per
// window, synchronously; outside one it is update().

#include <QRegion>

class QWidget;

namespace platform {

// Redraws `area` (the widget's own coordinates) of `widget` as described above.
void paintInFrame(QWidget& widget, const QRegion& area);

}  // namespace platform
