#pragma once

// What the charging, low-battery and power-disconnect activities draw alike: their colours, a
// symbol at a font size, and a level as a number with a small percent sign.

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;

namespace BatteryActivityParts {

QColor standardRed();
QColor standardOrange();
QColor standardYellow();

// The frame of a symbol drawn at `fontSize` points, centred on `centre`.
QRectF symbolFrame(const QPointF& centre, double fontSize);
// The symbol `name` in `color` at `opacity`, scaled by `scale` about the frame's centre.
void paintSymbol(QPainter& painter, const QString& name, const QRectF& frame, const QColor& color, double opacity,
                 double scale);

// The number (13 points, bold) and a small "%" (8 points, semibold, faint) side by side, centred in `cell`.
void paintLevelWithPercent(QPainter& painter, const QRectF& cell, int level);

}  // namespace BatteryActivityParts
