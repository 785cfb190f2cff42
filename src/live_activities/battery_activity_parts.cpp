#include "live_activities/battery_activity_parts.h"

#include "notch/notch_drawing.h"
#include "platform/symbols/symbols.h"

#include <QPainter>

#include <algorithm>

namespace BatteryActivityParts {

QColor standardRed() { return QColor(255, 59, 48); }
QColor standardOrange() { return QColor(255, 149, 0); }
QColor standardYellow() { return QColor(255, 204, 0); }

QRectF symbolFrame(const QPointF& centre, double fontSize) {
    // A symbol's glyph box is a little taller than its font size.
    const double side = fontSize * 1.15;
    QRectF frame(0, 0, side, side);
    frame.moveCenter(centre);
    return frame;
}

void paintSymbol(QPainter& painter, const QString& name, const QRectF& frame, const QColor& color, double opacity,
                 double scale) {
    if (opacity <= 0 || scale <= 0) return;
    painter.save();
    const QPointF centre = frame.center();
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);
    painter.setOpacity(painter.opacity() * std::min(opacity, 1.0));
    platform::Symbols::draw(painter, name, frame, color);
    painter.restore();
}

void paintLevelWithPercent(QPainter& painter, const QRectF& cell, int level) {
    const QString number = QString::number(level);
    const QString percent = QStringLiteral("%");
    const QFont numberFont = notchFont(13, QFont::Bold, true);
    const QFont percentFont = notchFont(8, QFont::DemiBold, true);
    const double numberWidth = textWidth(numberFont, number);
    const double percentWidth = textWidth(percentFont, percent);
    const double left = cell.center().x() - (numberWidth + percentWidth) / 2;
    painter.save();
    painter.setFont(numberFont);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(left, cell.top(), numberWidth, cell.height()), Qt::AlignLeft | Qt::AlignVCenter, number);
    painter.setFont(percentFont);
    painter.setPen(whiteAt(0.6));
    painter.drawText(QRectF(left + numberWidth, cell.top(), percentWidth, cell.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     percent);
    painter.restore();
}

}  // namespace BatteryActivityParts
