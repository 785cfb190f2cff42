#include "platform/input_monitor/x11_key_state.h"

namespace platform {

namespace {
// X keysyms (X11/keysymdef.h).
constexpr uint32_t XK_Left = 0xff51, XK_Up = 0xff52, XK_Right = 0xff53, XK_Down = 0xff54;
constexpr uint32_t XK_Shift_L = 0xffe1, XK_Shift_R = 0xffe2, XK_Control_L = 0xffe3, XK_Control_R = 0xffe4;
constexpr uint32_t XK_Meta_L = 0xffe7, XK_Meta_R = 0xffe8, XK_Alt_L = 0xffe9, XK_Alt_R = 0xffea;
constexpr uint32_t XK_Super_L = 0xffeb, XK_Super_R = 0xffec, XK_Hyper_L = 0xffed, XK_Hyper_R = 0xffee;
}  // namespace

uint32_t X11KeyState::modifierFlagFor(uint32_t keysym) {
    switch (keysym) {
    case XK_Shift_L:
    case XK_Shift_R: return modifierShift;
    // The logo key stands where Command does; Ctrl stays Ctrl, so its arrows remain word jumps.
    case XK_Super_L:
    case XK_Super_R:
    case XK_Hyper_L:
    case XK_Hyper_R: return modifierCommand;
    case XK_Control_L:
    case XK_Control_R: return modifierControl;
    case XK_Alt_L:
    case XK_Alt_R:
    case XK_Meta_L:
    case XK_Meta_R: return modifierOption;
    default: return 0;
    }
}

int X11KeyState::keyCodeFor(uint32_t keysym) {
    switch (keysym) {
    case XK_Left: return keyCodeLeftArrow;
    case XK_Right: return keyCodeRightArrow;
    case XK_Down: return keyCodeDownArrow;
    case XK_Up: return keyCodeUpArrow;
    default: return keyCodeUnknown;
    }
}

std::optional<KeyEvent> X11KeyState::press(uint8_t keycode) {
    const uint32_t sym = keysyms_[keycode];
    if (modifierFlagFor(sym) != 0) {
        held_.set(keycode);
        return std::nullopt;
    }
    KeyEvent event;
    event.keyCode = keyCodeFor(sym);
    event.modifierFlags = modifierFlags();
    // Arrow keys carry these two flags on the desktop the key rules were written for.
    if (event.keyCode != keyCodeUnknown) event.modifierFlags |= modifierNumericPad | modifierFunction;
    return event;
}

uint32_t X11KeyState::modifierFlags() const {
    uint32_t flags = 0;
    for (size_t keycode = 0; keycode < held_.size(); ++keycode) {
        if (held_.test(keycode)) flags |= modifierFlagFor(keysyms_[keycode]);
    }
    return flags;
}

}  // namespace platform
