#pragma once

// The wheel steps a test drives, by the X server's own account: when the server saw each one (the
// XInput2 raw events on the root carry its time), and which reached the bare desktop, whose wheel
// turns openbox's workspace (the presses the server delivered on the root, recorded, carry the
// same time). A swipe is its steps less than 0.3 s apart by those times: however the machine
// paused, each step is judged as a step of the swipe it belongs to.

#include "support/app_process.h"
#include "x_server_view.h"

#include <QDeadlineTimer>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

namespace e2e {

class WheelSteps {
public:
    static constexpr uint32_t kSwipeGapMs = 300;

    // Listens and records from here on.
    WheelSteps() : c_(xcb_connect(nullptr, nullptr)), delivered_(XCB_RECORD_CS_ALL_CLIENTS, pressesOnly()) {
        if (xcb_connection_has_error(c_)) return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c_, &xcb_input_id);
        if (!xinput || !xinput->present) return;
        xinput_ = xinput->major_opcode;
        std::free(xcb_input_xi_query_version_reply(c_, xcb_input_xi_query_version(c_, 2, 2), nullptr));
        struct {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } selection = {{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS};
        xcb_generic_error_t* error = xcb_request_check(c_, xcb_input_xi_select_events_checked(c_, root_, 1, &selection.head));
        listening_ = !error;
        std::free(error);
    }
    ~WheelSteps() { xcb_disconnect(c_); }
    WheelSteps(const WheelSteps&) = delete;
    WheelSteps& operator=(const WheelSteps&) = delete;

    bool listening() const { return listening_ && delivered_.recording(); }

    // Reads the server's events, and the application's log, until it has seen `count` steps in
    // all: the server has dealt with each by then. False after `timeoutMs`.
    bool waitFor(testsupport::AppProcess& app, size_t count, int timeoutMs = 20000) {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
                const auto* raw = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event);
                if ((event->response_type & 0x7f) == XCB_GE_GENERIC && raw->extension == xinput_ &&
                    raw->event_type == XCB_INPUT_RAW_BUTTON_PRESS && raw->detail >= 4 && raw->detail <= 7)
                    times_.push_back(raw->time);
                std::free(event);
            }
            if (times_.size() >= count) return true;
            if (deadline.hasExpired() || xcb_connection_has_error(c_)) return false;
            app.pump();
            QThread::msleep(5);
        }
    }

    const std::vector<uint32_t>& times() const { return times_; }

    // Ends the recording: how many steps the server delivered on the root; -1 when it did not record.
    int reachedDesktop() {
        if (!stop()) return -1;
        return static_cast<int>(onDesktop_.size());
    }
    // Ends the recording: how many steps reached the desktop though a step less than kSwipeGapMs
    // before them belonged to a swipe that began elsewhere (on the overlay): such a swipe stays
    // there to its end, however long. A step after a pause begins a swipe of its own. -1 when it
    // did not record.
    int strayed() {
        if (!stop()) return -1;
        int strayed = 0;
        bool beganOnDesktop = true;
        for (size_t i = 0; i < times_.size(); ++i) {
            const bool desktop = reached(i);
            if (i == 0 || times_[i] - times_[i - 1] >= kSwipeGapMs) {
                beganOnDesktop = desktop;
            } else if (desktop && !beganOnDesktop) {
                ++strayed;
            }
        }
        return strayed;
    }
    // Ends the recording: whether the server delivered step `step` (from 0) on the root.
    bool landedOnDesktop(size_t step) { return stop() && step < times_.size() && reached(step); }
    // Each step by the server's account, for a failure's message: the time since the one before,
    // and where it landed.
    QString describe() {
        stop();
        QString text;
        for (size_t i = 0; i < times_.size(); ++i) {
            text += QStringLiteral("step %1: +%2 ms, %3\n")
                        .arg(i + 1)
                        .arg(i == 0 ? 0 : times_[i] - times_[i - 1])
                        .arg(reached(i) ? QStringLiteral("desktop") : QStringLiteral("elsewhere"));
        }
        return text;
    }

private:
    // The server's times of the steps it delivered on the root, once the recording has ended.
    bool stop() {
        if (stopped_) return recorded_;
        stopped_ = true;
        QByteArray data;
        recorded_ = delivered_.stop(&data);
        // Core events, 32 bytes each.
        for (qsizetype at = 0; at + 32 <= data.size(); at += 32) {
            const auto* press = reinterpret_cast<const xcb_button_press_event_t*>(data.constData() + at);
            if ((press->response_type & 0x7f) == XCB_BUTTON_PRESS && press->event == root_ && press->detail >= 4 &&
                press->detail <= 7)
                onDesktop_.insert(press->time);
        }
        return recorded_;
    }
    bool reached(size_t step) const { return onDesktop_.count(times_[step]) != 0; }

    static xcb_record_range_t pressesOnly() {
        xcb_record_range_t range{};
        range.delivered_events.first = XCB_BUTTON_PRESS;
        range.delivered_events.last = XCB_BUTTON_PRESS;
        return range;
    }

    xcb_connection_t* c_;
    Recording delivered_;
    xcb_window_t root_ = 0;
    uint8_t xinput_ = 0;
    bool listening_ = false;
    std::vector<uint32_t> times_;
    bool stopped_ = false;
    bool recorded_ = false;
    std::multiset<uint32_t> onDesktop_;
};

}  // namespace e2e
