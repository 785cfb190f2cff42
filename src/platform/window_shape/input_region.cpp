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

bool setShape(QWidget& window, const QRegion& region, xcb_shape_kind_t kind, bool callerRepaints = false) {
    xcb_connection_t* c = shapeConnection(window);
    if (!c) return false;
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
    const auto id = static_cast<xcb_window_t>(window.winId());
    // Requests run in order: with exposures unselected around the shape alone, only the exposure
    // the shape itself causes goes unreported.
    const uint32_t mask = callerRepaints ? eventMaskOf(c, id) : 0;
    const bool quiet = (mask & XCB_EVENT_MASK_EXPOSURE) != 0;
    if (quiet) {
        const uint32_t without = mask & ~uint32_t(XCB_EVENT_MASK_EXPOSURE);
        xcb_change_window_attributes(c, id, XCB_CW_EVENT_MASK, &without);
    }
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, id, 0, 0,
                         static_cast<uint32_t>(rects.size()), rects.data());
    if (quiet) xcb_change_window_attributes(c, id, XCB_CW_EVENT_MASK, &mask);
    return true;
}

}  // namespace

bool setInputRegion(QWidget& window, const QRegion& region) { return setShape(window, region, XCB_SHAPE_SK_INPUT); }

bool setWindowShape(QWidget& window, const QRegion& region) { return setShape(window, region, XCB_SHAPE_SK_BOUNDING); }

bool reshapeRepainted(QWidget& window, const QRegion& region) {
    return setShape(window, region, XCB_SHAPE_SK_BOUNDING, true);
}

bool clearWindowShape(QWidget& window) {
    xcb_connection_t* c = shapeConnection(window);
    if (!c) return false;
    xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, static_cast<xcb_window_t>(window.winId()), 0, 0, XCB_NONE);
    return true;
}

}  // namespace platform
