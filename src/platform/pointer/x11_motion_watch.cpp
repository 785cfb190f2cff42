#include "platform/pointer/x11_motion_watch.h"

#include <QSocketNotifier>

#include <xcb/record.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace platform {

namespace {

// The categories of recorded data (the RECORD protocol's; xcb names none of them).
constexpr uint8_t recordedFromServer = 0;
constexpr uint8_t recordStartOfData = 4;
constexpr uint8_t recordEndOfData = 5;

xcb_void_cookie_t selectRawMotion(xcb_connection_t* c, xcb_window_t root, bool listening) {
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection = {{XCB_INPUT_DEVICE_ALL_MASTER, 1}, listening ? uint32_t{XCB_INPUT_XI_EVENT_MASK_RAW_MOTION} : 0u};
    return xcb_input_xi_select_events_checked(c, root, 1, &selection.head);
}

xcb_connection_t* connect(const QByteArray& display) {
    xcb_connection_t* c = xcb_connect(display.constData(), nullptr);
    if (c && xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return nullptr;
    }
    return c;
}

}  // namespace

std::unique_ptr<X11MotionWatch> X11MotionWatch::start(std::function<void()> moved, const QByteArray& display,
                                                      bool allowRecord) {
    const QByteArray name = display.isEmpty() ? qgetenv("DISPLAY") : display;
    if (name.isEmpty()) return nullptr;
    std::unique_ptr<X11MotionWatch> watch(new X11MotionWatch);
    watch->connection_ = connect(name);
    if (!watch->connection_) return nullptr;
    watch->root_ = xcb_setup_roots_iterator(xcb_get_setup(watch->connection_)).data->root;
    watch->moved_ = std::move(moved);
    if (!(allowRecord && watch->startRecording(name)) && !watch->startRawMotion()) return nullptr;
    return watch;
}

bool X11MotionWatch::startRecording(const QByteArray& display) {
    xcb_connection_t* c = connection_;
    const xcb_query_extension_reply_t* record = xcb_get_extension_data(c, &xcb_record_id);
    if (!record || !record->present) return false;
    auto* version = xcb_record_query_version_reply(c, xcb_record_query_version(c, 1, 13), nullptr);
    if (!version) return false;
    std::free(version);
    // Core motion of every device, whoever made it; nothing else is recorded.
    context_ = xcb_generate_id(c);
    xcb_record_client_spec_t clients = XCB_RECORD_CS_ALL_CLIENTS;
    xcb_record_range_t range{};
    range.device_events.first = XCB_MOTION_NOTIFY;
    range.device_events.last = XCB_MOTION_NOTIFY;
    if (xcb_generic_error_t* error = xcb_request_check(c, xcb_record_create_context_checked(c, context_, 0, 1, 1, &clients, &range))) {
        std::free(error);
        return false;
    }
    // An enabled context answers on the connection that enabled it, for as long as it is enabled.
    dataConnection_ = connect(display);
    if (!dataConnection_) return false;
    source_ = Source::record;
    watchSocket(dataConnection_);
    rootNotifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(rootNotifier_.get(), &QSocketNotifier::activated, [this] { readRootEvents(); });
    listen();
    if (enabledSequence_ != 0) return true;
    // The server would not record after all: raw motion stands in.
    rootNotifier_.reset();
    notifier_.reset();
    selectRootMotion(false);
    source_ = Source::rawMotion;
    return false;
}

bool X11MotionWatch::startRawMotion() {
    xcb_connection_t* c = connection_;
    const xcb_query_extension_reply_t* xi = xcb_get_extension_data(c, &xcb_input_id);
    if (!xi || !xi->present) return false;
    xinputOpcode_ = xi->major_opcode;
    auto* version = xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr);
    // Raw events reach a root listener whoever grabs the pointer from 2.1 on.
    const bool recent = version && (version->major_version > 2 ||
                                    (version->major_version == 2 && version->minor_version >= 1));
    std::free(version);
    if (!recent) return false;
    if (xcb_generic_error_t* error = xcb_request_check(c, selectRawMotion(c, root_, true))) {
        std::free(error);
        return false;
    }
    source_ = Source::rawMotion;
    watchSocket(c);
    return true;
}

void X11MotionWatch::watchSocket(xcb_connection_t* connection) {
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readPendingEvents(); });
}

void X11MotionWatch::selectRootMotion(bool listening) {
    const uint32_t mask = listening ? uint32_t{XCB_EVENT_MASK_POINTER_MOTION} : 0u;
    if (listening) {
        // Waited for, like the recording itself: the selection is in effect on return.
        std::free(xcb_request_check(connection_, xcb_change_window_attributes_checked(connection_, root_, XCB_CW_EVENT_MASK, &mask)));
        return;
    }
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
}

