#include "platform/pointer/polled_pointer_monitor.h"

#include "platform/pointer/x11_motion_watch.h"
#include "platform/screens/screen_geometry.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace platform {

PointerEventKind pointerEventKind(uint32_t buttons) {
    if (buttons & mouseButtonLeft) return PointerEventKind::leftMouseDragged;
    if (buttons & mouseButtonRight) return PointerEventKind::rightMouseDragged;
    if (buttons != 0) return PointerEventKind::otherMouseDragged;
    return PointerEventKind::mouseMoved;
}

QPointF pixelCentreLocation(const QPoint& pixel, const QRectF& primaryQtGeometry) {
    return fromQtPoint(QPointF(pixel.x() + 0.5, pixel.y() + 0.5), primaryQtGeometry);
}

namespace {

// X11 button masks (Button1Mask..Button5Mask) as MouseButtonBit flags: 1 left, 3 right, 2 middle.
uint32_t buttonsFromX11Mask(uint16_t mask) {
    uint32_t buttons = 0;
    if (mask & XCB_BUTTON_MASK_1) buttons |= mouseButtonLeft;
    if (mask & XCB_BUTTON_MASK_3) buttons |= mouseButtonRight;
    if (mask & XCB_BUTTON_MASK_2) buttons |= mouseButtonMiddle;
    if (mask & XCB_BUTTON_MASK_4) buttons |= 1u << 3;
    if (mask & XCB_BUTTON_MASK_5) buttons |= 1u << 4;
    return buttons;
}

uint32_t buttonsFromQt(Qt::MouseButtons qt) {
    uint32_t buttons = 0;
    if (qt & Qt::LeftButton) buttons |= mouseButtonLeft;
    if (qt & Qt::RightButton) buttons |= mouseButtonRight;
    if (qt & Qt::MiddleButton) buttons |= mouseButtonMiddle;
    return buttons;
}

std::optional<PointerSample> sampleX11(xcb_connection_t* connection, xcb_window_t root) {
    xcb_query_pointer_reply_t* reply = xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr);
    if (!reply) return std::nullopt;
    PointerSample sample{QPoint(reply->root_x, reply->root_y), buttonsFromX11Mask(reply->mask)};
    std::free(reply);
    return sample;
}

}  // namespace

PolledPointerMonitor::SampleSource PolledPointerMonitor::x11Source(const QByteArray& display) {
    xcb_connection_t* connection = display.isEmpty() ? nullptr : xcb_connect(display.constData(), nullptr);
    if (connection && !xcb_connection_has_error(connection)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        std::shared_ptr<xcb_connection_t> shared(connection, xcb_disconnect);
        return [shared, root] { return sampleX11(shared.get(), root); };
    }
    if (connection) xcb_disconnect(connection);
    return {};
}

PolledPointerMonitor::SampleSource PolledPointerMonitor::systemSource() {
    if (qGuiApp && qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        // A connection of its own: replies on Qt's connection would wake Qt's event reader
        // thread 60 times a second.
        if (SampleSource x11 = x11Source(qgetenv("DISPLAY"))) return x11;
    }
    return []() -> std::optional<PointerSample> {
        if (!qGuiApp) return std::nullopt;
        return PointerSample{QCursor::pos(), buttonsFromQt(QGuiApplication::mouseButtons())};
    };
}

namespace {

class X11MotionFeed final : public MotionFeed {
public:
    explicit X11MotionFeed(std::unique_ptr<X11MotionWatch> watch) : watch_(std::move(watch)) {}
    void setListening(bool listening) override { watch_->setListening(listening); }

private:
    std::unique_ptr<X11MotionWatch> watch_;
};

}  // namespace

PolledPointerMonitor::MotionWatch PolledPointerMonitor::systemMotionWatch() {
    if (!qGuiApp || !qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) return {};
    return [](std::function<void()> moved) -> std::unique_ptr<MotionFeed> {
        std::unique_ptr<X11MotionWatch> watch = X11MotionWatch::start(std::move(moved));
        if (!watch) return nullptr;
        return std::make_unique<X11MotionFeed>(std::move(watch));
    };
}

PolledPointerMonitor::PolledPointerMonitor(SampleSource source, OwnWindowTest isOverOwnWindow, Screens* screens,
                                           Scheduler& scheduler, MotionWatch watch)
    : source_(std::move(source)),
      isOverOwnWindow_(std::move(isOverOwnWindow)),
      screensOverride_(screens),
      scheduler_(scheduler),
      watch_(std::move(watch)) {
    if (!source_ && !watch_) watch_ = systemMotionWatch();
    if (!isOverOwnWindow_) {
        isOverOwnWindow_ = [](const QPoint& pixel) {
            if (!qGuiApp) return false;
            // Asking the server which window is there takes round trips: only where one of ours could be.
            const QWindowList windows = QGuiApplication::topLevelWindows();
            if (std::none_of(windows.begin(), windows.end(),
                             [&](const QWindow* w) { return w->isVisible() && w->geometry().contains(pixel); }))
                return false;
            QWindow* window = QGuiApplication::topLevelAt(pixel);
            return window && window->isVisible();
        };
    }
}

