#include "platform/window_shape/input_region.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cmath>
#include <vector>

namespace platform {

namespace {

bool setShape(QWidget& window, const QRegion& region, xcb_shape_kind_t kind) {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb") || !window.isWindow()) return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return false;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present) return false;
    // The shape is in device pixels; regions round outwards so a fractional ratio loses no edge.
    const qreal ratio = window.devicePixelRatioF();
    std::vector<xcb_rectangle_t> rects;
    rects.reserve(static_cast<size_t>(region.rectCount()));
    for (const QRect& r : region) {
        const int left = static_cast<int>(std::floor(r.left() * ratio));
        const int top = static_cast<int>(std::floor(r.top() * ratio));
        const int right = static_cast<int>(std::ceil((r.right() + 1) * ratio));
        const int bottom = static_cast<int>(std::ceil((r.bottom() + 1) * ratio));
        rects.push_back({static_cast<int16_t>(left), static_cast<int16_t>(top), static_cast<uint16_t>(right - left),
                         static_cast<uint16_t>(bottom - top)});
    }
    // On Qt's own connection, so the shape is ordered with Qt's requests for the same window and
    // goes out with Qt's next flush (at the latest before the event loop waits).
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED,
                         static_cast<xcb_window_t>(window.winId()), 0, 0, static_cast<uint32_t>(rects.size()),
                         rects.data());
    return true;
}

}  // namespace

bool setInputRegion(QWidget& window, const QRegion& region) { return setShape(window, region, XCB_SHAPE_SK_INPUT); }

bool setWindowShape(QWidget& window, const QRegion& region) { return setShape(window, region, XCB_SHAPE_SK_BOUNDING); }

}  // namespace platform
