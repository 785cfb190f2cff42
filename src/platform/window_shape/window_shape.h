#pragma once

// A window that draws only part of its rectangle, kept shaped to what it draws: without a
// compositor the window system shows its clear pixels black, so the window is cut to its drawn
// pixels (rounded corners and all); with one it stays whole. Either way it takes input where its
// owner says, also beyond the cut.

#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

// Every pixel an antialiased fill of `path` touches, `ratio` pixels to a unit of its coordinates.
QRegion pixelsCovered(const QPainterPath& path, qreal ratio = 1);
// The pixels of `image` (ARGB32 premultiplied or Alpha8) that are not clear, moved by `offset`.
QRegion opaquePixels(const QImage& image, QPoint offset = {});
// The bounding rectangle of each run of columns `region` covers: parts side by side keep one
// rectangle each, so a capsule's rounded ends do not split it into a rectangle per row.
QRegion columnBounds(const QRegion& region);

// A view that draws only inside an outline.
class OutlinedView {
public:
    virtual ~OutlinedView() = default;
    // Where the view draws now, in its own coordinates.
    virtual QPainterPath drawnOutline() const = 0;
    // The pixels it draws now in a window where its top-left corner lies at `origin`, in the
    // window's device pixels at `ratio`: those its outline touches, unless the view knows its
    // picture better.
    virtual QRegion drawnPixels(qreal ratio, QPoint origin) const {
        return pixelsCovered(drawnOutline().translated(origin), ratio);
    }
    // Called each time the outline changes on its own (not by a move or resize of the view),
    // before the view repaints for it. Views that announce it say so.
    void setOnOutlineChange(std::function<void()> handler) { onOutlineChange_ = std::move(handler); }

protected:
    void outlineChanged() const {
        if (onOutlineChange_) onOutlineChange_();
    }

private:
    std::function<void()> onOutlineChange_;
};

class InputCatcher;

// The shapes of one top-level window, each sent to the window system only when it changes.
class WindowShapeKeeper {
public:
    WindowShapeKeeper();
    ~WindowShapeKeeper();

    // Whether windows are cut to what they draw now: no compositor honours transparency.
    static bool cutsToDrawn();

    // Without a compositor `window` is cut to `drawn`, with one it stays whole; it takes input only
    // in `input`, where the window is cut an input-only window over it taking the rest. Both in the
    // window's device pixels; `drawn` is not read while a compositor runs. With `callerRepaints`
    // the window system reports nothing exposed where a grown shape uncovers the window: that area
    // is returned, for the caller to repaint.
    QRegion apply(QWidget& window, const QRegion& drawn, const QRegion& input, bool callerRepaints = false);
    // The native window is new: it starts unshaped.
    void forget();
    // The window was raised: what takes its input beyond its cut goes back above it.
    void raised();
    // The window left the screen: so does what takes its input beyond its cut.
    void hidden();
    // The window leaves the screen while a swipe over it may go on: an input-only window stays
    // over where it took input, handing it the wheel steps, until the swipe ends (by the server's
    // clock), hidden() or the next apply() on screen. Called before the window goes, so no step
    // falls between the two.
    void lingerOver();
    bool isLingering() const;

private:
    QPointer<QWidget> window_;
    // What the window system holds; none: unshaped.
    std::optional<QRegion> bounding_;
    std::optional<QRegion> input_;
    std::unique_ptr<InputCatcher> catcher_;
    QRegion shownInput_;  // the input of the window's last apply on screen
};

}  // namespace platform
