#pragma once

// The mini player's state without pixels: the artwork on the left pill and its flip, the pill
// reveal and content fade of the appearance and the dismiss, the background colour mode, the
// corner radius and the notch geometry. The view draws from it; tests drive and read it.
//
//   MiniPlayerViewModel model;          // the shared bus, settings, screens and now-playing service
//   model.appear();                     // when the view comes on screen
//   auto redraw = model.onChange([w] { w->update(); });
//   model.disappear();                  // when it leaves

#include "core/event_bus.h"
#include "core/notch_info.h"
#include "notch/mini_player_media.h"
#include "platform/animation/animation.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/screens/screens.h"
#include "platform/storage/defaults.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

class AudioVisualizer;

// What the mini player binds to; each member left empty is the process-wide one.
struct MiniPlayerEnvironment {
    EventBus* bus = nullptr;
    platform::Scheduler* scheduler = nullptr;
    platform::Defaults* defaults = nullptr;
    platform::Screens* screens = nullptr;
    MiniPlayerMedia* media = nullptr;
    AudioVisualizer* visualizer = nullptr;  // the level bars' source (the view's)
};

// Where the parts of the band lie for a given reveal, in band coordinates (origin top left).
struct MiniPlayerLayout {
    QSizeF size;
    QRectF leftPill;
    QRectF middle;
    QRectF rightPill;
    QRectF artwork;     // the 22 x 22 image, centred in the left pill
    QRectF symbol;      // the note symbol's box (12 points), centred in the left pill
    QRectF topLine;     // the hairline over the top edge
};

class MiniPlayerViewModel {
public:
    static constexpr double notchWidth = 180;
    static constexpr double pillHeight = 32;
    static constexpr double targetPillWidth = 48;
    static constexpr double artworkSize = 22;
    static constexpr double artworkCornerRadius = 4;
    static constexpr double symbolSize = 12;
    static constexpr double topLineInset = 6;
    static constexpr double flipStepDuration = 0.12;

    explicit MiniPlayerViewModel(const MiniPlayerEnvironment& environment = {});
    ~MiniPlayerViewModel();
    MiniPlayerViewModel(const MiniPlayerViewModel&) = delete;
    MiniPlayerViewModel& operator=(const MiniPlayerViewModel&) = delete;

    // The view came on screen: take the artwork, grow the pills out of the notch, fade the
    // content in, and listen for the dismiss.
    void appear();
    // The view left the screen: stop listening for the dismiss.
    void disappear();

    void syncDisplayedArtwork();
    void handleArtworkChange();
    void playDismiss();

    // "dynamic" in the settings: the artwork's colour at 0.85 (black without one); else black.
    QColor notchBackgroundColor() const;
    // The bars' colour: the artwork's colour, else white at 0.9, whatever the colour mode.
    QColor accentColor() const;
    // "title|artist|album|<w>x<h>" with the artwork's size in points ("0.0x0.0" without).
    QString artworkKey() const;
    // The notch of the first screen, else of the main screen, else none at all (zero size).
    NotchInfo notchInfo() const;
    // The stored radius now: finite and above 0, else 16; then within 8 ... 24.
    double cornerRadius() const;
    static double cornerRadius(std::optional<double> stored);

    QSizeF size() const { return layout().size; }
    MiniPlayerLayout layout() const { return layout(pillReveal_.value()); }
    static MiniPlayerLayout layout(double reveal);
    static QSizeF fullSize() { return {notchWidth + 2 * targetPillWidth, pillHeight}; }

    const std::optional<QImage>& displayedArtwork() const { return displayedArtwork_; }
    const QString& displayedArtworkKey() const { return displayedArtworkKey_; }
    double flipAngle() const { return flipAngle_.value(); }
    const platform::Animated<double>& flipAngleValue() const { return flipAngle_; }
    bool isFlipping() const { return isFlipping_; }
    double pillReveal() const { return pillReveal_.value(); }
    const platform::Animated<double>& pillRevealValue() const { return pillReveal_; }
    double contentOpacity() const { return contentOpacity_.value(); }
    const platform::Animated<double>& contentOpacityValue() const { return contentOpacity_; }
    bool isListeningForDismiss() const { return dismissCancellable_.has_value(); }
    int flipCount() const { return flipCount_; }

    // Called whenever what is drawn may have changed.
    platform::AnyCancellable onChange(std::function<void()> listener);

private:
    void reveal();
    void mediaChanged();
    void nowPlayingChanged(const std::optional<NowPlayingInfo>& info);
    void notify() { changed_.send(); }

    EventBus& bus_;
    platform::Scheduler& scheduler_;
    platform::Defaults& defaults_;
    platform::Screens& screens_;
    MiniPlayerMedia& media_;

    std::optional<QImage> displayedArtwork_;
    QString displayedArtworkKey_;
    platform::Animated<double> flipAngle_;
    bool isFlipping_ = false;
    platform::Animated<double> pillReveal_;
    platform::Animated<double> contentOpacity_;
    std::optional<platform::AnyCancellable> dismissCancellable_;

    bool isShown_ = false;
    bool isDismissed_ = false;
    int flipCount_ = 0;
    QString observedArtworkKey_;
    platform::PassthroughSubject<> changed_;
    platform::CancellableSet subscriptions_;
    platform::Lifetime lifetime_;
};
