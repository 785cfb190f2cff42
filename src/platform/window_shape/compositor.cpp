#include "platform/window_shape/compositor.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <map>

namespace platform {

namespace {

// The screen number of $DISPLAY (":0.1" is screen 1), which Qt's connection uses by default.
int defaultScreenNumber() {
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    const qsizetype dot = display.indexOf('.', colon < 0 ? 0 : colon);
    if (colon < 0 || dot < 0) return 0;
    bool ok = false;
    const int screen = display.mid(dot + 1).toInt(&ok);
    return ok ? screen : 0;
}

class X11CompositorWatch final : public CompositorWatch, public QAbstractNativeEventFilter {
public:
    ~X11CompositorWatch() override {
        if (filtering_ && QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    bool isActive() override {
        start();
        return active_;
    }

    AnyCancellable observe(std::function<void()> handler) override {
        start();
        const uint64_t id = nextObserver_++;
        observers_.emplace(id, std::move(handler));
        return AnyCancellable([this, id] { observers_.erase(id); });
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t" || !connection_) return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != xfixesEventBase_ + XCB_XFIXES_SELECTION_NOTIFY) return false;
        auto* notify = reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event);
        if (notify->selection != selection_) return false;
        const bool active = notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER && notify->owner != XCB_NONE;
        if (active != active_) {
            active_ = active;
            // A handler may cancel its own or another observation.
            auto observers = observers_;
            for (auto& [id, handler] : observers) {
                if (observers_.count(id)) handler();
            }
        }
        return false;  // Qt may follow the same selection
    }

private:
    void start() {
        if (started_) return;
        started_ = true;
        if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) return;
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c) return;
        const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(defaultScreenNumber());
        xcb_intern_atom_reply_t* atom =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr);
        if (!atom) return;
        selection_ = atom->atom;
        std::free(atom);
        xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection_), nullptr);
        active_ = owner && owner->owner != XCB_NONE;
        std::free(owner);
        if (!xfixes || !xfixes->present) return;  // read once, not followed
        std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 1, 0), nullptr));
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = defaultScreenNumber(); i > 0 && screens.rem > 1; --i) xcb_screen_next(&screens);
        xcb_xfixes_select_selection_input(c, screens.data->root, selection_,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        xcb_flush(c);
        connection_ = c;
        xfixesEventBase_ = xfixes->first_event;
        QCoreApplication::instance()->installNativeEventFilter(this);
        filtering_ = true;
    }

    bool started_ = false;
    bool filtering_ = false;
    // Until a display says otherwise, transparency is honoured (offscreen, Wayland).
    bool active_ = true;
    xcb_connection_t* connection_ = nullptr;
    xcb_atom_t selection_ = XCB_NONE;
    uint8_t xfixesEventBase_ = 0;
    std::map<uint64_t, std::function<void()>> observers_;
    uint64_t nextObserver_ = 0;
};

CompositorWatch* installedWatch = nullptr;

}  // namespace

CompositorWatch& CompositorWatch::shared() {
    if (installedWatch) return *installedWatch;
    static X11CompositorWatch watch;
    return watch;
}

CompositorWatch* CompositorWatch::setShared(CompositorWatch* watch) {
    CompositorWatch* previous = installedWatch;
    installedWatch = watch;
    return previous;
}

}  // namespace platform
