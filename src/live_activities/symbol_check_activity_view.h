#pragma once

// The shape shared by the activities that only confirm something happened: a symbol left of the
// notch pops in, then a check mark right of it fades in. What they show is fixed; they read
// nothing from the bus.

#include "live_activities/live_activity_view.h"
#include "platform/animation/animation.h"

#include <QColor>
#include <QRectF>
#include <QString>

class SymbolCheckActivityView : public LiveActivityView {
    Q_OBJECT

public:
    static constexpr double iconFontSize = 14;
    static constexpr double startScale = 0.5;
    // The check mark waits for the symbol's pop.
    static constexpr double checkDelay = 0.2;
    static constexpr double checkFadeDuration = 0.3;

    struct Look {
        QString leftSymbol;
        QColor leftColor;
        QString rightSymbol;
        QColor rightColor;
    };

    // What the cells show now.
    struct ViewModel {
        QString leftSymbol;
        QColor leftColor;
        QRectF leftFrame;  // band coordinates, before the scale (about its centre)
        double iconScale = 0;
        QString rightSymbol;
        QColor rightColor;
        QRectF rightFrame;
        double rightOpacity = 0;
    };
    ViewModel viewModel() const;

    const platform::Animated<double>& iconScale() const { return iconScale_; }

protected:
    SymbolCheckActivityView(Look look, const LiveActivityEnvironment& environment, QWidget* parent);

    // The right symbol's opacity.
    const platform::Animated<double>& secondState() const { return secondState_; }

    void paintCells(QPainter& painter) const override;
    void didAppear() override;
    void didDismiss() override;

private:
    const Look look_;
    platform::Animated<double> iconScale_;
    platform::Animated<double> secondState_;
};

// A file has arrived by AirDrop.
class AirDropActivityView final : public SymbolCheckActivityView {
    Q_OBJECT

public:
    explicit AirDropActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});
    const platform::Animated<double>& waveOpacity() const { return secondState(); }
};

// A screenshot has been saved.
class ScreenshotActivityView final : public SymbolCheckActivityView {
    Q_OBJECT

public:
    explicit ScreenshotActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});
    const platform::Animated<double>& flashOpacity() const { return secondState(); }
};
