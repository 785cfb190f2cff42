#include "overlay/island_placeholder_view.h"

#include "overlay/island_metrics.h"

#include <QPainter>
#include <QPainterPath>

IslandPlaceholderView::IslandPlaceholderView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

void IslandPlaceholderView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double pad = IslandMetrics::renderPadding;
    const QRectF shape = QRectF(rect()).adjusted(pad, pad, -pad, -pad);
    const double radius = shape.height() / 2;
    QPainterPath path;
    path.addRoundedRect(shape, radius, radius);
    painter.fillPath(path, Qt::black);
}
