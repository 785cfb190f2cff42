#pragma once

// Turns X11 key presses and releases into key events with the desktop's modifier flags. Raw
// input events carry no modifier state, so the held modifier keys are tracked here, by keysym:
// Super (the logo key, where Command sits) stands for Command, Ctrl for Control, Alt for Option.
// Ctrl+arrows stay the word jumps they are in every editor. Caps Lock and Num Lock are neither
// tracked nor reported.

#include "platform/input_monitor/global_key_monitor.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

namespace platform {

class X11KeyState {
public:
    // The first keysym of each keycode (the unshifted symbol), from the server's keyboard mapping.
    void setKeysym(uint8_t keycode, uint32_t keysym) { keysyms_[keycode] = keysym; }
    uint32_t keysym(uint8_t keycode) const { return keysyms_[keycode]; }
    void clearKeysyms() { keysyms_.fill(0); }

    // A key went down: the key-down event it makes, or none for a modifier key itself.
    std::optional<KeyEvent> press(uint8_t keycode);
    void release(uint8_t keycode) { held_.reset(keycode); }
    // Seeds the held keys (the server's key map when watching starts).
    void setHeld(uint8_t keycode, bool held) { held_.set(keycode, held); }
    void releaseAll() { held_.reset(); }

    // Flags of the modifier keys held now.
    uint32_t modifierFlags() const;

    static uint32_t modifierFlagFor(uint32_t keysym);
    static int keyCodeFor(uint32_t keysym);

private:
    std::array<uint32_t, 256> keysyms_{};
    std::bitset<256> held_;
};

}  // namespace platform
