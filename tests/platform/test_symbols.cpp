#include "platform/symbols.h"
#include "support/log_capture.h"

#include <QPainter>
#include <QRawFont>

#include <gtest/gtest.h>

using platform::Symbols;

TEST(SymbolsTest, EveryNameTheAppDrawsIsInTheTable) {
    const char* used[] = {
        "airplayaudio",
        "airpodsmax",
        "airpodspro",
        "app.badge",
        "app.fill",
        "applewatch",
        "arrow.down.doc",
        "arrow.down.doc.fill",
        "arrow.triangle.2.circlepath",
        "backward.fill",
        "battery.0percent",
        "battery.25percent",
        "battery.50percent",
        "battery.75percent",
        "battery.100percent",
        "battery.100.bolt",
        "bell.and.waves.left.and.right",
        "bell.badge",
        "bell.fill",
        "bolt.fill",
        "calendar",
        "calendar.badge.clock",
        "camera.fill",
        "checklist",
        "checkmark.circle.fill",
        "clock.arrow.circlepath",
        "cloud.bolt.fill",
        "cloud.bolt.rain.fill",
        "cloud.drizzle.fill",
        "cloud.fill",
        "cloud.fog.fill",
        "cloud.hail.fill",
        "cloud.heavyrain.fill",
        "cloud.moon.fill",
        "cloud.rain.fill",
        "cloud.sleet.fill",
        "cloud.snow.fill",
        "cloud.sun.fill",
        "display",
        "dot.radiowaves.left.and.right",
        "film",
        "folder.badge.plus",
        "forward.fill",
        "gear",
        "globe",
        "headphones",
        "hifispeaker.fill",
        "keyboard",
        "light.max",
        "link",
        "lock.fill",
        "lock.open.fill",
        "moon.fill",
        "moon.stars.fill",
        "music.note",
        "music.note.list",
        "oval",
        "paintbrush",
        "paintbrush.pointed",
        "pause.fill",
        "photo",
        "play.fill",
        "play.rectangle",
        "powerplug",
        "repeat",
        "shuffle",
        "slider.horizontal.3",
        "sparkles.rectangle.stack",
        "speaker.slash.fill",
        "speaker.wave.1.fill",
        "speaker.wave.2.fill",
        "speaker.wave.3.fill",
        "square.stack.3d.up",
        "sun.max.fill",
        "sun.min",
        "sun.min.fill",
        "text.alignleft",
        "tray.full",
        "waveform",
    };
    for (const char* name : used) EXPECT_TRUE(Symbols::glyph(QString::fromLatin1(name)).has_value()) << name;
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
