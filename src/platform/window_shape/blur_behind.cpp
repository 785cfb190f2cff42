#include "platform/window_shape/blur_behind.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {

namespace {

xcb_atom_t blurAtom(xcb_connection_t* c) {
    static xcb_atom_t atom = XCB_ATOM_NONE;
    if (atom != XCB_ATOM_NONE) return atom;
    static const char name[] = "_KDE_NET_WM_BLUR_BEHIND_REGION";
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    if (reply) atom = reply->atom;
    std::free(reply);
    return atom;
}

}  // namespace

bool setBlurBehindRegion(QWidget& window, const QRegion& region) {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb") || !window.isWindow()) return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return false;
    const xcb_atom_t atom = blurAtom(c);
    if (atom == XCB_ATOM_NONE) return false;
    const auto id = static_cast<xcb_window_t>(window.winId());
    const QRegion inside = region & window.rect();
    // An empty property would blur the whole window: no region means no property.
    if (inside.isEmpty()) {
        xcb_delete_property(c, id, atom);
        return true;
    }
    // x, y, width, height of each rectangle, in device pixels; rounded inwards so the blur never
    // shows past the shape it belongs to.
    const qreal ratio = window.devicePixelRatioF();
    std::vector<uint32_t> values;
    values.reserve(static_cast<size_t>(inside.rectCount()) * 4);
    for (const QRect& r : inside) {
        const int left = static_cast<int>(std::ceil(r.left() * ratio));
        const int top = static_cast<int>(std::ceil(r.top() * ratio));
        const int right = static_cast<int>(std::floor((r.right() + 1) * ratio));
        const int bottom = static_cast<int>(std::floor((r.bottom() + 1) * ratio));
        if (right <= left || bottom <= top) continue;
        values.insert(values.end(), {static_cast<uint32_t>(left), static_cast<uint32_t>(top),
                                     static_cast<uint32_t>(right - left), static_cast<uint32_t>(bottom - top)});
    }
    if (values.empty()) {
        xcb_delete_property(c, id, atom);
        return true;
    }
    // On Qt's own connection, ordered with Qt's requests for the same window.
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atom, XCB_ATOM_CARDINAL, 32, static_cast<uint32_t>(values.size()),
                        values.data());
    return true;
}

}  // namespace platform
