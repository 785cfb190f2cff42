#pragma once

// The pointer monitor. Where a motion feed tells when the pointer moves (X11: every motion event
// the server makes, see x11_motion_watch.h), nothing runs while the pointer rests: a motion wakes
// it, the pointer is then read about 60 times a second (the feed silenced meanwhile, so a fast
// device does not wake it at its own rate) until it has stood on one pixel for a few reads, and
// the feed takes over again. Without a feed the pointer is read about 60 times a
// second while a handler exists. A movement is reported only when the pointer stands on another
// pixel than at the last read. A pixel is reported at its centre, so the top pixel row lies inside
// the screen's frame (its top edge, the frame's maximum y, belongs to no rectangle that ends there).

#include "platform/pointer/pointer_monitor.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/screens/screens.h"

#include <QByteArray>
#include <QPoint>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace platform {

// One sample: the pointer's pixel in Qt coordinates and the MouseButtonBit flags held.
struct PointerSample {
    QPoint pixel;
    uint32_t buttons = 0;
    friend bool operator==(const PointerSample&, const PointerSample&) = default;
};

// The global screen location of a pixel's centre.
QPointF pixelCentreLocation(const QPoint& pixel, const QRectF& primaryQtGeometry);

// Tells that the pointer moved (not where) while listening; ends with the object.
class MotionFeed {
public:
    virtual ~MotionFeed() = default;
    // Listening from the start.
    virtual void setListening(bool listening) = 0;
};

class PolledPointerMonitor final : public PointerMonitor {
public:
    // A little over 60 Hz, so that a movement is handled within one 60 Hz frame of happening.
    static constexpr double pollInterval = 1.0 / 64.0;

    using SampleSource = std::function<std::optional<PointerSample>()>;
    using OwnWindowTest = std::function<bool(const QPoint& pixel)>;
    // Starts a feed that calls `moved` on the main thread; nullptr when there is none.
    using MotionWatch = std::function<std::unique_ptr<MotionFeed>(std::function<void()> moved)>;

    // Reads on one pixel before the feed takes over again (about 60 ms).
    static constexpr int stillSamplesBeforeRest = 4;

    // `source` empty: X11's pointer query where the application runs on X11, else Qt's cursor
    // (whose buttons are only those pressed on this application's windows). `isOverOwnWindow`
    // empty: whether one of this application's top-level windows is under the pixel. `screens`
    // nullptr uses the shared provider at each use.
    // `watch` empty: the X11 motion watch when the source is the system's, none with a source given here.
    explicit PolledPointerMonitor(SampleSource source = {}, OwnWindowTest isOverOwnWindow = {},
                                  Screens* screens = nullptr, Scheduler& scheduler = Scheduler::shared(),
                                  MotionWatch watch = {});
    ~PolledPointerMonitor() override;
    PolledPointerMonitor(const PolledPointerMonitor&) = delete;
    PolledPointerMonitor& operator=(const PolledPointerMonitor&) = delete;

    std::optional<Token> addGlobalMonitor(Handler handler) override;
    std::optional<Token> addLocalMonitor(Handler handler) override;
    void removeMonitor(Token token) override;
    QPointF mouseLocation() const override;
    // Resting, the pointer has not moved since the last read: the motion feed would have said so.
    std::optional<QPointF> lastKnownLocation() const override;
    uint32_t pressedMouseButtons() const override;

    // One read; the timer calls it.
    void poll();
    bool isPolling() const { return timer_.isValid(); }
    // Waiting for the feed, with nothing scheduled.
    bool isResting() const { return resting_; }
    size_t handlerCount() const { return handlers_.size(); }

    // The default sample source and motion watch.
    static SampleSource systemSource();
    // The X server's pointer and buttons at `display`, over a connection of its own; empty when
    // the server cannot be reached.
    static SampleSource x11Source(const QByteArray& display);
    static MotionWatch systemMotionWatch();

private:
    struct Entry {
        bool local;
        Handler handler;
    };
    std::optional<Token> add(bool local, Handler handler);
    void moved();
    void follow();
    void rest();
    void report(const PointerSample& sample);
    Screens& screens() const;

    // Made on first use (one connection for the monitor's life).
    mutable SampleSource source_;
    OwnWindowTest isOverOwnWindow_;
    Screens* screensOverride_;
    Scheduler& scheduler_;
    std::map<Token, Entry> handlers_;
    Token nextToken_ = 1;
    MotionWatch watch_;
    std::unique_ptr<MotionFeed> feed_;
    std::optional<QPoint> lastPixel_;
    // The buttons of the movement being reported: handlers asking for them need no new read.
    std::optional<uint32_t> reportedButtons_;
    int stillSamples_ = 0;
    bool resting_ = false;
    RepeatingTimer timer_;
    Lifetime lifetime_;
};

}  // namespace platform
