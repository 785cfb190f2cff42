#pragma once

// Pointer input beyond a window's bounding shape. Without a compositor an X window exists only
// inside its bounding shape, and takes input nowhere else, whatever its input shape says. An
// input-only window stacked right above it takes the pointer wherever the window should, draws
// nothing, and hands what it gets to the window's widgets as the window would have had it.
// Override-redirect, it is never given the focus. X11 only; elsewhere it does nothing.

#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QWidget>

#include "platform/runtime/dispatch.h"

#include <cstdint>
#include <optional>

struct xcb_connection_t;

namespace platform {

class InputCatcher {
public:
    explicit InputCatcher(QWidget& window);
    ~InputCatcher();
    InputCatcher(const InputCatcher&) = delete;
    InputCatcher& operator=(const InputCatcher&) = delete;

    // Takes the pointer in `pixels` (the window's device pixels) over the window; empty: nowhere,
    // and the catcher leaves the screen. Sends requests only for what changed.
    void cover(const QRegion& pixels);
    // The window was raised or mapped anew: the catcher goes back right above it.
    void restack();
    // The window left the screen: so does the catcher.
    void withdraw();
    // The window leaves the screen in the middle of a swipe: the catcher stays where it was, handing
    // the window (not its widgets) only the wheel steps, until the swipe ends, it is withdrawn or
    // clicked. Covered anew meanwhile (the window is back), it also keeps that place until the
    // swipe ends, handing the widgets what it takes there, and the widgets hear of a pointer that
    // rests on it as it enters. The swipe ends once the server has seen no step over the window or
    // the catcher for kSwipeGapMs, by the steps' own times: however late the application reads
    // them, a step the server saw in time keeps the catcher.
    void linger();
    bool isLingering() const { return lingering_; }
    // The catcher's X window, 0 until it takes input somewhere.
    uint32_t id() const { return id_; }

    // A swipe goes on while its wheel steps come less than this far apart (server milliseconds).
    static constexpr int32_t kSwipeGapMs = 300;

    // An XInput2 pointer event (`extension` the XInput opcode) sent to the catcher, turned into
    // the window's widgets' events, or a wheel step over the window, noted. False for an event the
    // catcher does not take.
    bool handle(const void* event, uint8_t extension);
    // A property event: the server's answer to askServerTime(). False for any other.
    bool handleServerTime(const void* event);

private:
    // The server stamps its answer with its time, after every event it sent before: every step of
    // the swipe it has seen so far comes first.
    void askServerTime();
    // An event's position on the catcher, in the window's coordinates.
    QPointF inWindow(int32_t x, int32_t y) const;
    QWidget* widgetAt(QPointF point) const;
    void moveUnder(QWidget* widget, QPointF point, QPointF global);
    void sendMouse(int type, QPointF point, QPointF global, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void sendWheel(int button, QPointF point, QPointF global, int sourceDevice, Qt::KeyboardModifiers modifiers,
                   uint32_t time);

    QPointer<QWidget> window_;
    xcb_connection_t* c_ = nullptr;
    uint32_t id_ = 0;
    bool mapped_ = false;
    bool lingering_ = false;
    QRect geometry_;              // in root device pixels
    QPoint windowOffset_;         // of the window's top-left from the catcher's
    QRegion shape_;               // in the catcher's device pixels
    QRegion requested_;           // the window's last cover(), in its device pixels
    // Where the swipe that sent the window's card away lands until it ends, in root device pixels.
    std::optional<QRegion> swipeArea_;
    QPointer<QWidget> under_;    // the widget the pointer is in
    QPointer<QWidget> grabber_;  // the widget a held button's motion goes to
    Qt::MouseButtons buttons_;
    bool pointerInside_ = false;  // by the catcher's own crossings
    QPoint pointer_;              // where its last event put the pointer, in root device pixels
    std::optional<uint32_t> lastStep_;  // server time of the newest wheel step over the window or the catcher
    bool timeAsked_ = false;
    WorkItem askAgain_;
};

}  // namespace platform
