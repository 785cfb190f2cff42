#pragma once

// Drawing the card's pictures, and the outlines in them, without handing the work to other threads.

#include <QBrush>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRectF>

// Draws `layer` over `frame` as QPainter::drawPixmap does, with the same pixels, without handing
// the work to other threads: placed at whole device pixels without a scale it is copied pixel for
// pixel, and through a scale it is drawn in bands of device rows. Qt's raster engine splits a
// smooth blend of 96 spans or more across its thread pool and waits for it, and a card drawn
// through a scale has about three spans a row (its two soft edges and its middle).
void drawLayer(QPainter& painter, const QRectF& frame, const QPixmap& layer);

// Fills `path` as QPainter::fillPath does, with the same pixels, in bands of device rows, so an
// outline as tall as a card is filled on this thread too.
void fillInBands(QPainter& painter, const QPainterPath& path, const QBrush& brush);
