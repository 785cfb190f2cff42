#pragma once

// The pointer monitor on a desktop that has no pointer-motion feed for other applications'
// windows: the pointer is sampled about 60 times a second while a handler exists, and a movement
// is reported only when the pointer stands on another pixel than at the last sample. Where a
// motion watch tells when the pointer moves, sampling slows to a few samples a second after half
// a second of stillness (a warped pointer makes no motion events) and the next motion restores
// the pace with an immediate sample. A pixel
// is reported at its centre, so the top pixel row lies inside the screen's frame (its top edge,
// the frame's maximum y, belongs to no rectangle that ends there).

#include "platform/pointer/pointer_monitor.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/screens/screens.h"

#include <QPoint>

#include <functional>
#include <map>
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

class PolledPointerMonitor final : public PointerMonitor {
public:
    // A little over 60 Hz, so that a movement is handled within one 60 Hz frame of happening.
    static constexpr double pollInterval = 1.0 / 64.0;

    using SampleSource = std::function<std::optional<PointerSample>()>;
    using OwnWindowTest = std::function<bool(const QPoint& pixel)>;
    // Calls `moved` whenever the pointer moves, until the result is cancelled; an inactive result
    // means no such feed (sampling never sleeps then).
    using MotionWatch = std::function<AnyCancellable(std::function<void()> moved)>;

    static constexpr int stillSamplesBeforeSleep = 32;
    static constexpr double restingInterval = 0.25;

    // `source` empty: X11's pointer query where the application runs on X11, else Qt's cursor
    // (whose buttons are only those pressed on this application's windows). `isOverOwnWindow`
    // empty: whether one of this application's top-level windows is under the pixel. `screens`
    // nullptr uses the shared provider at each use.
    // `watch` empty: X11 raw motion when the source is the system's, none with a source given here.
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
    uint32_t pressedMouseButtons() const override;

    // One sample; the timer calls it.
    void poll();
    bool isPolling() const { return timer_.isValid(); }
    bool isResting() const { return resting_; }
    size_t handlerCount() const { return handlers_.size(); }

    // The default sample source and motion watch.
    static SampleSource systemSource();
    static MotionWatch systemMotionWatch();

private:
    struct Entry {
        bool local;
        Handler handler;
    };
    std::optional<Token> add(bool local, Handler handler);
    void wake();
    void startTimer(double interval = pollInterval);
    Screens& screens() const;

    // Made on first use (one connection for the monitor's life).
    mutable SampleSource source_;
    OwnWindowTest isOverOwnWindow_;
    Screens* screensOverride_;
    Scheduler& scheduler_;
    std::map<Token, Entry> handlers_;
    Token nextToken_ = 1;
    MotionWatch watch_;
    AnyCancellable watching_;
    std::optional<QPoint> lastPixel_;
    int stillSamples_ = 0;
    bool resting_ = false;
    RepeatingTimer timer_;
    Lifetime lifetime_;
};

}  // namespace platform
