#include "drawn_pixels.h"
#include "test_island_view_fixture.h"

#include "core/l10n.h"
#include "support/golden_image.h"

namespace overlaytest {
namespace {

const QString kSep = QStringLiteral(" \u2022 ");

class StylesTest : public IslandViewTest {
protected:
    void SetUp() override { defaults().set(L10n::languageKey, L10n::languageEnglish); }

    // Shows `message` in `style` and lets the growth spring settle.
    const IslandLayout& show(const QString& style, std::optional<QString> message,
                             std::optional<QString> source = QStringLiteral("Chat")) {
        setStyle(style);
        send(visible(std::move(message), std::move(source)));
        at(scheduler().elapsed() + 3.0);
        return view().layout();
    }
    QStringList keys() {
        QStringList result;
        for (const IslandTextLine& l : view().layout().lines) result << l.key;
        return result;
    }
};

TEST_F(StylesTest, PillsHoldTheIconAndTheTextAtTheirLeadingEdges) {
    const IslandLayout& split = show(QStringLiteral("splitPill"), QStringLiteral("Hello"));
    ASSERT_EQ(split.shapes.size(), 2u);
    EXPECT_EQ(split.shapes[0].rect, QRectF(3, 3, 150, 36));
    EXPECT_EQ(split.shapes[1].rect, QRectF(223, 3, 150, 36));  // the same width, 70 apart
    EXPECT_EQ(split.shapes[1].cornerRadius, 18);
    EXPECT_EQ(split.icon.frame, QRectF(15, 11, 20, 20));
    EXPECT_TRUE(split.icon.isDefault);  // nothing found for "Chat"
    ASSERT_EQ(split.lines.size(), 1u);  // the text, in the right pill only
    EXPECT_EQ(split.lines[0].frame, QRectF(235, 14.5, 126, 13));
    EXPECT_EQ(split.lines[0].font.weight(), QFont::DemiBold);

    const IslandLayout& single = show(QStringLiteral("singlePill"), std::nullopt);
    EXPECT_EQ(single.lines.at(0).frame, QRectF(47, 14.5, 262, 13));  // after 14 + 20 + 10 points
}

TEST_F(StylesTest, LongMessageScrollsInsideTheRightPillOnly) {
    view().show();
    show(QStringLiteral("splitPill"), QStringLiteral("A message far too long for the little pill on the right"));
    const MarqueeText* text = view().marquee(QStringLiteral("text"));
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->isScrolling());
    EXPECT_EQ(text->containerWidth(), 126);
    EXPECT_LT(text->offset(), 0);
    // The moving row is drawn apart from the card's still picture: its pixels follow the pass.
    const QImage during = rendered(view());
    at(scheduler().elapsed() + 0.5);
    EXPECT_NE(rendered(view()), during);

    // A hidden view's pending steps do nothing; showing it again measures afresh.
    view().hide();
    EXPECT_FALSE(text->isScrolling());
    at(scheduler().elapsed() + 20);
    EXPECT_EQ(text->offset(), 0);
    view().show();
    EXPECT_TRUE(text->isScrolling());

