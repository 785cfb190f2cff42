#pragma once

// Painted frames on one X server, as its DAMAGE extension reports them. Whatever reaches the
// screen damages the root window: drawing into any window, or a compositor painting its overlay.
// The damage object reports only when its region turns non-empty, and the counter empties it at
// each report: raw rectangles would cost the measured server one write per drawing request
// (about sixteen a frame), charged to the program being measured. Reports are stamped with the
// server's time in milliseconds. A frame is a burst: reports each at most kBurstGapMs after the
// one before (one frame's requests come together, while frames come at least 8 ms apart even at
// 120 Hz). A frame drawn while the counter has not yet emptied the region of the one before joins
// it, so the counter's thread only waits on its socket.

#include <QByteArray>

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <poll.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace appbench {

class FrameCounter {
public:
    static constexpr uint32_t kBurstGapMs = 4;

    explicit FrameCounter(const QByteArray& display) : c_(xcb_connect(display.constData(), nullptr)) {
        if (xcb_connection_has_error(c_)) return;
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c_, &xcb_damage_id);
        if (!extension || !extension->present) return;
        std::free(xcb_damage_query_version_reply(c_, xcb_damage_query_version(c_, 1, 1), nullptr));
        notifyType_ = extension->first_event + XCB_DAMAGE_NOTIFY;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        damage_ = xcb_generate_id(c_);
        xcb_damage_create(c_, damage_, root, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        xcb_flush(c_);
        available_ = true;
        thread_ = std::thread([this] { run(); });
    }
    ~FrameCounter() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        xcb_disconnect(c_);
    }
    FrameCounter(const FrameCounter&) = delete;
    FrameCounter& operator=(const FrameCounter&) = delete;

    // False when the server has no DAMAGE extension: no frames are counted then.
    bool available() const { return available_; }
    // Frames painted since the counter started.
    int frames() const { return frames_; }

private:
    void run() {
        pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
        bool first = true;
        uint32_t last = 0;
        while (!stop_) {
            xcb_generic_event_t* e = xcb_poll_for_event(c_);
            if (!e) {
                if (xcb_connection_has_error(c_)) return;
                poll(&fd, 1, 50);
                continue;
            }
            if ((e->response_type & 0x7f) == notifyType_) {
                xcb_damage_subtract(c_, damage_, XCB_NONE, XCB_NONE);
                xcb_flush(c_);
                const uint32_t at = reinterpret_cast<xcb_damage_notify_event_t*>(e)->timestamp;
                if (first || at - last > kBurstGapMs) ++frames_;
                first = false;
                last = at;
            }
            std::free(e);
        }
    }

    xcb_connection_t* c_;
    uint8_t notifyType_ = 0;
    xcb_damage_damage_t damage_ = 0;
    bool available_ = false;
    std::atomic<int> frames_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace appbench
