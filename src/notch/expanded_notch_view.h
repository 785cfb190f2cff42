#pragma once

// The opened notch: a black surface that grows out of the notch into the full player surface
// (620 points wide, 143 below the notch band), holds the expanded player, and shrinks back into
// the notch when the window controller asks for a dismiss. The surface is clipped to the
// notch-hugging outline and always black.
//
// Hosting: make it the content for the `expanded` mode, sized to the whole notch panel (620 x 175,
// or wider when the notch band is taller) with the surface hanging from its top edge:
//     auto* view = new ExpandedNotchView(panelContent);   // shared services
//     view->setGeometry(panelContent->rect());
//     view->show();                                        // plays the opening
// A new instance plays the opening each time it is shown. To close it, send a dismiss request
// (ExpandedDismissHandshake::shared().requestDismiss(done) ties `done` to this very request);
// the answer comes 0.55 s after the request, whether or not the view still exists.

#include "core/notch_info.h"
#include "notch/expanded_player_view.h"
#include "notch/notch_aware_shape.h"
#include "notch/notch_view_services.h"
#include "platform/animation/animation.h"

#include <QPainterPath>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

// What the surface looks like now, for the painter and for tests.
struct ExpandedNotchModel {
    NotchInfo notchInfo;
    QSizeF baseSize;     // the notch band the surface grows from
    QSizeF currentSize;  // at the current progress
    QRectF surface;      // in view coordinates, centred, hanging from the top
    double expandProgress = 0;
    double contentOpacity = 0;
};

class ExpandedNotchView : public QWidget, public NotchOutlinedView {
    Q_OBJECT

public:
    static constexpr double cornerRadius = 26;
    static constexpr double expandedWidth = 620;
    static constexpr double expandedHeight = 143;
    static constexpr double minimumNotchWidth = 180;
    static constexpr double noNotchWidth = 200;
    static constexpr double bandHeight = 32;
    static constexpr double topLineInset = 6;

    explicit ExpandedNotchView(QWidget* parent = nullptr, NotchViewServices services = {});
    ~ExpandedNotchView() override;

    // The notch of the first screen (the main screen when the list is empty; a notch-less band
    // of 200 x 32 when there is no screen at all).
    NotchInfo notchInfo() const;
    QSizeF baseSize() const;
    // The surface's size at `progress` (0: the notch band, 1: fully open).
    QSizeF surfaceSize(double progress) const;

    ExpandedNotchModel model() const;
    // The surface as it grows or shrinks, with the line over its top edge.
    QPainterPath drawnOutline() const override;
    const platform::Animated<double>& expandProgress() const { return expandProgress_; }
    const platform::Animated<double>& contentOpacity() const { return contentOpacity_; }
    ExpandedPlayerView* player() const { return player_; }

    // The size of the panel that hosts the fully open surface.
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void open();
    void dismiss();
    void placePlayer();

    NotchViewServices services_;
    platform::Animated<double> expandProgress_;
    platform::Animated<double> contentOpacity_;
    ExpandedPlayerView* player_ = nullptr;
    platform::CancellableSet subscriptions_;
};
