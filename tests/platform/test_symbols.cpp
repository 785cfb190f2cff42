#include "platform/symbols/symbols.h"
#include "support/log_capture.h"

#include <QPainter>
#include <QRawFont>

#include <gtest/gtest.h>

using platform::Symbols;

TEST(SymbolsTest, NamesMatchExactly) {
    EXPECT_EQ(Symbols::glyph(QStringLiteral("bell.fill")), char32_t(0xF09A));
    EXPECT_FALSE(Symbols::glyph(QStringLiteral("Bell.Fill")).has_value());
}

TEST(SymbolsTest, EveryGlyphExistsInTheFont) {
    ASSERT_TRUE(Symbols::fontFamily().has_value());
    const QRawFont font(Symbols::fontPath(), 16);
    ASSERT_TRUE(font.isValid());
    for (const QString& name : Symbols::names()) {
        EXPECT_TRUE(font.supportsCharacter(uint(*Symbols::glyph(name)))) << name.toStdString();
    }
}

TEST(SymbolsTest, UnknownNameDrawsNothingAndIsLoggedOnce) {
    testsupport::LogCapture log;
    QImage canvas(32, 32, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    const QImage blank = canvas;
    {
        QPainter painter(&canvas);
        Symbols::draw(painter, QStringLiteral("no.such.symbol"), QRectF(0, 0, 32, 32), Qt::white);
        Symbols::draw(painter, QStringLiteral("no.such.symbol"), QRectF(0, 0, 32, 32), Qt::white);
    }
    EXPECT_EQ(canvas, blank);
    EXPECT_TRUE(Symbols::image(QStringLiteral("no.such.symbol"), QSize(16, 16), Qt::white).isNull());
    EXPECT_EQ(log.texts(), QStringList{QStringLiteral("Symbols: Unknown symbol name 'no.such.symbol'")});

    const QImage bell = Symbols::image(QStringLiteral("bell.fill"), QSize(24, 20), Qt::white);
    EXPECT_EQ(bell.size(), QSize(24, 20));
    EXPECT_TRUE(Symbols::canDraw(QStringLiteral("bell.fill")));
}