    send(visible(QStringLiteral("Short")));
    at(scheduler().elapsed() + 0.1);
    EXPECT_FALSE(text->isScrolling());
    view().hide();
}

// Each style as it looks in each mode whose size differs, in a tint, and shrunk away about the
// top centre after a dismiss.
TEST_F(StylesTest, EachStyleLooksAsItsGolden) {
    struct Case {
        const char* style;
        IslandMode mode;
        const char* tint;
        bool dismissed;
    };
    const Case cases[] = {
        {"singlePill", IslandMode::peek, "black", false},    {"singlePill", IslandMode::expanded, "black", false},
        {"singlePill", IslandMode::stacked, "black", false}, {"singlePill", IslandMode::expanded, "black", true},
        {"splitPill", IslandMode::peek, "black", false},     {"splitPill", IslandMode::expanded, "smoke", false},
        {"splitPill", IslandMode::stacked, "black", false},  {"notchSheet", IslandMode::peek, "black", false},
        {"notchSheet", IslandMode::expanded, "black", false}, {"liquidGlass", IslandMode::peek, "black", false},
        {"liquidGlass", IslandMode::expanded, "black", false},
    };
    for (const Case& c : cases) {
        setStyle(QString::fromLatin1(c.style));
        setTint(QString::fromLatin1(c.tint));
        send(visible(QStringLiteral("Build finished") + kSep + QStringLiteral("All 12 targets are up to date"),
                     QStringLiteral("Chat"), c.mode));
        at(scheduler().elapsed() + 3.0);
        if (c.dismissed) {
            bus.overlayDismissSubject.send();
            at(scheduler().elapsed() + 3.0);
        }
        view().resize(view().sizeHint());
        EXPECT_GOLDEN(QStringLiteral("%1-%2-%3%4")
                          .arg(QLatin1String(c.style), caseName(c.mode), QLatin1String(c.tint),
                               c.dismissed ? QStringLiteral("-dismissed") : QString()),
                      view());
    }
}

TEST_F(StylesTest, CardsSplitTheMessageIntoTitleAndBody) {
    struct Case {
        std::optional<QString> message;
        QString title;
        std::optional<QString> body;
    };
    const Case cases[] = {
        {QStringLiteral("X") + kSep + QStringLiteral("Y"), QStringLiteral("X"), QStringLiteral("Y")},
        {QStringLiteral("X") + kSep + QStringLiteral("Y") + kSep + QStringLiteral("Z"), QStringLiteral("X"),
         QStringLiteral("Y") + kSep + QStringLiteral("Z")},
        {QStringLiteral("X") + kSep, QStringLiteral("X"), QString()},
        {QStringLiteral("X\u2022Y"), QStringLiteral("X\u2022Y"), std::nullopt},
        {std::nullopt, QStringLiteral("Notification"), std::nullopt},
        {QString(), QStringLiteral("Notification"), std::nullopt},
    };
    for (const QString& style : {QStringLiteral("notchSheet"), QStringLiteral("liquidGlass")}) {
        for (const Case& c : cases) {
            const std::string context = style.toStdString() + " " + c.message.value_or("<none>").toStdString();
            const IslandLayout& l = show(style, c.message);
            ASSERT_TRUE(l.line(QStringLiteral("title"))) << context;
            EXPECT_EQ(l.line(QStringLiteral("title"))->text, c.title) << context;
            const IslandTextLine* body = l.line(QStringLiteral("body"));
            EXPECT_EQ(body != nullptr, c.body.has_value()) << context;
            if (body && c.body) {
                EXPECT_EQ(body->text, *c.body) << context;
            }
        }
    }
}

TEST_F(StylesTest, AHugeMessageIsLaidOutOnlyAsFarAsAnyStyleShows) {
    view().show();
    const QString huge = QStringLiteral("Log") + kSep + QString(400'000, QLatin1Char('x'));
    for (const QString& style : {QStringLiteral("singlePill"), QStringLiteral("splitPill"), QStringLiteral("notchSheet"),
                                 QStringLiteral("liquidGlass")}) {
        const IslandLayout& l = show(style, huge);
        ASSERT_FALSE(l.lines.empty()) << style.toStdString();
        for (const IslandTextLine& line : l.lines) {
            EXPECT_LE(line.text.size(), IslandView::maxMessageLength) << style.toStdString() << " " << line.key.toStdString();
            if (const MarqueeText* marquee = view().marquee(line.key)) {
                EXPECT_EQ(marquee->text(), line.text);
            }
        }
    }
    view().hide();
}

TEST_F(StylesTest, NotchSheetLinesWithAndWithoutTheAppName) {
    const IslandLayout& three = show(QStringLiteral("notchSheet"), QStringLiteral("T") + kSep + QStringLiteral("B"));
    EXPECT_EQ(keys(), (QStringList{"appName", "title", "body"}));
    EXPECT_EQ(three.line(QStringLiteral("appName"))->text, QStringLiteral("Chat"));
    EXPECT_EQ(three.line(QStringLiteral("title"))->frame.height(), 13);
    EXPECT_NEAR(three.line(QStringLiteral("body"))->color.alphaF(), 0.7, 1e-3);
    // 12 + 2 + 13 + 2 + 11 = 40 points of lines, centred in the card. The lines take all the width
    // beside the icon; the trailing spacer keeps only its 4 points: 380 - 2 × 14 - 34 - 2 × 10 - 4.
    EXPECT_EQ(three.line(QStringLiteral("appName"))->frame.top(), 3 + 36 - 20);
    EXPECT_EQ(three.line(QStringLiteral("title"))->frame, QRectF(61, 33, 294, 13));
    EXPECT_EQ(three.icon.frame, QRectF(17, 22, 34, 34));
    EXPECT_EQ(three.icon.cornerRadius, 8);

    setShowAppName(false);
    const IslandLayout& two = show(QStringLiteral("notchSheet"), QStringLiteral("Only a title"));
    EXPECT_EQ(keys(), QStringList{"title"});  // a spacer takes the body's place
    EXPECT_EQ(two.contentRect.height(), 58);
    EXPECT_EQ(two.line(QStringLiteral("title"))->frame.top(), 3 + 12);  // pushed up by the spacer
    EXPECT_EQ(two.line(QStringLiteral("title"))->font.pixelSize(), 14);

    setShowAppName(true);
    const IslandLayout& noSource = show(QStringLiteral("notchSheet"), QStringLiteral("Hi"), std::nullopt);
    EXPECT_EQ(keys(), (QStringList{"appName", "title"}));
    EXPECT_EQ(noSource.line(QStringLiteral("appName"))->text, QStringLiteral("Notification"));
    defaults().set(L10n::languageKey, L10n::languageJapanese);  // the fallback follows the language
    EXPECT_EQ(show(QStringLiteral("notchSheet"), QStringLiteral("Hi"), std::nullopt).line(QStringLiteral("appName"))->text,
              QStringLiteral("通知"));
}

TEST_F(StylesTest, LiquidGlassCardUsesTheGlassWithSquareTopCorners) {
    setShowAppName(false);
    const IslandLayout& l = show(QStringLiteral("liquidGlass"), QStringLiteral("T") + kSep + QStringLiteral("B"));
    ASSERT_TRUE(l.glass);
    EXPECT_EQ(l.glass->cornerRadius, 20);
    EXPECT_EQ(l.glass->tintColor, QColor::fromRgbF(0, 0, 0));
    EXPECT_FALSE(l.glass->accentColor);
    EXPECT_FALSE(l.glass->topCornersRounded);
    EXPECT_EQ(l.iconGlow->color, QColor::fromRgbF(1, 1, 1, 0.15f));  // no accent: white
    EXPECT_TRUE(l.icon.isDefault);
    EXPECT_EQ(l.contentRect, QRectF(3, 3, 400, 64));
    EXPECT_EQ(l.line(QStringLiteral("title"))->frame, QRectF(79, 19.5, 292, 15));  // 400 - 2 × 16 - 48 - 2 × 12 - 4
    EXPECT_TRUE(l.line(QStringLiteral("title"))->shadow);

}

}  // namespace
}  // namespace overlaytest
