#pragma once

#include <QRect>

// Content of a staged overlay panel, which moves and fades inside its window: the panel tells it
// where its frame lies and at what opacity to draw, rather than moving the widget (each move
// posts a redraw of its own) and drawing it through an offscreen effect.
class StagedContent {
public:
    virtual ~StagedContent() = default;
    virtual void setContentOpacity(double opacity) = 0;
    // Where the panel's frame lies, in the content's coordinates; it draws nothing outside.
    virtual void setPlacement(const QRect& placement) = 0;
};
