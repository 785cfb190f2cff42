#include "test_island_view_fixture.h"

#include "core/l10n.h"

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

TEST_F(StylesTest, SplitPillHasTwoEqualPillsWithIconLeftAndTextRight) {
    const IslandLayout& l = show(QStringLiteral("splitPill"), QStringLiteral("Hello"));
    ASSERT_EQ(l.shapes.size(), 2u);
    EXPECT_EQ(l.shapes[0].rect, QRectF(3, 3, 150, 36));
    EXPECT_EQ(l.shapes[1].rect, QRectF(223, 3, 150, 36));
    EXPECT_EQ(l.shapes[0].cornerRadius, 18);
    EXPECT_EQ(l.frameSize, QSizeF(376, 42));
    EXPECT_EQ(l.icon.frame, QRectF(15, 11, 20, 20));
    EXPECT_EQ(l.icon.cornerRadius, 4);
    EXPECT_TRUE(l.icon.isDefault);  // nothing found for "Chat"
    ASSERT_EQ(l.lines.size(), 1u);
    EXPECT_EQ(l.lines[0].frame, QRectF(235, 14.5, 126, 13));
    EXPECT_EQ(l.lines[0].font.pixelSize(), 13);
    EXPECT_EQ(l.lines[0].font.weight(), QFont::DemiBold);
    EXPECT_EQ(l.lines[0].color, QColor(Qt::white));
}

TEST_F(StylesTest, SinglePillHoldsIconAndTextInOneCapsule) {
    const IslandLayout& l = show(QStringLiteral("singlePill"), std::nullopt);
    ASSERT_EQ(l.shapes.size(), 1u);
    EXPECT_EQ(l.shapes[0].rect, QRectF(3, 3, 320, 36));
    EXPECT_EQ(l.shapes[0].cornerRadius, 18);
    EXPECT_EQ(l.icon.frame, QRectF(17, 11, 20, 20));
    EXPECT_EQ(l.lines.at(0).text, QStringLiteral("Notification"));
    EXPECT_EQ(l.lines.at(0).frame, QRectF(47, 14.5, 262, 13));
    EXPECT_EQ(l.clip.boundingRect(), QRectF(3, 3, 320, 36));
}

TEST_F(StylesTest, LongMessageScrollsInsideTheRightPillOnly) {
    view().show();
    show(QStringLiteral("splitPill"), QStringLiteral("A message far too long for the little pill on the right"));
    const MarqueeText* text = view().marquee(QStringLiteral("text"));
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->isScrolling());
    EXPECT_EQ(text->containerWidth(), 126);
    EXPECT_LT(text->offset(), 0);

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

TEST_F(StylesTest, ShrinkIsAnchoredAtTheTopCentre) {
    show(QStringLiteral("singlePill"), QStringLiteral("Hi"));
    bus.overlayDismissSubject.send();
    at(scheduler().elapsed() + 3.0);
    ASSERT_NEAR(view().contentScaleX().value(), 0.35, 1e-3);
    const QImage image = render();  // 326 x 42
    int left = image.width(), right = -1, bottom = -1, top = image.height();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    // The 320 x 36 capsule at 3, 3 of the frame, scaled by 0.35 about (163, 0).
    EXPECT_NEAR(left, 163 - 0.35 * 160, 1.5);
    EXPECT_NEAR(right, 163 + 0.35 * 160, 1.5);
    EXPECT_NEAR(top, 0.35 * 3, 1.5);
    EXPECT_NEAR(bottom, 0.35 * 39, 1.5);
}

TEST_F(StylesTest, SplitPillInSmokeIsTintedAtNinetyPercentWithAClearGap) {
    setTint(QStringLiteral("smoke"));
    show(QStringLiteral("splitPill"), QStringLiteral("Hi"));
    const QImage image = render();
    ASSERT_EQ(image.size(), QSize(376, 42));
    const QColor pill = image.pixelColor(100, 21);  // left pill, right of the icon
    EXPECT_NEAR(pill.redF(), 0.2, 0.01);
    EXPECT_NEAR(pill.greenF(), 0.2, 0.01);
    EXPECT_NEAR(pill.blueF(), 0.22, 0.01);
    EXPECT_NEAR(pill.alphaF(), 0.9, 0.01);
    EXPECT_EQ(image.pixelColor(298, 6), pill);  // right pill, above the text
    for (int x = 155; x < 221; x += 5) EXPECT_EQ(qAlpha(image.pixel(x, 21)), 0) << x;  // the notch's gap
    EXPECT_EQ(qAlpha(image.pixel(3, 3)), 0);  // outside the capsule's end
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
    defaults().set(L10n::languageKey, L10n::languageJapanese);
    EXPECT_EQ(show(QStringLiteral("notchSheet"), std::nullopt).line(QStringLiteral("title"))->text,
              QStringLiteral("通知"));
}

