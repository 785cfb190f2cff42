#pragma once

// The shapes of a top-level window as the X server holds them, for end-to-end tests that wait for an
// animation to come to rest: what the server holds is what clicks and screenshots meet.

#include "support/app_process.h"

#include <QDeadlineTimer>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QThread>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>

namespace e2e {

// The window's bounding or input shape in root coordinates, over a connection of its own; an
// unshaped window's is its whole rectangle, a window that is gone has none.
inline QRegion windowShape(uint32_t window, xcb_shape_sk_t kind) {
    QRegion region;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (!xcb_connection_has_error(c)) {
        auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
        auto* shape = xcb_shape_get_rectangles_reply(c, xcb_shape_get_rectangles(c, window, kind), nullptr);
        if (g && shape) {
            const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(shape);
            for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(shape); ++i)
                region += QRect(g->x + rects[i].x, g->y + rects[i].y, rects[i].width, rects[i].height);
        }
        std::free(shape);
        std::free(g);
    }
    xcb_disconnect(c);
    return region;
}

// The topmost viewable top-level window that can draw and whose rectangle holds `point` (its
// shapes aside), other than `except`; 0 when none.
inline uint32_t topWindowAt(const QPoint& point, uint32_t except = 0) {
    uint32_t found = 0;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return 0;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    if (auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr)) {
        // Bottom to top.
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = xcb_query_tree_children_length(tree) - 1; i >= 0 && !found; --i) {
            if (children[i] == except) continue;
            auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr);
            auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
            if (g && a && a->map_state == XCB_MAP_STATE_VIEWABLE && a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT &&
                QRect(g->x, g->y, g->width, g->height).contains(point))
                found = children[i];
            std::free(g);
            std::free(a);
        }
        std::free(tree);
    }
    xcb_disconnect(c);
    return found;
}

// Where a window exists and where it takes clicks, as the server holds them now.
struct WindowShapes {
    QRegion bounding;
    QRegion input;
    // Input outside the bounding shape goes to the windows below.
    QRegion clicks() const { return bounding & input; }
};

inline WindowShapes windowShapes(uint32_t window) {
    return {windowShape(window, XCB_SHAPE_SK_BOUNDING), windowShape(window, XCB_SHAPE_SK_INPUT)};
}

inline QString describe(const QRect& r) {
    return QStringLiteral("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
}

inline QString describe(const WindowShapes& shapes) {
    return QStringLiteral("bounding %1, clicks %2").arg(describe(shapes.bounding.boundingRect()), describe(shapes.clicks().boundingRect()));
}

// Reads the application's log while polling the server until the window's shapes satisfy `done`
// (an animation come to where the test needs it); false after `timeoutMs`, with what the server
// held last in `last`.
inline bool waitForShapes(testsupport::AppProcess& app, uint32_t window, const std::function<bool(const WindowShapes&)>& done,
                          WindowShapes* last = nullptr, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const WindowShapes shapes = windowShapes(window);
        if (last) *last = shapes;
        if (done(shapes)) return true;
        if (deadline.hasExpired()) return false;
        app.pump();
        QThread::msleep(5);
    }
}

}  // namespace e2e
