#pragma once

// The frame every activity view lays out: a left cell, a black gap over the notch and a right
// cell in one row, on black, clipped to the notch-hugging outline, with a black hairline laid
// over the top edge (it hides the seam against the menu bar).

#include "core/notch_info.h"
#include "platform/screens/screens.h"
#include "platform/storage/defaults.h"

#include <QPainterPath>
#include <QRectF>
#include <QSizeF>

#include <functional>

class QPainter;

struct ActivityBand {
    static constexpr double cellWidth = 48;
    static constexpr double topLineHeight = 1;
    static constexpr double topLineInset = 6;

    double notchWidth = 180;
    double pillHeight = 32;

    QSizeF size() const { return {cellWidth + notchWidth + cellWidth, pillHeight}; }
    QRectF bounds() const { return {{0, 0}, size()}; }
    QRectF leftCell() const { return {0, 0, cellWidth, pillHeight}; }
    QRectF notchGap() const { return {cellWidth, 0, notchWidth, pillHeight}; }
    QRectF rightCell() const { return {cellWidth + notchWidth, 0, cellWidth, pillHeight}; }
    QRectF topLine() const { return {topLineInset, 0, size().width() - 2 * topLineInset, topLineHeight}; }

    // The radius as the settings give it now: a stored value above 0, else 16, clamped to 8 ... 24.
    static double cornerRadius(platform::Defaults& defaults);
    // The notch of the first screen, or of the main screen when the list is empty.
    static NotchInfo notchInfo(const platform::Screens& screens);

    QPainterPath clipPath(double cornerRadius, const NotchInfo& notchInfo) const;

    // Fills the band black inside the outline, lets `cells` draw the row's content there (band
    // coordinates), then lays the hairline over the top edge.
    void paint(QPainter& painter, double cornerRadius, const NotchInfo& notchInfo,
               const std::function<void(QPainter&)>& cells) const;
};
