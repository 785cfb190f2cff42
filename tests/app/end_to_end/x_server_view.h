#pragma once

// The X server's own account of a desktop, for end-to-end tests: its windows and properties, and
// the replies it sends a client, each read on connections of the test's own.

#include <QByteArray>
#include <QRect>
#include <QString>

#include <xcb/record.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace e2e {

// Reads the X server's state on a connection of its own.
class XServerView {
public:
    XServerView() : c_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~XServerView() { xcb_disconnect(c_); }
    XServerView(const XServerView&) = delete;
    XServerView& operator=(const XServerView&) = delete;

    uint32_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const uint32_t value = reply ? reply->atom : 0;
        std::free(reply);
        return value;
    }
    std::vector<uint32_t> cardinals(uint32_t window, const char* property, uint32_t type) {
        std::vector<uint32_t> values;
        auto* reply = xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, atom(property), type, 0, 4096), nullptr);
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
            values.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return values;
    }
    QString text(uint32_t window, const char* property) {
        auto* reply = xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, atom(property), XCB_ATOM_ANY, 0, 1024), nullptr);
        QString value;
        if (reply && reply->format == 8)
            value = QString::fromLatin1(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
        std::free(reply);
        return value;
    }
    // The managed windows whose WM_CLASS names `instance`.
    std::vector<uint32_t> clientsOf(const QString& instance) {
        std::vector<uint32_t> found;
        for (uint32_t window : cardinals(root_, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW)) {
            if (text(window, "WM_CLASS").section(QLatin1Char('\0'), 0, 0) == instance) found.push_back(window);
        }
        return found;
    }
    bool isMapped(uint32_t window) {
        auto* reply = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr);
        const bool mapped = reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
        std::free(reply);
        return mapped;
    }
    // The top-level window the pointer is in, input-only ones too; 0 over the bare desktop.
    uint32_t windowUnderPointer() {
        auto* reply = xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr);
        const uint32_t child = reply ? reply->child : 0;
        std::free(reply);
        return child;
    }
    // The X server's time now, in its milliseconds: the time it stamps on a property change of
    // ours (appending nothing still counts as one). 0 when it sent none.
    uint32_t serverTime() {
        if (!timeWindow_) {
            timeWindow_ = xcb_generate_id(c_);
            const uint32_t values[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
            xcb_create_window(c_, 0, timeWindow_, root_, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                              XCB_CW_EVENT_MASK, values);
        }
        xcb_change_property(c_, XCB_PROP_MODE_APPEND, timeWindow_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(c_);
        while (xcb_generic_event_t* event = xcb_wait_for_event(c_)) {
            const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            const bool ours = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY && change->window == timeWindow_;
            const uint32_t time = change->time;
            std::free(event);
            if (ours) return time;
        }
        return 0;
    }
    uint32_t activeWindow() {
        const auto values = cardinals(root_, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
        return values.empty() ? 0 : values.front();
    }
    // The top-level windows carrying `property`, with their values.
    std::vector<std::pair<QRect, std::vector<uint32_t>>> windowsWith(const char* property) {
        std::vector<std::pair<QRect, std::vector<uint32_t>>> found;
        auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
        if (!tree) return found;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            std::vector<uint32_t> values = cardinals(children[i], property, XCB_ATOM_CARDINAL);
            if (values.empty()) continue;
            auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, children[i]), nullptr);
            if (g) found.emplace_back(QRect(g->x, g->y, g->width, g->height), std::move(values));
            std::free(g);
        }
        std::free(tree);
        return found;
    }
    // A normal window the window manager manages, to take the focus from others.
    uint32_t createWindow(const QRect& at) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const uint32_t window = xcb_generate_id(c_);
        const uint32_t values[] = {screen->white_pixel};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_, static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y()),
                          static_cast<uint16_t>(at.width()), static_cast<uint16_t>(at.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
        static const char wmClass[] = "other\0Other";
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof(wmClass), wmClass);
        xcb_map_window(c_, window);
        xcb_flush(c_);
        return window;
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
    xcb_window_t timeWindow_ = 0;
};

