#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

class QPainter;

namespace platform {

// The system symbol names the app uses, drawn from the Material Design Icons font. A name
// outside the table draws nothing and is logged once.
class Symbols {
public:
    static QString fontPath();

    // The glyph's codepoint; absent for a name outside the table.
    static std::optional<char32_t> glyph(const QString& name);
    // Every name in the table, sorted.
    static QStringList names();
    // The font's family once it is loaded; absent when the font cannot be loaded.
    static std::optional<QString> fontFamily();
    // Whether `name` can be drawn: it is in the table and the font loaded.
    static bool canDraw(const QString& name);

    // Draws the glyph centred in `rect`, as large as its height.
    static void draw(QPainter& painter, const QString& name, const QRectF& rect, const QColor& color);
    // The glyph alone on a transparent image of `size` pixels; a null image when it cannot be drawn.
    static QImage image(const QString& name, const QSize& size, const QColor& color);
};

}  // namespace platform