void X11MotionWatch::listen() {
    // The server sends what it recorded when it next writes to any client. A motion that no other
    // client hears (over the bare root, say) reaches this one here, so none waits for the next.
    selectRootMotion(true);
    if (disabling_) {
        // The context is still enabled until its end of data arrives; only then can it be enabled again.
        awaitRecorded(recordEndOfData);
    }
    enableRecording();
    // Events read while waiting wait in the connection's queue, where the socket cannot tell of them.
    if (rootNotifier_) QMetaObject::invokeMethod(rootNotifier_.get(), [this] { readRootEvents(); }, Qt::QueuedConnection);
}

void X11MotionWatch::readRootEvents() {
    bool moved = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        moved = moved || (event->response_type & 0x7f) == XCB_MOTION_NOTIFY;
        std::free(event);
    }
    if (xcb_connection_has_error(connection_)) rootNotifier_.reset();
    if (moved && wantsListening_ && moved_) moved_();
}

void X11MotionWatch::enableRecording() {
    if (enabledSequence_ != 0) return;  // still enabled
    enabledSequence_ = xcb_record_enable_context(dataConnection_, context_).sequence;
    // The server's first answer, the start of the data, comes once it records: every motion after
    // this returns is heard.
    awaitRecorded(recordStartOfData);
    // Data read with that answer waits in the connection's queue, where the socket cannot tell of it.
    if (enabledSequence_ != 0 && notifier_)
        QMetaObject::invokeMethod(notifier_.get(), [this] { readPendingEvents(); }, Qt::QueuedConnection);
}

void X11MotionWatch::awaitRecorded(uint8_t category) {
    while (enabledSequence_ != 0) {
        xcb_generic_error_t* error = nullptr;
        auto* reply = static_cast<xcb_record_enable_context_reply_t*>(
            xcb_wait_for_reply(dataConnection_, enabledSequence_, &error));
        if (!reply) {
            // The enabling request failed, or the server went away.
            std::free(error);
            endRecording();
            return;
        }
        const uint8_t got = takeRecorded(reply);
        if (got == category) return;
    }
}

uint8_t X11MotionWatch::takeRecorded(void* reply) {
    auto* data = static_cast<xcb_record_enable_context_reply_t*>(reply);
    const uint8_t category = data->category;
    if (category == recordedFromServer && xcb_record_enable_context_data_length(data) > 0 && wantsListening_)
        movedUnheard_ = true;
    if (category == recordEndOfData) endRecording();
    std::free(reply);
    return category;
}

void X11MotionWatch::endRecording() {
    enabledSequence_ = 0;
    disabling_ = false;
}

void X11MotionWatch::setListening(bool listening) {
    if (source_ == Source::record) {
        if (listening) {
            listen();  // before listening: what was recorded until now is not news
            wantsListening_ = true;
            return;
        }
        wantsListening_ = false;
        selectRootMotion(false);
        if (enabledSequence_ != 0 && !disabling_) {
            // Answered on the data connection with the end of the data.
            disabling_ = true;
            xcb_record_disable_context(connection_, context_);
            xcb_flush(connection_);
        }
        return;
    }
    wantsListening_ = listening;
    // Not waited for: a server that went away is noticed by the socket.
    xcb_discard_reply(connection_, selectRawMotion(connection_, root_, listening).sequence);
    xcb_flush(connection_);
}

X11MotionWatch::~X11MotionWatch() {
    notifier_.reset();
    rootNotifier_.reset();
    if (dataConnection_) xcb_disconnect(dataConnection_);
    if (connection_) {
        if (context_) xcb_record_free_context(connection_, context_);
        xcb_disconnect(connection_);
    }
}

void X11MotionWatch::readRecordedData() {
    while (enabledSequence_ != 0) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (!xcb_poll_for_reply(dataConnection_, enabledSequence_, &reply, &error)) break;
        if (!reply) {
            // The enabling request ended (an error, or its last reply was read).
            std::free(error);
            endRecording();
            break;
        }
        takeRecorded(reply);
    }
    if (enabledSequence_ == 0 && wantsListening_ && !xcb_connection_has_error(dataConnection_)) enableRecording();
    const bool moved = movedUnheard_;
    movedUnheard_ = false;
    if (moved && wantsListening_ && moved_) moved_();
}

void X11MotionWatch::readPendingEvents() {
    xcb_connection_t* c = source_ == Source::record ? dataConnection_ : connection_;
    bool moved = false;
    if (source_ == Source::record) {
        readRecordedData();
    } else {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == XCB_GE_GENERIC) {
                auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(event);
                moved = moved || (generic->extension == xinputOpcode_ && generic->event_type == XCB_INPUT_RAW_MOTION);
            }
            std::free(event);
        }
    }
    if (xcb_connection_has_error(c)) {
        // The server went away: no more wake-ups; the poller keeps its own pace.
        notifier_.reset();
    }
    if (moved && moved_) moved_();
}

}  // namespace platform
