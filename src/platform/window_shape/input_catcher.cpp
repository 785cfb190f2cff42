#include "platform/window_shape/input_catcher.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QInputDevice>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QWheelEvent>

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Every live catcher, for the one filter that hands them their events. Main thread only.
std::vector<InputCatcher*>& catchers() {
    static std::vector<InputCatcher*> all;
    return all;
}

class CatcherEvents final : public QAbstractNativeEventFilter {
public:
    explicit CatcherEvents(uint8_t xinput) : xinput_(xinput) {}
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_ge_generic_event_t*>(message);
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_PROPERTY_NOTIFY) {
            for (InputCatcher* catcher : catchers()) {
                if (catcher->handleServerTime(message)) return true;
            }
            return false;
        }
        if (type != XCB_GE_GENERIC || event->extension != xinput_) return false;
        for (InputCatcher* catcher : catchers()) {
            if (catcher->handle(message, xinput_)) return true;
        }
        return false;
    }

private:
    uint8_t xinput_;
};

// Qt's connection on X11 with XInput2, the filter installed; nullptr elsewhere.
xcb_connection_t* catcherConnection() {
    static xcb_connection_t* connection = []() -> xcb_connection_t* {
        if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* c = x11 ? x11->connection() : nullptr;
        if (!c) return nullptr;
        const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c, &xcb_input_id);
        const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
        if (!xinput || !xinput->present || !shape || !shape->present) return nullptr;
        static CatcherEvents filter(xinput->major_opcode);
        QCoreApplication::instance()->installNativeEventFilter(&filter);
        return c;
    }();
    return connection;
}

double fromFixed(xcb_input_fp1616_t value) { return value / 65536.0; }

Qt::KeyboardModifiers modifiersOf(uint32_t mods) {
    Qt::KeyboardModifiers modifiers;
    if (mods & XCB_MOD_MASK_SHIFT) modifiers |= Qt::ShiftModifier;
    if (mods & XCB_MOD_MASK_CONTROL) modifiers |= Qt::ControlModifier;
    if (mods & XCB_MOD_MASK_1) modifiers |= Qt::AltModifier;
    if (mods & XCB_MOD_MASK_4) modifiers |= Qt::MetaModifier;
    return modifiers;
}

Qt::MouseButton buttonOf(uint32_t detail) {
    switch (detail) {
    case 1: return Qt::LeftButton;
    case 2: return Qt::MiddleButton;
    case 3: return Qt::RightButton;
    case 8: return Qt::BackButton;
    case 9: return Qt::ForwardButton;
    default: return Qt::NoButton;
    }
}

// The device Qt knows by the XInput id of the one that scrolled, so its direction can be looked up.
const QPointingDevice* deviceWithId(int id) {
    for (const QInputDevice* device : QInputDevice::devices()) {
        if (device->systemId() == id && (device->type() == QInputDevice::DeviceType::Mouse ||
                                         device->type() == QInputDevice::DeviceType::TouchPad))
            return static_cast<const QPointingDevice*>(device);
    }
    // One Qt does not list: known by its id alone.
    static std::map<int, std::unique_ptr<QPointingDevice>> others;
    auto& device = others[id];
    if (!device) {
        device = std::make_unique<QPointingDevice>(QStringLiteral("pointer"), id, QInputDevice::DeviceType::Mouse,
                                                   QPointingDevice::PointerType::Generic,
                                                   QInputDevice::Capability::Position | QInputDevice::Capability::Scroll,
                                                   1, 3);
    }
    return device.get();
}

// `widget` and its ancestors up to the window, innermost first.
std::vector<QWidget*> chainOf(QWidget* widget) {
    std::vector<QWidget*> chain;
    for (QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) chain.push_back(w);
    return chain;
}

}  // namespace

InputCatcher::InputCatcher(QWidget& window) : window_(&window), c_(catcherConnection()) {
    catchers().push_back(this);
}

InputCatcher::~InputCatcher() {
    askAgain_.cancel();
    std::erase(catchers(), this);
    if (c_ && id_ && qGuiApp) {
        xcb_destroy_window(c_, id_);
        xcb_flush(c_);
    }
}

