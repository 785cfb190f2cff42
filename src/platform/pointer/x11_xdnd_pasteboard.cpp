#include "platform/pointer/x11_xdnd_pasteboard.h"

#include <QList>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

template <class T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The selection data is small; anything past this is not a list of dragged files worth reading.
constexpr uint32_t kMaxPayloadLongs = 1u << 18;  // 1 MiB

}  // namespace

X11XdndPasteboard::X11XdndPasteboard(QByteArray display) : display_(std::move(display)) {}

X11XdndPasteboard::~X11XdndPasteboard() { disconnect(); }

bool X11XdndPasteboard::uriListHasFileUrl(const QByteArray& payload) {
    for (const QByteArray& raw : payload.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        // The scheme is case-insensitive; a file URL needs its path after "file:".
        if (line.size() > 5 && line.left(5).toLower() == "file:") return true;
    }
    return false;
}

bool X11XdndPasteboard::start() {
    if (connection_) return true;
    if (failed_) return false;
    const QByteArray name = display_.isEmpty() ? qgetenv("DISPLAY") : display_;
    if (name.isEmpty()) {
        failed_ = true;
        return false;
    }
    xcb_connection_t* c = xcb_connect(name.constData(), nullptr);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        failed_ = true;
        return false;
    }
    connection_ = c;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

    bool ok = true;
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (xfixes && xfixes->present) {
        xfixesEventBase_ = xfixes->first_event;
        Reply<xcb_xfixes_query_version_reply_t> version(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
        ok = version && version->major_version >= 1;
    } else {
        ok = false;
    }
    const xcb_query_extension_reply_t* xi = xcb_get_extension_data(c, &xcb_input_id);
    if (ok && xi && xi->present) {
        xinputOpcode_ = xi->major_opcode;
        Reply<xcb_input_xi_query_version_reply_t> version(
            xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr));
        ok = version && (version->major_version > 2 || (version->major_version == 2 && version->minor_version >= 1));
    } else {
        ok = false;
    }
    if (!ok) {
        disconnect();
        failed_ = true;
        return false;
    }

    selectionAtom_ = internAtom(c, "XdndSelection");
    uriListAtom_ = internAtom(c, "text/uri-list");
    propertyAtom_ = internAtom(c, "QUILLVEX_DRAG_PROBE");
    window_ = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, root_, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_xfixes_select_selection_input(c, window_, selectionAtom_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    // Raw events reach a listener on the root even while the drag source grabs the pointer.
    struct {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection = {{XCB_INPUT_DEVICE_ALL_MASTER, 1}, XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_RELEASE};
    xcb_input_xi_select_events(c, root_, 1, &selection.head);

    // A drag already under way when watching starts: an owner while a button is held.
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selectionAtom_), nullptr));
    Reply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, xcb_query_pointer(c, root_), nullptr));
    const uint16_t buttonMasks =
        XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3;
    if (owner && owner->owner != XCB_WINDOW_NONE && pointer && (pointer->mask & buttonMasks)) {
        beginSession(XCB_CURRENT_TIME);
    }
    xcb_flush(c);

    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readPendingEvents(); });
    readPendingEvents();
    return true;
}

void X11XdndPasteboard::disconnect() {
    notifier_.reset();
    if (connection_) xcb_disconnect(connection_);
    connection_ = nullptr;
    sessionActive_ = false;
    answersDue_ = 0;
    hasFileUrls_.reset();
}

void X11XdndPasteboard::beginSession(uint32_t timestamp) {
    sessionActive_ = true;
    hasFileUrls_.reset();
    ownerTime_ = timestamp;
    askForUriList();
}

// A Qt source hands its drag's data only to a request made at the time it last sent a drop target,
// which is no time at all while the pointer is over none: the owner's time holds while the pointer
// stays where the drag began (the source's own window), no time once it is over no drop target.
// Both are asked; a source that checks no time answers both alike.
void X11XdndPasteboard::askForUriList() {
    const auto ask = [this](uint32_t time) {
        xcb_convert_selection(connection_, window_, selectionAtom_, uriListAtom_, propertyAtom_, time);
        ++answersDue_;
    };
    onlyRefused_ = true;
    ask(ownerTime_);
    if (ownerTime_ != XCB_CURRENT_TIME) ask(XCB_CURRENT_TIME);
    xcb_flush(connection_);
}

void X11XdndPasteboard::readConversion(uint32_t property) {
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 1, window_, property, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPayloadLongs),
        nullptr));
    // Another type (an incremental transfer among them) is no list of files we read.
    bool files = false;
    if (reply && reply->format == 8 && reply->type == uriListAtom_) {
        const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
        files = uriListHasFileUrl(QByteArray(data, xcb_get_property_value_length(reply.get())));
    }
    hasFileUrls_ = files || hasFileUrls_.value_or(false);
}

void X11XdndPasteboard::readPendingEvents() {
    if (!connection_) return;
    while (xcb_generic_event_t* raw = xcb_poll_for_event(connection_)) {
        Reply<xcb_generic_event_t> event(raw);
        const uint8_t type = event->response_type & 0x7f;
        if (type == xfixesEventBase_ + XCB_XFIXES_SELECTION_NOTIFY) {
            auto* notify = reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(raw);
            if (notify->selection != selectionAtom_) continue;
            if (notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER && notify->owner != XCB_WINDOW_NONE) {
                beginSession(notify->selection_timestamp);
            } else {
                sessionActive_ = false;
                hasFileUrls_.reset();
            }
        } else if (type == XCB_SELECTION_NOTIFY) {
            auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(raw);
            if (notify->requestor != window_ || notify->selection != selectionAtom_) continue;
            if (answersDue_ > 0) --answersDue_;
            // One answer that offers files is enough: the other was made at a time the source
            // did not take.
            if (notify->property == XCB_ATOM_NONE) {
                hasFileUrls_ = hasFileUrls_.value_or(false);  // no URI list, or not at that time
            } else {
                onlyRefused_ = false;
                readConversion(notify->property);
            }
        } else if (type == XCB_GE_GENERIC) {
            auto* generic = reinterpret_cast<xcb_ge_generic_event_t*>(raw);
            if (generic->extension != xinputOpcode_ || generic->event_type != XCB_INPUT_RAW_BUTTON_RELEASE) continue;
            auto* release = reinterpret_cast<xcb_input_raw_button_release_event_t*>(raw);
            // Buttons 4 to 7 are wheel steps, which a drag may see; only a real button ends it.
            if (release->detail >= 4 && release->detail <= 7) continue;
            sessionActive_ = false;
            hasFileUrls_.reset();
        }
    }
    if (xcb_connection_has_error(connection_)) {
        disconnect();
        failed_ = true;
    }
}

bool X11XdndPasteboard::canReadFileURLs() {
    if (!start()) return false;
    readPendingEvents();
    // Refused every time so far: the source may have moved on to where it answers (a busy source
    // still working through the gesture, a pointer now over no drop target).
    if (sessionActive_ && onlyRefused_ && answersDue_ == 0) askForUriList();
    return sessionActive_ && hasFileUrls_.value_or(false);
}

}  // namespace platform
