#include "platform/window_shape/window_shape.h"

#include "platform/window_shape/compositor.h"
#include "platform/window_shape/input_catcher.h"
#include "platform/window_shape/input_region.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <vector>

namespace platform {

QRegion pixelsCovered(const QPainterPath& path, qreal ratio) {
    const QRect bounds = QTransform::fromScale(ratio, ratio).map(path).boundingRect().toAlignedRect();
    if (bounds.isEmpty()) return {};
    QImage coverage(bounds.size(), QImage::Format_Alpha8);
    coverage.fill(0);
    QPainter painter(&coverage);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-bounds.topLeft());
    painter.scale(ratio, ratio);
    painter.fillPath(path, Qt::black);
    painter.end();
    return opaquePixels(coverage, bounds.topLeft());
}

QRegion opaquePixels(const QImage& image, QPoint offset) {
    const bool alphaOnly = image.format() == QImage::Format_Alpha8;
    // Rows with the same runs as the row above extend its rectangles downwards, so a shape with
    // straight sides is a few rectangles, in the bands a region keeps.
    std::vector<QRect> rects;
    std::vector<std::pair<int, int>> runs;
    std::vector<std::pair<int, int>> previousRuns;
    size_t previousFirst = 0;
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        runs.clear();
        // A premultiplied pixel is clear when all of it is 0.
        if (alphaOnly) {
            const uchar* row = image.constScanLine(y);
            for (int x = 0; x < width;) {
                while (x < width && !row[x]) ++x;
                const int start = x;
                while (x < width && row[x]) ++x;
                if (x > start) runs.emplace_back(start, x);
            }
        } else {
            const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < width;) {
                while (x < width && !(row[x] & 0xff000000u)) ++x;
                const int start = x;
                while (x < width && (row[x] & 0xff000000u)) ++x;
                if (x > start) runs.emplace_back(start, x);
            }
        }
        if (!runs.empty() && runs == previousRuns) {
            for (size_t i = previousFirst; i < rects.size(); ++i) rects[i].setBottom(rects[i].bottom() + 1);
            continue;
        }
        previousFirst = rects.size();
        for (const auto& [start, end] : runs) rects.emplace_back(offset.x() + start, offset.y() + y, end - start, 1);
        previousRuns.swap(runs);
    }
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

QRegion columnBounds(const QRegion& region) {
    std::vector<QRect> rects(region.begin(), region.end());
    std::sort(rects.begin(), rects.end(), [](const QRect& a, const QRect& b) { return a.left() < b.left(); });
    QRegion bounds;
    std::optional<QRect> run;
    for (const QRect& r : rects) {
        if (run && r.left() <= run->right() + 1) {
            *run |= r;
            continue;
        }
        if (run) bounds += *run;
        run = r;
    }
    if (run) bounds += *run;
    return bounds;
}

WindowShapeKeeper::WindowShapeKeeper() = default;
WindowShapeKeeper::~WindowShapeKeeper() = default;

bool WindowShapeKeeper::cutsToDrawn() { return !CompositorWatch::shared().isActive(); }

void WindowShapeKeeper::forget() {
    bounding_.reset();
    input_.reset();
}

void WindowShapeKeeper::raised() {
    if (catcher_) catcher_->restack();
}

void WindowShapeKeeper::hidden() {
    if (catcher_) catcher_->withdraw();
}

void WindowShapeKeeper::lingerOver() {
    if (!catcher_ || shownInput_.isEmpty()) return;
    // With a compositor the window took its input itself: the catcher starts here.
    if (!catcher_->isLingering()) catcher_->cover(shownInput_);
    catcher_->linger();
}

bool WindowShapeKeeper::isLingering() const { return catcher_ && catcher_->isLingering(); }

QRegion WindowShapeKeeper::apply(QWidget& window, const QRegion& drawn, const QRegion& input, bool callerRepaints) {
    if (window_ != &window) {
        forget();
        window_ = &window;
        // From the start, as it notes the wheel steps over the window that may start a swipe.
        catcher_ = std::make_unique<InputCatcher>(window);
    }
    const bool cut = cutsToDrawn();
    const std::optional<QRegion> bounding = cut ? std::optional(drawn) : std::nullopt;
    // Input outside the bounding shape is cut with it: where the window takes input all over what
    // it draws, the input shape is left whole and each change is one request. What lies beyond
    // the cut an input-only window takes, over all of `input`, so the pointer never crosses from
    // one window to the other.
    const QRegion ownInput = cut ? input & drawn : input;
    const std::optional<QRegion> inputShape = cut && ownInput == drawn ? std::nullopt : std::optional(ownInput);

    QRegion uncovered;
    if (bounding != bounding_) {
        const bool sent = bounding ? setShape(window, ShapeKind::bounding, *bounding, callerRepaints)
                                   : clearShape(window, ShapeKind::bounding);
        if (!sent) return {};
        if (bounding && bounding_ && callerRepaints) uncovered = *bounding - *bounding_;
        bounding_ = bounding;
    }
    if (inputShape != input_) {
        if (inputShape ? setShape(window, ShapeKind::input, *inputShape) : clearShape(window, ShapeKind::input))
            input_ = inputShape;
    }
    if (window.isVisible()) shownInput_ = input;
    const bool beyondCut = cut && window.isVisible() && !(input - drawn).isEmpty();
    // A lingering catcher outlives the window's changes off screen.
    if (window.isVisible() || !catcher_->isLingering()) catcher_->cover(beyondCut ? input : QRegion());
    return uncovered;
}

}  // namespace platform
