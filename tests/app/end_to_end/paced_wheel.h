#pragma once

// Pointer input the X server paces itself. Every step is sent at once through XTest with the delay
// the server is to wait before it: the server holds this connection's requests until each is due,
// so however late the test's own process runs, the steps come as far apart as asked, by the
// server's clock.

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdint>
#include <cstdlib>

namespace e2e {

class PacedWheel {
public:
    PacedWheel() : c_(xcb_connect(nullptr, nullptr)) {
        const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c_, &xcb_test_id);
        ok_ = !xcb_connection_has_error(c_) && xtest && xtest->present;
    }
    ~PacedWheel() { xcb_disconnect(c_); }
    PacedWheel(const PacedWheel&) = delete;
    PacedWheel& operator=(const PacedWheel&) = delete;

    bool ok() const { return ok_; }

    // `count` presses of `button` where the pointer is, the first `firstDelayMs` after whatever
    // was sent before it (or after now), the rest `gapMs` apart. Returns at once.
    void steps(int count, uint32_t firstDelayMs = 0, uint32_t gapMs = 100, uint8_t button = 4) {
        for (int i = 0; i < count; ++i) {
            // A delay of 0 means none.
            const uint32_t delay = i == 0 ? firstDelayMs : gapMs;
            xcb_test_fake_input(c_, XCB_BUTTON_PRESS, button, delay, XCB_NONE, 0, 0, 0);
            xcb_test_fake_input(c_, XCB_BUTTON_RELEASE, button, 0, XCB_NONE, 0, 0, 0);
        }
        xcb_flush(c_);
    }
    // A click of `button` where the pointer is, after what was sent before.
    void click(uint8_t button = 1) { steps(1, 0, 0, button); }

    // Waits until the server has dealt with all that was sent.
    bool sync() {
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
        return !xcb_connection_has_error(c_);
    }

private:
    xcb_connection_t* c_;
    bool ok_ = false;
};

}  // namespace e2e
