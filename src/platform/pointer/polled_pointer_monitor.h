#pragma once

// The pointer monitor on a desktop that has no pointer-motion feed for other applications'
// windows: the pointer is sampled about 60 times a second while a handler exists, and a movement
// is reported only when the pointer stands on another pixel than at the last sample. A pixel
// is reported at its centre, so the top pixel row lies inside the screen's frame (its top edge,
// the frame's maximum y, belongs to no rectangle that ends there).

#include "platform/pointer/pointer_monitor.h"
#include "platform/runtime/dispatch.h"
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
    static constexpr double pollInterval = 1.0 / 60.0;

    using SampleSource = std::function<std::optional<PointerSample>()>;
    using OwnWindowTest = std::function<bool(const QPoint& pixel)>;

    // `source` empty: X11's pointer query where the application runs on X11, else Qt's cursor
    // (whose buttons are only those pressed on this application's windows). `isOverOwnWindow`
    // empty: whether one of this application's top-level windows is under the pixel. `screens`
    // nullptr uses the shared provider at each use.
    explicit PolledPointerMonitor(SampleSource source = {}, OwnWindowTest isOverOwnWindow = {},
                                  Screens* screens = nullptr, Scheduler& scheduler = Scheduler::shared());
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
    size_t handlerCount() const { return handlers_.size(); }

    // The default sample source.
    static SampleSource systemSource();

private:
    struct Entry {
        bool local;
        Handler handler;
    };
    std::optional<Token> add(bool local, Handler handler);
    Screens& screens() const;

    SampleSource source_;
    OwnWindowTest isOverOwnWindow_;
    Screens* screensOverride_;
    Scheduler& scheduler_;
    std::map<Token, Entry> handlers_;
    Token nextToken_ = 1;
    std::optional<QPoint> lastPixel_;
    RepeatingTimer timer_;
};

}  // namespace platform
