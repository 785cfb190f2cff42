#pragma once

// Global key-down monitoring: a handler sees key presses meant for any application and cannot
// stop them from reaching it (a monitor, never a grab).

#include <cstdint>
#include <functional>
#include <optional>

namespace platform {

// Modifier flags of a key event, in the desktop's own terms. Lock keys are not reported.
enum ModifierFlag : uint32_t {
    modifierShift = 1u << 0,
    modifierControl = 1u << 1,
    modifierOption = 1u << 2,
    modifierCommand = 1u << 3,
    modifierNumericPad = 1u << 4,
    modifierFunction = 1u << 5,
};

// Virtual key codes of the keys the application reacts to.
enum KeyCode : int {
    keyCodeUnknown = -1,
    keyCodeLeftArrow = 123,
    keyCodeRightArrow = 124,
    keyCodeDownArrow = 125,
    keyCodeUpArrow = 126,
};

struct KeyEvent {
    int keyCode = keyCodeUnknown;
    uint32_t modifierFlags = 0;
};

class GlobalKeyMonitor {
public:
    using Handler = std::function<void(const KeyEvent&)>;
    using Token = uint64_t;

    virtual ~GlobalKeyMonitor() = default;

    // The process-wide monitor (the X11 one unless a test installed another).
    static GlobalKeyMonitor& shared();
    // Installs `monitor` (nullptr restores the default); returns the previous one.
    static GlobalKeyMonitor* setShared(GlobalKeyMonitor* monitor);

    // Calls `handler` on the main thread for every key press; none when the desktop offers no
    // way to watch keys (no display, no input extension). Main thread only.
    virtual std::optional<Token> addKeyDownMonitor(Handler handler) = 0;
    // Removing an unknown or already removed token does nothing.
    virtual void removeMonitor(Token token) = 0;
};

}  // namespace platform