PolledPointerMonitor::~PolledPointerMonitor() {
    lifetime_.reset();
    feed_.reset();
}

Screens& PolledPointerMonitor::screens() const { return screensOverride_ ? *screensOverride_ : Screens::shared(); }

std::optional<PointerMonitor::Token> PolledPointerMonitor::addGlobalMonitor(Handler handler) {
    return add(false, std::move(handler));
}

std::optional<PointerMonitor::Token> PolledPointerMonitor::addLocalMonitor(Handler handler) {
    return add(true, std::move(handler));
}

std::optional<PointerMonitor::Token> PolledPointerMonitor::add(bool local, Handler handler) {
    if (!source_) source_ = systemSource();
    const Token token = nextToken_++;
    handlers_.emplace(token, Entry{local, std::move(handler)});
    if (handlers_.size() == 1) {
        // The first read sets the reference; only later movements are reported.
        const auto sample = source_();
        lastPixel_ = sample ? std::optional<QPoint>(sample->pixel) : std::nullopt;
        if (watch_) feed_ = watch_(lifetime_.wrap([this] { moved(); }));
        resting_ = feed_ != nullptr;
        if (!resting_) timer_ = scheduler_.every(pollInterval, [this] { poll(); });
    }
    return token;
}

void PolledPointerMonitor::moved() {
    if (handlers_.empty() || !resting_) return;
    follow();
    // The movement is seen now, not a tick later.
    poll();
}

void PolledPointerMonitor::follow() {
    resting_ = false;
    stillSamples_ = 0;
    feed_->setListening(false);
    timer_ = scheduler_.every(pollInterval, [this] { poll(); });
}

void PolledPointerMonitor::rest() {
    timer_.invalidate();
    feed_->setListening(true);
    resting_ = true;
    // A movement between the last read and listening again sent no signal: look once more.
    const auto sample = source_();
    if (sample && sample->pixel != lastPixel_) {
        follow();
        report(*sample);
    }
}

void PolledPointerMonitor::removeMonitor(Token token) {
    handlers_.erase(token);
    if (handlers_.empty()) {
        timer_.invalidate();
        resting_ = false;
        feed_.reset();
        lastPixel_.reset();
    }
}

void PolledPointerMonitor::poll() {
    if (handlers_.empty() || !source_) return;
    const auto sample = source_();
    if (sample && sample->pixel != lastPixel_) {
        stillSamples_ = 0;
        report(*sample);
    } else if (feed_ && ++stillSamples_ >= stillSamplesBeforeRest) {
        rest();
    }
}

void PolledPointerMonitor::report(const PointerSample& sample) {
    lastPixel_ = sample.pixel;
    const PointerEvent event{pointerEventKind(sample.buttons), pixelCentreLocation(sample.pixel, screens().primaryQtGeometry())};
    const bool local = isOverOwnWindow_(sample.pixel);
    // A handler may remove monitors (its own or others'): call a snapshot of those still present.
    std::vector<Token> tokens;
    for (const auto& [token, entry] : handlers_) {
        if (entry.local == local) tokens.push_back(token);
    }
    reportedButtons_ = sample.buttons;
    for (Token token : tokens) {
        auto it = handlers_.find(token);
        if (it == handlers_.end()) continue;
        Handler handler = it->second.handler;
        handler(event);
    }
    reportedButtons_.reset();
}

QPointF PolledPointerMonitor::mouseLocation() const {
    if (!source_) source_ = systemSource();
    const auto sample = source_();
    if (!sample) return screens().mouseLocation();
    return pixelCentreLocation(sample->pixel, screens().primaryQtGeometry());
}

std::optional<QPointF> PolledPointerMonitor::lastKnownLocation() const {
    if (!lastPixel_) return std::nullopt;  // kept only while a handler is followed
    return pixelCentreLocation(*lastPixel_, screens().primaryQtGeometry());
}

uint32_t PolledPointerMonitor::pressedMouseButtons() const {
    if (reportedButtons_) return *reportedButtons_;
    if (!source_) source_ = systemSource();
    const auto sample = source_();
    return sample ? sample->buttons : 0;
}

}  // namespace platform
