#include "platform/workspace/xsettings_watch.h"

#include <QSocketNotifier>

#include <cstdlib>

namespace platform {

namespace {

// A settings manager's property is a few KiB; more is not one.
constexpr uint32_t kSettingsLimitWords = 64 * 1024 / 4;

}  // namespace

std::unique_ptr<XSettingsWatch> XSettingsWatch::connect(const QByteArray& display) {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return nullptr;
    }
    std::unique_ptr<XSettingsWatch> watch(new XSettingsWatch);
    watch->c_ = c;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem <= 0) return nullptr;
    watch->root_ = screens.data->root;

    const QByteArray names[] = {"_XSETTINGS_S" + QByteArray::number(screenNumber), "_XSETTINGS_SETTINGS", "MANAGER"};
    xcb_intern_atom_cookie_t cookies[3];
    for (int i = 0; i < 3; ++i)
        cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(names[i].size()), names[i].constData());
    xcb_atom_t* atoms[] = {&watch->selection_, &watch->property_, &watch->managerMessage_};
    for (int i = 0; i < 3; ++i) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookies[i], nullptr);
        *atoms[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
    }
    if (watch->selection_ == XCB_ATOM_NONE || watch->property_ == XCB_ATOM_NONE ||
        watch->managerMessage_ == XCB_ATOM_NONE)
        return nullptr;
    // A manager that starts tells the root window's StructureNotify listeners (MANAGER). Selected
    // before the owner is asked, so a manager that starts in between is not missed.
    const uint32_t rootMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, watch->root_, XCB_CW_EVENT_MASK, &rootMask);
    watch->findManager();
    return watch;
}

XSettingsWatch::~XSettingsWatch() {
    notifier_.reset();
    if (c_) xcb_disconnect(c_);
}

void XSettingsWatch::findManager() {
    manager_ = XCB_NONE;
    settings_.clear();
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, selection_), nullptr);
    const xcb_window_t window = owner ? owner->owner : xcb_window_t{XCB_NONE};
    std::free(owner);
    if (window == XCB_NONE) return;
    // The manager's window may already be gone: its successor then announces itself.
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    if (xcb_generic_error_t* error =
            xcb_request_check(c_, xcb_change_window_attributes_checked(c_, window, XCB_CW_EVENT_MASK, &mask))) {
        std::free(error);
        return;
    }
    manager_ = window;
    readSettings();
}

void XSettingsWatch::readSettings() {
    settings_.clear();
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, manager_, property_, property_, 0, kSettingsLimitWords), nullptr);
    if (!reply) return;
    if (reply->format == 8 && reply->bytes_after == 0)
        settings_ = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    std::free(reply);
}

void XSettingsWatch::follow(std::function<void()> changed) {
    changed_ = std::move(changed);
    if (notifier_) return;
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { takeEvents(); });
    // What came while nothing listened.
    takeEvents();
}

void XSettingsWatch::takeEvents() {
    // Reading the settings waits for replies, and events that came meanwhile are queued in the
    // connection, where the socket no longer tells of them: taken until none is left.
    for (;;) {
        bool newManager = false, newSettings = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
            switch (event->response_type & 0x7f) {
            case XCB_CLIENT_MESSAGE: {
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
                if (message->window == root_ && message->type == managerMessage_ && message->format == 32 &&
                    message->data.data32[1] == selection_)
                    newManager = true;
                break;
            }
            case XCB_PROPERTY_NOTIFY: {
                const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                if (notify->window == manager_ && notify->atom == property_) newSettings = true;
                break;
            }
            case XCB_DESTROY_NOTIFY:
                if (reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window == manager_) newManager = true;
                break;
            default:  // errors of requests not checked, the root window's own changes
                break;
            }
            std::free(event);
        }
        if (xcb_connection_has_error(c_)) {
            notifier_->setEnabled(false);  // the server went away
            return;
        }
        if (!newManager && !newSettings) return;
        const QByteArray before = settings_;
        if (newManager) findManager();
        else readSettings();
        if (settings_ != before && changed_) changed_();
    }
}

}  // namespace platform
