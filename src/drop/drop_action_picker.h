#pragma once

// The four drop actions as a two-column grid of buttons, revealed one after another; a tap hands
// the action and every dropped file to the drop service. The picker never goes away by itself.

#include "core/drop_action.h"
#include "notch/notch_drawing.h"
#include "platform/animation/animation.h"
#include "platform/runtime/dispatch.h"

#include <QList>
#include <QSet>
#include <QUrl>
#include <QWidget>

#include <array>
#include <functional>

class DropActionPicker : public QWidget {
    Q_OBJECT

public:
    using Perform = std::function<void(DropAction, const QList<QUrl>&)>;

    static constexpr double topSpacer = 28;
    static constexpr double horizontalPadding = 20;
    static constexpr double columnSpacing = 12;
    static constexpr double rowSpacing = 10;
    static constexpr double buttonHeight = 56;
    static constexpr double revealStep = 0.06;

    // Without `perform`, taps go to the shared drop service.
    explicit DropActionPicker(QList<QUrl> urls, QWidget* parent = nullptr, Perform perform = {},
                              platform::Scheduler& scheduler = platform::Scheduler::shared());

    const QList<QUrl>& urls() const { return urls_; }
    const QSet<DropAction>& visibleItems() const { return visibleItems_; }
    static QString symbolName(DropAction action);

    // Where each button sits, in the picker's own coordinates (before its reveal scale).
    QRectF buttonFrame(DropAction action) const;
    // The button's reveal state now: scale 0.6 to 1 and opacity 0 to 1.
    double buttonScale(DropAction action) const;
    double buttonOpacity(DropAction action) const;
    // One button's label, at full size, in picker coordinates.
    DrawList buttonLayout(DropAction action) const;
    // Performs the action of the button under `point`, if any.
    void tap(const QPointF& point);

    // Inserts every action at once; their springs start 0.06 s apart.
    void staggerAppearance();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    static int indexOf(DropAction action);

    QList<QUrl> urls_;
    Perform perform_;
    platform::Scheduler& scheduler_;
    QSet<DropAction> visibleItems_;
    std::array<std::unique_ptr<platform::Animated<double>>, 4> reveal_;
    std::vector<platform::AnyCancellable> redraws_;
};