// What the X server records with RECORD between construction and stop(), for the clients and of
// the kinds the range names, on connections of the test's own.
class Recording {
public:
    Recording(xcb_record_client_spec_t clients, const xcb_record_range_t& range)
        : control_(xcb_connect(nullptr, nullptr)), data_(xcb_connect(nullptr, nullptr)) {
        const xcb_query_extension_reply_t* record = xcb_get_extension_data(control_, &xcb_record_id);
        if (!record || !record->present) return;
        std::free(xcb_record_query_version_reply(control_, xcb_record_query_version(control_, 1, 13), nullptr));
        context_ = xcb_generate_id(control_);
        if (xcb_generic_error_t* error =
                xcb_request_check(control_, xcb_record_create_context_checked(control_, context_, 0, 1, 1, &clients, &range))) {
            std::free(error);
            return;
        }
        sequence_ = xcb_record_enable_context(data_, context_).sequence;
        xcb_flush(data_);
        recording_ = next(nullptr) == kStartOfData;
    }
    ~Recording() {
        xcb_disconnect(data_);
        xcb_disconnect(control_);
    }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    bool recording() const { return recording_; }
    // Ends the recording (the server then sends all it kept): what it recorded of the server's
    // traffic, in order. False when it was not recording.
    bool stop(QByteArray* fromServer) {
        if (!recording_) return false;
        recording_ = false;
        xcb_record_disable_context(control_, context_);
        xcb_flush(control_);
        for (int category = 0; category >= 0 && category != kEndOfData;) category = next(fromServer);
        return true;
    }

private:
    // The RECORD protocol's categories of recorded data (xcb names none).
    static constexpr int kFromServer = 0;
    static constexpr int kStartOfData = 4;
    static constexpr int kEndOfData = 5;

    // The next piece of recorded data, what it holds of the server's traffic added to `fromServer`;
    // its category, -1 at an error.
    int next(QByteArray* fromServer) {
        xcb_record_enable_context_reply_t* reply =
            xcb_record_enable_context_reply(data_, xcb_record_enable_context_cookie_t{sequence_}, nullptr);
        if (!reply) return -1;
        const int category = reply->category;
        if (category == kFromServer && fromServer) {
            fromServer->append(reinterpret_cast<const char*>(xcb_record_enable_context_data(reply)),
                               xcb_record_enable_context_data_length(reply));
        }
        std::free(reply);
        return category;
    }

    xcb_connection_t* control_;
    xcb_connection_t* data_;
    uint32_t context_ = 0;
    unsigned int sequence_ = 0;
    bool recording_ = false;
};

// The replies the X server sends the client owning `window` between construction and stop(): the
// requests that client waited for.
class ClientReplies {
public:
    explicit ClientReplies(uint32_t window) : recording_(window, repliesOnly()) {}

    bool recording() const { return recording_.recording(); }
    // Ends the recording and counts the replies; -1 when it was not recording.
    int stop() {
        QByteArray data;
        if (!recording_.stop(&data)) return -1;
        // Replies only were asked for: 32 bytes and their length's 4-byte units each.
        int replies = 0;
        for (qsizetype at = 0; at + 32 <= data.size(); ++replies) {
            uint32_t units = 0;
            std::memcpy(&units, data.constData() + at + 4, sizeof units);
            at += 32 + 4 * static_cast<qsizetype>(units);
        }
        return replies;
    }

private:
    static xcb_record_range_t repliesOnly() {
        xcb_record_range_t range{};
        range.core_replies.first = 1;
        range.core_replies.last = 127;
        range.ext_replies.major.first = 128;
        range.ext_replies.major.last = 255;
        range.ext_replies.minor.last = 0xffff;
        return range;
    }

    Recording recording_;
};

}  // namespace e2e
