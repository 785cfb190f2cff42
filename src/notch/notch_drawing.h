#pragma once

// What a notch view draws, as a list of plain items in painting order: the views build it from
// their state, paint it, and tests read it by key instead of looking at pixels. Coordinates are
// the view's own, in points.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <vector>

class QPainter;

// The system font of the notch views at `size` points; `rounded` asks for the rounded design,
// which the desktop's sans face stands in for. Japanese falls back to a face that has it.
QFont notchFont(double size, QFont::Weight weight, bool rounded = false);

// White at `opacity`, the colour of nearly every text on the black notch surface.
inline QColor whiteAt(double opacity) { return QColor::fromRgbF(1, 1, 1, static_cast<float>(opacity)); }

struct DrawItem {
    enum class Kind {
        fill,    // `frame` filled with `color`, corners rounded by `cornerRadius`
        stroke,  // the same outline stroked `lineWidth` wide
        text,    // `text` in `font` and `color`, laid into `frame` with `alignment`
        symbol,  // the system symbol `symbol` as tall as the frame, scaled by `scale` about its centre
        image,   // `image` filling `frame` (aspect kept, excess cut), corners rounded by `cornerRadius`
        shadow,  // a soft shadow of `frame`'s rounded shape: `color`, blur `lineWidth`
    };

    Kind kind = Kind::fill;
    QString key;
    QRectF frame;
    QColor color;
    double cornerRadius = 0;
    double lineWidth = 0;
    QString text;
    QFont font;
    int alignment = 0;  // Qt::Alignment of a text
    int maxLines = 1;   // a text's line limit; the last line is cut at its end with an ellipsis
    QString symbol;
    double scale = 1;
    QImage image;
    double opacity = 1;  // multiplies the item's colour
};

struct DrawList {
    std::vector<DrawItem> items;

    void add(DrawItem item) { items.push_back(std::move(item)); }
    // The first item under `key`; nullptr when there is none.
    const DrawItem* find(const QString& key) const;
    bool has(const QString& key) const { return find(key) != nullptr; }
    // Every item's key, in painting order.
    QStringList keys() const;
    // The texts of the text items, in painting order.
    QStringList texts() const;
    // Appends `other`'s items moved by (dx, dy).
    void append(const DrawList& other, double dx, double dy);

    void paint(QPainter& painter) const;
};

// Items of the common kinds; every field not named keeps its default.
DrawItem textItem(const QString& key, const QString& text, const QRectF& frame, const QFont& font, const QColor& color,
                  int alignment = Qt::AlignLeft | Qt::AlignVCenter, int maxLines = 1);
DrawItem symbolItem(const QString& key, const QString& name, const QRectF& frame, const QColor& color);
// A fill or stroke of `frame`'s rounded shape.
DrawItem shapeItem(DrawItem::Kind kind, const QString& key, const QRectF& frame, const QColor& color, double radius,
                   double lineWidth = 0);
inline DrawItem fillItem(const QString& key, const QRectF& frame, const QColor& color, double radius) {
    return shapeItem(DrawItem::Kind::fill, key, frame, color, radius);
}

// The height of one line of `font`, rounded up to whole points.
double lineHeight(const QFont& font);
// The advance width of `text` in `font`.
double textWidth(const QFont& font, const QString& text);