void InputCatcher::cover(const QRegion& pixels) {
    if (!c_ || !window_) return;
    requested_ = pixels;
    const bool wasLingering = std::exchange(lingering_, false);
    const qreal ratio = window_->devicePixelRatioF();
    const QRect logical = window_->geometry();
    const QRect windowRect(QPointF(logical.topLeft() * ratio).toPoint(), QSizeF(logical.size() * ratio).toSize());
    // The rest of a swipe that sent the window's last card away still lands where that card was.
    QRegion area = pixels.translated(windowRect.topLeft());
    if (swipeArea_) area += *swipeArea_;
    if (area.isEmpty()) {
        withdraw();
        return;
    }
    const QRect geometry = windowRect.united(area.boundingRect());
    if (!id_) {
        id_ = xcb_generate_id(c_);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        // Its own property changes come back stamped with the server's time (askServerTime).
        const uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
        xcb_create_window(c_, 0, id_, root, static_cast<int16_t>(geometry.x()), static_cast<int16_t>(geometry.y()),
                          static_cast<uint16_t>(std::max(1, geometry.width())),
                          static_cast<uint16_t>(std::max(1, geometry.height())), 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        struct {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } selection = {{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                       XCB_INPUT_XI_EVENT_MASK_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_BUTTON_RELEASE |
                           XCB_INPUT_XI_EVENT_MASK_MOTION | XCB_INPUT_XI_EVENT_MASK_ENTER | XCB_INPUT_XI_EVENT_MASK_LEAVE};
        xcb_input_xi_select_events(c_, id_, 1, &selection.head);
        geometry_ = geometry;
    }
    if (geometry != geometry_) {
        const uint32_t values[] = {static_cast<uint32_t>(geometry.x()), static_cast<uint32_t>(geometry.y()),
                                   static_cast<uint32_t>(std::max(1, geometry.width())),
                                   static_cast<uint32_t>(std::max(1, geometry.height()))};
        xcb_configure_window(c_, id_,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                             values);
        geometry_ = geometry;
    }
    windowOffset_ = windowRect.topLeft() - geometry_.topLeft();
    if (!swipeArea_) askAgain_.cancel();
    const QRegion shape = area.translated(-geometry_.topLeft());
    if (shape != shape_) {
        std::vector<xcb_rectangle_t> rects;
        for (const QRect& r : shape) {
            rects.push_back({static_cast<int16_t>(r.x()), static_cast<int16_t>(r.y()), static_cast<uint16_t>(r.width()),
                             static_cast<uint16_t>(r.height())});
        }
        // An input-only window has no bounding shape to draw: its input shape is all there is.
        xcb_shape_rectangles(c_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_YX_BANDED, id_, 0, 0,
                             static_cast<uint32_t>(rects.size()), rects.data());
        shape_ = shape;
    }
    if (!mapped_) {
        restack();
        xcb_map_window(c_, id_);
        mapped_ = true;
    }
    // The window is back under a pointer that stayed on the catcher: no crossing tells its widgets,
    // which heard it leave as the linger began.
    if (wasLingering && pointerInside_ && area.contains(pointer_)) {
        const QPointF point = QPointF(pointer_ - windowRect.topLeft()) / ratio;
        moveUnder(widgetAt(point), point, QPointF(pointer_) / ratio);
    }
}

void InputCatcher::restack() {
    if (!c_ || !id_ || !window_) return;
    const uint32_t values[] = {static_cast<uint32_t>(window_->winId()), XCB_STACK_MODE_ABOVE};
    xcb_configure_window(c_, id_, XCB_CONFIG_WINDOW_SIBLING | XCB_CONFIG_WINDOW_STACK_MODE, values);
}

void InputCatcher::linger() {
    if (!mapped_) return;
    lingering_ = true;
    swipeArea_ = shape_.translated(geometry_.topLeft());
    if (under_) moveUnder(nullptr, {}, {});
    grabber_ = nullptr;
    buttons_ = {};
    askServerTime();
}

void InputCatcher::askServerTime() {
    if (!c_ || !id_ || timeAsked_) return;
    timeAsked_ = true;
    // Appending nothing changes nothing, yet the server reports the change.
    xcb_change_property(c_, XCB_PROP_MODE_APPEND, id_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(c_);
}

bool InputCatcher::handleServerTime(const void* message) {
    const auto* event = static_cast<const xcb_property_notify_event_t*>(message);
    if (!id_ || event->window != id_) return false;
    timeAsked_ = false;
    if (!swipeArea_) return true;
    // Signed: a step stamped after the answer counts as just now.
    const int32_t quiet = lastStep_ ? static_cast<int32_t>(event->time - *lastStep_) : kSwipeGapMs;
    if (quiet >= kSwipeGapMs) {
        // The swipe has ended: the catcher takes what the window asks of it, or leaves.
        swipeArea_.reset();
        if (lingering_) {
            withdraw();
        } else {
            cover(requested_);
        }
        return true;
    }
    const double wait = (kSwipeGapMs - std::max(quiet, 0)) / 1000.0;
    askAgain_ = Scheduler::shared().after(wait, [this] { askServerTime(); });
    return true;
}

void InputCatcher::withdraw() {
    if (c_ && id_ && mapped_) {
        xcb_unmap_window(c_, id_);
        // Off a timer, nothing of Qt's may send it soon.
        xcb_flush(c_);
    }
    mapped_ = false;
    lingering_ = false;
    swipeArea_.reset();
    pointerInside_ = false;
    askAgain_.cancel();
    // Unmapped, the catcher hears of no leave: the widgets are told here.
    if (under_) moveUnder(nullptr, {}, {});
    grabber_ = nullptr;
    buttons_ = {};
}

QPointF InputCatcher::inWindow(int32_t x, int32_t y) const {
    return (QPointF(fromFixed(x), fromFixed(y)) - QPointF(windowOffset_)) / window_->devicePixelRatioF();
}

QWidget* InputCatcher::widgetAt(QPointF point) const {
    QWidget* child = window_->childAt(point.toPoint());
    return child ? child : window_.data();
}

void InputCatcher::moveUnder(QWidget* widget, QPointF point, QPointF global) {
    if (widget == under_) return;
    const std::vector<QWidget*> left = under_ ? chainOf(under_) : std::vector<QWidget*>{};
    const std::vector<QWidget*> entered = widget ? chainOf(widget) : std::vector<QWidget*>{};
    under_ = widget;
    for (QWidget* w : left) {
        if (std::find(entered.begin(), entered.end(), w) != entered.end()) continue;
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(w, &leave);
    }
    for (auto it = entered.rbegin(); it != entered.rend(); ++it) {
        if (std::find(left.begin(), left.end(), *it) != left.end()) continue;
        const QPointF local = (*it)->mapFrom(window_.data(), point);
        QEnterEvent enter(local, point, global);
        QCoreApplication::sendEvent(*it, &enter);
    }
}

void InputCatcher::sendMouse(int type, QPointF point, QPointF global, Qt::MouseButton button,
                             Qt::KeyboardModifiers modifiers) {
    const auto eventType = static_cast<QEvent::Type>(type);
    QWidget* target = grabber_ ? grabber_.data() : widgetAt(point);
    if (eventType == QEvent::MouseButtonPress && !grabber_) grabber_ = target;
    if (eventType == QEvent::MouseMove && buttons_ == Qt::NoButton && !target->hasMouseTracking()) return;
    // Ignored, it goes to the widget's parent, as Qt hands on a click no widget takes.
    for (QWidget* w = target; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        QMouseEvent event(eventType, w->mapFrom(window_.data(), point), point, global, button, buttons_, modifiers,
                          QPointingDevice::primaryPointingDevice());
        QCoreApplication::sendEvent(w, &event);
        if (event.isAccepted() || eventType == QEvent::MouseMove) break;
    }
}

void InputCatcher::sendWheel(int button, QPointF point, QPointF global, int sourceDevice, Qt::KeyboardModifiers modifiers,
                             uint32_t time) {
    // One notch a press, as Qt reads the buttons of a wheel without smooth scrolling.
    static const QPoint notches[] = {{0, 120}, {0, -120}, {120, 0}, {-120, 0}};
    const QPoint angle = notches[button - 4];
    for (QWidget* w = widgetAt(point); w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        QWheelEvent event(w->mapFrom(window_.data(), point), global, QPoint(), angle, buttons_, modifiers, Qt::NoScrollPhase,
                          false, Qt::MouseEventNotSynthesized, deviceWithId(sourceDevice));
        // The server's time, as Qt gives its own: it tells the steps of one swipe.
        event.setTimestamp(time);
        QCoreApplication::sendEvent(w, &event);
        if (event.isAccepted()) break;
    }
}

bool InputCatcher::handle(const void* message, uint8_t extension) {
    const auto* generic = static_cast<const xcb_ge_generic_event_t*>(message);
    if (!window_ || generic->extension != extension) return false;
    if (generic->event_type == XCB_INPUT_BUTTON_PRESS) {
        // Emulated from a smooth scroll too: those are what the desktop would get.
        const auto* press = static_cast<const xcb_input_button_press_event_t*>(message);
        const bool ours = (id_ && press->event == id_) || press->event == window_->internalWinId();
        if (ours && press->detail >= 4 && press->detail <= 7) lastStep_ = press->time;
    }
    if (!id_) return false;
    const qreal ratio = window_->devicePixelRatioF();
    switch (generic->event_type) {
    case XCB_INPUT_ENTER:
    case XCB_INPUT_LEAVE: {
        const auto* crossing = static_cast<const xcb_input_enter_event_t*>(message);
        if (crossing->event != id_) return false;
        pointerInside_ = generic->event_type == XCB_INPUT_ENTER;
        pointer_ = QPoint(static_cast<int>(fromFixed(crossing->root_x)), static_cast<int>(fromFixed(crossing->root_y)));
        if (lingering_) return true;
        const QPointF point = inWindow(crossing->event_x, crossing->event_y);
        const QPointF global(fromFixed(crossing->root_x) / ratio, fromFixed(crossing->root_y) / ratio);
        // A button held over the catcher keeps the pointer's events here until it is let go.
        if (generic->event_type == XCB_INPUT_LEAVE && grabber_) return true;
        moveUnder(generic->event_type == XCB_INPUT_ENTER ? widgetAt(point) : nullptr, point, global);
        return true;
    }
    case XCB_INPUT_MOTION:
    case XCB_INPUT_BUTTON_PRESS:
    case XCB_INPUT_BUTTON_RELEASE: {
        const auto* device = static_cast<const xcb_input_button_press_event_t*>(message);
        if (device->event != id_) return false;
        pointer_ = QPoint(static_cast<int>(fromFixed(device->root_x)), static_cast<int>(fromFixed(device->root_y)));
        const QPointF point = inWindow(device->event_x, device->event_y);
        const QPointF global(fromFixed(device->root_x) / ratio, fromFixed(device->root_y) / ratio);
        const Qt::KeyboardModifiers modifiers = modifiersOf(device->mods.effective);
        const bool inside = QRectF(QPointF(-windowOffset_) / ratio, QSizeF(geometry_.size()) / ratio).contains(point);
        if (generic->event_type == XCB_INPUT_MOTION && !lingering_) {
            if (!grabber_) moveUnder(inside ? widgetAt(point) : nullptr, point, global);
            sendMouse(QEvent::MouseMove, point, global, Qt::NoButton, modifiers);
            return true;
        }
        const uint32_t detail = device->detail;
        if (lingering_) {
            // The window is gone: its wheel steps go to the window alone; a click ends the linger.
            if (generic->event_type == XCB_INPUT_BUTTON_PRESS && detail >= 4 && detail <= 7) {
                QWheelEvent event(point, global, QPoint(), QPoint(), buttons_, modifiers, Qt::NoScrollPhase, false,
                                  Qt::MouseEventNotSynthesized, deviceWithId(device->sourceid));
                event.setTimestamp(device->time);
                QCoreApplication::sendEvent(window_.data(), &event);
            } else if (generic->event_type == XCB_INPUT_BUTTON_PRESS) {
                withdraw();
            }
            return true;
        }
        if (detail >= 4 && detail <= 7) {
            if (generic->event_type == XCB_INPUT_BUTTON_PRESS)
                sendWheel(static_cast<int>(detail), point, global, device->sourceid, modifiers, device->time);
            return true;
        }
        const Qt::MouseButton button = buttonOf(detail);
        if (button == Qt::NoButton) return true;
        if (generic->event_type == XCB_INPUT_BUTTON_PRESS) {
            buttons_ |= button;
            sendMouse(QEvent::MouseButtonPress, point, global, button, modifiers);
        } else {
            buttons_ &= ~button;
            sendMouse(QEvent::MouseButtonRelease, point, global, button, modifiers);
            if (buttons_ == Qt::NoButton) {
                grabber_ = nullptr;
                // Let go outside, the pointer has left by now.
                if (!inside) moveUnder(nullptr, point, global);
            }
        }
        return true;
    }
    default:
        return false;
    }
}

}  // namespace platform
