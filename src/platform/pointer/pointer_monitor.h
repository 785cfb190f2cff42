#pragma once

// Pointer movement on the whole desktop, as event monitors see it: a global monitor is told of
// movements over other applications' windows, a local one of movements over this application's
// own windows, so the two together see every movement exactly once. Also the pointer's location
// and the mouse buttons held now.

#include <QPointF>

#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

enum class PointerEventKind { mouseMoved, leftMouseDragged, rightMouseDragged, otherMouseDragged };

struct PointerEvent {
    PointerEventKind kind = PointerEventKind::mouseMoved;
    // Global screen coordinates (bottom-left origin, y up; see screen_geometry.h).
    QPointF location;
};

// Bits of pressedMouseButtons(): bit 0 the left button, bit 1 the right, bit 2 the middle and so on.
enum MouseButtonBit : uint32_t {
    mouseButtonLeft = 1u << 0,
    mouseButtonRight = 1u << 1,
    mouseButtonMiddle = 1u << 2,
};

class PointerMonitor {
public:
    using Handler = std::function<void(const PointerEvent&)>;
    using Token = uint64_t;

    virtual ~PointerMonitor() = default;

    // The process-wide monitor (the polling one unless a test installed another).
    static PointerMonitor& shared();
    // Installs `monitor` (nullptr restores the default); returns the previous one.
    static PointerMonitor* setShared(PointerMonitor* monitor);

    // Handlers run on the main thread; none when the desktop gives no pointer. Main thread only.
    virtual std::optional<Token> addGlobalMonitor(Handler handler) = 0;
    virtual std::optional<Token> addLocalMonitor(Handler handler) = 0;
    // Removing an unknown or already removed token does nothing.
    virtual void removeMonitor(Token token) = 0;

    // The pointer now, in global screen coordinates.
    virtual QPointF mouseLocation() const = 0;
    // Where the pointer was at the monitor's last read, while it follows the pointer for a
    // handler; none when nothing is followed. Costs no read.
    virtual std::optional<QPointF> lastKnownLocation() const { return std::nullopt; }
    // MouseButtonBit flags of the buttons held now.
    virtual uint32_t pressedMouseButtons() const = 0;
};

// The event kind for a movement with `buttons` held: dragged by the lowest held button, else moved.
PointerEventKind pointerEventKind(uint32_t buttons);

}  // namespace platform
