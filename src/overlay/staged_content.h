#pragma once

#include <QRect>
#include <QSizeF>

#include <cstdint>

// Content of a staged overlay panel, which moves and fades inside its window: the panel tells it
// where its frame lies and at what opacity to draw, rather than moving the widget (each move
// posts a redraw of its own) and drawing it through an offscreen effect.
class StagedContent {
public:
    virtual ~StagedContent() = default;
    virtual void setContentOpacity(double opacity) = 0;
    // Where the panel's frame lies, in the content's coordinates; it draws nothing outside.
    virtual void setPlacement(const QRect& placement) = 0;
    // The size of the frame it lays out, centred on its placement: larger than the placement
    // while the panel's frame grows out of, or shrinks into, a smaller one.
    virtual QSizeF frameSize() const = 0;
    // Nothing of it shows now (it lies wholly outside its placement), so no change of its
    // opacity could either. It says when that changes as its outline changes.
    virtual bool drawsNothing() const { return false; }
    // A wheel step (at the server's `time`, in ms) of a swipe that goes on over the panel's place
    // after the panel left the screen: content that comes back during it knows the swipe still runs.
    virtual void wheelStepWhileAway(uint32_t time) { (void)time; }
};