TEST_F(StylesTest, NotchSheetLinesWithAndWithoutTheAppName) {
    const IslandLayout& three = show(QStringLiteral("notchSheet"), QStringLiteral("T") + kSep + QStringLiteral("B"));
    EXPECT_EQ(keys(), (QStringList{"appName", "title", "body"}));
    EXPECT_EQ(three.contentRect, QRectF(3, 3, 380, 72));
    EXPECT_EQ(three.line(QStringLiteral("appName"))->text, QStringLiteral("Chat"));
    const IslandTextLine* title = three.line(QStringLiteral("title"));
    EXPECT_EQ(title->font.pixelSize(), 13);
    EXPECT_EQ(title->frame.height(), 13);
    EXPECT_NEAR(three.line(QStringLiteral("body"))->color.alphaF(), 0.7, 1e-3);
    // 12 + 2 + 13 + 2 + 11 = 40 points of lines, centred in the card.
    EXPECT_EQ(three.line(QStringLiteral("appName"))->frame.top(), 3 + 36 - 20);
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
}

TEST_F(StylesTest, NotchSheetInBlackIsNinetyFivePercentBlackWithRoundedCorners) {
    const IslandLayout& l = show(QStringLiteral("notchSheet"), QStringLiteral("Hi"));
    ASSERT_EQ(l.shapes.size(), 1u);
    EXPECT_EQ(l.shapes[0].fill, QColor::fromRgbF(0, 0, 0, 0.95f));
    EXPECT_EQ(l.shapes[0].cornerRadius, 18);
    EXPECT_FALSE(l.glass);

    const QImage image = render();
    EXPECT_NEAR(qAlpha(image.pixel(300, 10)), 0.95 * 255, 2);
    EXPECT_EQ(qAlpha(image.pixel(4, 4)), 0);
    EXPECT_EQ(qAlpha(image.pixel(381, 75)), 0);
}

TEST_F(StylesTest, LiquidGlassCardUsesTheGlassWithSquareTopCorners) {
    setShowAppName(false);
    const IslandLayout& l = show(QStringLiteral("liquidGlass"), QStringLiteral("T") + kSep + QStringLiteral("B"));
    ASSERT_TRUE(l.glass);
    EXPECT_EQ(l.glass->cornerRadius, 20);
    EXPECT_EQ(l.glass->tintColor, QColor::fromRgbF(0, 0, 0));
    EXPECT_FALSE(l.glass->accentColor);
    EXPECT_FALSE(l.glass->topCornersRounded);
    ASSERT_TRUE(l.iconGlow);
    EXPECT_EQ(l.iconGlow->color, QColor::fromRgbF(1, 1, 1, 0.15f));
    EXPECT_EQ(l.iconGlow->frame.size(), QSizeF(48, 48));
    EXPECT_EQ(l.icon.frame.size(), QSizeF(40, 40));
    EXPECT_EQ(l.icon.cornerRadius, 10);
    EXPECT_EQ(l.contentRect, QRectF(3, 3, 400, 64));
    const IslandTextLine* title = l.line(QStringLiteral("title"));
    EXPECT_EQ(title->font.pixelSize(), 15);
    EXPECT_EQ(title->font.weight(), QFont::Bold);
    ASSERT_TRUE(title->shadow);
    EXPECT_EQ(l.line(QStringLiteral("body"))->font.weight(), QFont::Medium);

    const QImage image = render();
    ASSERT_EQ(image.size(), QSize(406, 70));
    // Top corners square: the card reaches its very corner pixels.
    EXPECT_GT(qAlpha(image.pixel(3, 3)), 200);
    EXPECT_GT(qAlpha(image.pixel(402, 3)), 200);
    // Bottom corners rounded off: only the soft shadow shows there.
    EXPECT_LT(qAlpha(image.pixel(4, 65)), 128);
    EXPECT_LT(qAlpha(image.pixel(401, 65)), 128);
    EXPECT_GT(qAlpha(image.pixel(203, 65)), 200);
}

TEST_F(StylesTest, LiquidGlassTakesTheAccentColourOfTheIcon) {
    OverlayState s = visible(QStringLiteral("Hi"), QStringLiteral("Paint"));
    s.appIconData = png(128, 128, QColor(20, 40, 220));
    setStyle(QStringLiteral("liquidGlass"));
    view();
    send(s);
    const IslandLayout& l = view().layout();
    ASSERT_TRUE(l.glass->accentColor);
    EXPECT_EQ(l.glass->glassColor(), *view().accentColor());
    EXPECT_EQ(l.iconGlow->color.rgb(), view().accentColor()->rgb());
    EXPECT_FALSE(l.icon.isDefault);
}

}  // namespace
}  // namespace overlaytest
