#include "platform/window_shape/input_region.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

// The event mask Qt gave a window of ours, asked of the server once per native window.
uint32_t eventMaskOf(xcb_connection_t* c, xcb_window_t window) {
    static std::unordered_map<xcb_window_t, uint32_t> known;  // main thread only
    auto it = known.find(window);
    if (it == known.end()) {
        xcb_get_window_attributes_reply_t* reply =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
        it = known.emplace(window, reply ? reply->your_event_mask : 0).first;
        std::free(reply);
    }
    return it->second;
}

// Qt's connection when `window` is a top-level window on X11 with the shape extension.
xcb_connection_t* shapeConnection(const QWidget& window) {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb") || !window.isWindow()) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return nullptr;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    return shape && shape->present ? c : nullptr;
}

xcb_shape_kind_t xcbKind(ShapeKind kind) {
    return kind == ShapeKind::bounding ? XCB_SHAPE_SK_BOUNDING : XCB_SHAPE_SK_INPUT;
}

}  // namespace

QRegion fromDevicePixels(const QRegion& pixels, qreal ratio) {
    if (ratio == 1) return pixels;
    QRegion points;
    for (const QRect& r : pixels) {
        points += QRectF(r.x() / ratio, r.y() / ratio, r.width() / ratio, r.height() / ratio).toAlignedRect();
    }
    return points;
}

QRegion toDevicePixels(const QRegion& region, qreal ratio) {
    if (ratio == 1) return region;
    std::vector<QRect> rects;
    rects.reserve(static_cast<size_t>(region.rectCount()));
    for (const QRect& r : region) {
        const int left = static_cast<int>(std::floor(r.left() * ratio));
        const int top = static_cast<int>(std::floor(r.top() * ratio));
        const int right = static_cast<int>(std::ceil((r.right() + 1) * ratio));
        const int bottom = static_cast<int>(std::ceil((r.bottom() + 1) * ratio));
        rects.emplace_back(left, top, right - left, bottom - top);
    }
    QRegion pixels;
    for (const QRect& r : rects) pixels += r;
    return pixels;
}

bool setShape(QWidget& window, ShapeKind kind, const QRegion& pixels, bool callerRepaints) {
    xcb_connection_t* c = shapeConnection(window);
    if (!c) return false;
    std::vector<xcb_rectangle_t> rects;
    rects.reserve(static_cast<size_t>(pixels.rectCount()));
    for (const QRect& r : pixels) {
        rects.push_back({static_cast<int16_t>(r.x()), static_cast<int16_t>(r.y()), static_cast<uint16_t>(r.width()),
                         static_cast<uint16_t>(r.height())});
    }
    // On Qt's own connection, so the shape is ordered with Qt's requests for the same window and
    // goes out with Qt's next flush (at the latest before the event loop waits).
    const auto id = static_cast<xcb_window_t>(window.winId());
    // Requests run in order: with exposures unselected around the shape alone, only the exposure
    // the shape itself causes goes unreported.
    const uint32_t mask = callerRepaints && kind == ShapeKind::bounding ? eventMaskOf(c, id) : 0;
    const bool quiet = (mask & XCB_EVENT_MASK_EXPOSURE) != 0;
    if (quiet) {
        const uint32_t without = mask & ~uint32_t(XCB_EVENT_MASK_EXPOSURE);
        xcb_change_window_attributes(c, id, XCB_CW_EVENT_MASK, &without);
    }
    // A QRegion's rectangles come in bands, top to bottom and left to right within a band.
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, xcbKind(kind), XCB_CLIP_ORDERING_YX_BANDED, id, 0, 0,
                         static_cast<uint32_t>(rects.size()), rects.data());
    if (quiet) xcb_change_window_attributes(c, id, XCB_CW_EVENT_MASK, &mask);
    return true;
}

bool clearShape(QWidget& window, ShapeKind kind) {
    xcb_connection_t* c = shapeConnection(window);
    if (!c) return false;
    xcb_shape_mask(c, XCB_SHAPE_SO_SET, xcbKind(kind), static_cast<xcb_window_t>(window.winId()), 0, 0, XCB_NONE);
    return true;
}

}  // namespace platform
