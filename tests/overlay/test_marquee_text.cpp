#include "overlay/marquee_text.h"

#include "support/fixtures.h"

#include <QImage>
#include <QPainter>

#include <memory>

namespace {

// Ten points per character, whatever the font.
double tenPerCharacter(const QString& text, const QFont&) { return text.size() * 10.0; }

class MarqueeTextTest : public testsupport::QuillvexTest {
protected:
    std::unique_ptr<MarqueeText> make(const QString& text, double container) {
        auto marquee = std::make_unique<MarqueeText>(text, QFont(), Qt::white, 30.0, scheduler(), &tenPerCharacter);
        marquee->setAvailableWidth(container);
        return marquee;
    }
    // Advances to the absolute virtual time `t`.
    void at(double t) { scheduler().advance(t - scheduler().elapsed()); }
};

const QString k27 = QString(27, QLatin1Char('x'));  // 270 points wide

TEST_F(MarqueeTextTest, WideTextRunsTheFullCycle) {
    auto marquee = make(k27, 200);
    marquee->appear();
    EXPECT_EQ(marquee->textWidth(), 270);
    EXPECT_EQ(marquee->containerWidth(), 200);
    EXPECT_TRUE(marquee->isScrolling());

    at(1.49);
    EXPECT_EQ(marquee->offset(), 0);
    at(1.5);
    EXPECT_EQ(marquee->offset(), 0);
    EXPECT_TRUE(marquee->isAnimating());
    at(6.5);
    EXPECT_NEAR(marquee->offset(), -150, 1e-6);
    at(11.5);
    EXPECT_NEAR(marquee->offset(), -300, 1e-6);
    at(12.49);  // hold at the end of the pass
    EXPECT_NEAR(marquee->offset(), -300, 1e-6);
    at(12.5);
    EXPECT_EQ(marquee->offset(), 0);
    at(12.59);
    EXPECT_EQ(marquee->offset(), 0);
    EXPECT_FALSE(marquee->isAnimating());
    at(12.6);
    EXPECT_TRUE(marquee->isAnimating());
    at(17.6);  // the second pass, 11.1 s after the first
    EXPECT_NEAR(marquee->offset(), -150, 1e-6);
    ASSERT_TRUE(marquee->animatedOffset().lastAnimation());
    EXPECT_EQ(marquee->animatedOffset().lastAnimation()->animation, platform::Animation::linear(10.0));
}

TEST_F(MarqueeTextTest, TextThatFitsNeverScrolls) {
    for (const QString& text : {QString(20, QLatin1Char('x')), QString()}) {
        auto marquee = make(text, 200);
        marquee->appear();
        scheduler().advance(30);
        EXPECT_FALSE(marquee->isScrolling()) << text.size();
        EXPECT_EQ(marquee->offset(), 0);
        EXPECT_EQ(marquee->textWidth(), text.size() * 10.0);
    }
}

TEST_F(MarqueeTextTest, NewTextThatFitsEndsThePassAndItsPendingSteps) {
    auto marquee = make(k27, 200);
    marquee->appear();
    at(5.0);
    ASSERT_LT(marquee->offset(), 0);

    marquee->setText(QStringLiteral("short"));
    EXPECT_EQ(marquee->offset(), 0);
    EXPECT_FALSE(marquee->isScrolling());
    at(5.1);  // re-measured
    EXPECT_EQ(marquee->textWidth(), 50);
    at(40);
    EXPECT_FALSE(marquee->isScrolling());
    EXPECT_EQ(marquee->offset(), 0);
    EXPECT_FALSE(marquee->isAnimating());
}

TEST_F(MarqueeTextTest, NewWideTextDuringAPassRunsOnlyTheNewLoop) {
    auto marquee = make(k27, 200);
    marquee->appear();
    at(5.0);
    marquee->setText(QString(37, QLatin1Char('y')));  // 370 wide: distance 400, 13.33 s per pass
    at(5.1);
    EXPECT_TRUE(marquee->isScrolling());
    at(6.6);
    EXPECT_TRUE(marquee->isAnimating());
    // The old loop's hold step (due at 12.5) and restart (12.6) must not touch the new pass.
    at(12.6);
    EXPECT_NEAR(marquee->offset(), -6.0 * 30.0, 1e-6);
    at(6.6 + 400.0 / 30.0);
    EXPECT_NEAR(marquee->offset(), -400, 1e-6);
    at(6.6 + 400.0 / 30.0 + 1.0);
    EXPECT_EQ(marquee->offset(), 0);
}

TEST_F(MarqueeTextTest, LeavingTheScreenEndsTheLoopAndComingBackMeasuresAgain) {
    auto marquee = make(k27, 200);
    marquee->appear();
    at(3.0);
    marquee->disappear();
    EXPECT_EQ(marquee->offset(), 0);
    EXPECT_FALSE(marquee->isScrolling());
    at(30);
    EXPECT_EQ(marquee->offset(), 0);
    EXPECT_FALSE(marquee->isAnimating());

    marquee->setAvailableWidth(300);
    marquee->appear();
    EXPECT_EQ(marquee->containerWidth(), 300);
    EXPECT_FALSE(marquee->isScrolling());
}

TEST_F(MarqueeTextTest, ContainerGrowingAfterTheMeasurementKeepsScrollingUntilTheTextChanges) {
    auto marquee = make(k27, 200);
    marquee->appear();
    marquee->setAvailableWidth(400);
    at(20);
    EXPECT_TRUE(marquee->isScrolling());
    marquee->setText(k27 + QStringLiteral("z"));
    at(20.1);
    EXPECT_FALSE(marquee->isScrolling());
    EXPECT_EQ(marquee->containerWidth(), 400);
}

TEST_F(MarqueeTextTest, SecondCopyIsDrawnOnlyWhileScrolling) {
    // Real font measurement here: the drawing follows whatever width the font gives.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    auto drawnColumns = [&](MarqueeText& marquee, double width) {
        QImage image(400, 20, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        marquee.paint(painter, QRectF(0, 0, width, 13));
        painter.end();
        int last = -1;
        for (int x = 0; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (qAlpha(image.pixel(x, y)) > 0) last = x;
        return last;
    };
    MarqueeText marquee(QStringLiteral("Hello there"), font, Qt::white, 30.0, scheduler());
    marquee.setAvailableWidth(400);
    marquee.appear();
    EXPECT_FALSE(marquee.isScrolling());
    EXPECT_LT(drawnColumns(marquee, 400), marquee.textWidth() + 1);

    marquee.disappear();
    marquee.setAvailableWidth(20);
    marquee.appear();
    ASSERT_TRUE(marquee.isScrolling());
    // Clipped to the 20-point container, and nothing beyond it.
    EXPECT_LT(drawnColumns(marquee, 20), 20);
    EXPECT_GT(drawnColumns(marquee, 400), marquee.textWidth() + 30);
}

}  // namespace
