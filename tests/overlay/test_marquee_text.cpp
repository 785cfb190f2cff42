#include "overlay/marquee_text.h"

#include "support/fixtures.h"

#include <memory>

namespace {

// Ten points per character, whatever the font.
double tenPerCharacter(const QString& text, const QFont&) { return text.size() * 10.0; }

const QString k27 = QString(27, QLatin1Char('x'));  // 270 points wide

class MarqueeTextTest : public testsupport::QuillvexTest {
protected:
    // On screen in a container of `width`.
    std::unique_ptr<MarqueeText> shown(const QString& text, double width) {
        auto marquee = std::make_unique<MarqueeText>(text, QFont(), Qt::white, 30.0, scheduler(), &tenPerCharacter);
        marquee->setAvailableWidth(width);
        marquee->appear();
        return marquee;
    }
    void at(double t) { scheduler().advance(t - scheduler().elapsed()); }
};

TEST_F(MarqueeTextTest, WideTextRunsTheFullCycle) {
    auto m = shown(k27, 200);
    EXPECT_EQ(m->textWidth(), 270);
    EXPECT_TRUE(m->isScrolling());

    const std::pair<double, double> timeline[] = {
        {1.49, 0}, {1.5, 0}, {6.5, -150}, {11.5, -300}, {12.49, -300},  // wait, pass, hold
        {12.5, 0}, {12.59, 0}, {17.6, -150},                            // reset, next pass from 12.6
    };
    for (auto [t, offset] : timeline) {
        at(t);
        EXPECT_NEAR(m->offset(), offset, 1e-6) << t;
    }
    EXPECT_EQ(m->animatedOffset().lastAnimation()->animation, platform::Animation::linear(10.0));
}

TEST_F(MarqueeTextTest, AHugeTextIsMeasuredAndDrawnOnlyUpToTheBound) {
    const QString huge(1 << 20, QLatin1Char('x'));
    auto m = shown(huge, 200);
    EXPECT_EQ(m->text().size(), MarqueeText::kMaxTextLength);
    EXPECT_EQ(m->textWidth(), MarqueeText::kMaxTextLength * 10.0);
    m->setText(QStringLiteral("y") + huge);
    EXPECT_EQ(m->text(), (QStringLiteral("y") + huge).left(MarqueeText::kMaxTextLength));
}

TEST_F(MarqueeTextTest, TextThatFitsNeverScrolls) {
    for (const QString& text : {QString(20, QLatin1Char('x')), QString()}) {
        auto m = shown(text, 200);
        scheduler().advance(30);
        EXPECT_FALSE(m->isScrolling()) << text.size();
        EXPECT_EQ(m->offset(), 0);
    }
}

TEST_F(MarqueeTextTest, NewWideTextDuringAPassRunsOnlyTheNewLoop) {
    auto m = shown(k27, 200);
    at(5.0);
    m->setText(QString(37, QLatin1Char('y')));  // distance 400: 13.33 s per pass, from 6.6
    // The old loop's hold (due at 12.5) and restart (12.6) must not touch the new pass.
    at(12.6);
    EXPECT_NEAR(m->offset(), -6.0 * 30.0, 1e-6);
    at(6.6 + 400.0 / 30.0 + 1.0);
    EXPECT_EQ(m->offset(), 0);

    // A text that fits, set during a pass: back to rest at once, and the loop's steps do nothing.
    at(10.0);
    m->setText(QStringLiteral("short"));
    EXPECT_EQ(m->offset(), 0);
    EXPECT_FALSE(m->isScrolling());
    at(60);
    EXPECT_FALSE(m->isScrolling());
    EXPECT_FALSE(m->isAnimating());
}

// Its view says it is on screen at each rebuild: a line already there goes on with its pass, not
// measured again nor started over.
TEST_F(MarqueeTextTest, ToldAgainThatItIsOnScreenTheLineGoesOnWithItsPass) {
    auto m = shown(k27, 200);
    at(3.0);
    m->setAvailableWidth(400);
    m->appear();
    EXPECT_EQ(m->containerWidth(), 200);
    at(6.5);
    EXPECT_NEAR(m->offset(), -150, 1e-6);
}

TEST_F(MarqueeTextTest, LeavingTheScreenEndsTheLoopAndComingBackMeasuresAgain) {
    auto m = shown(k27, 200);
    m->setAvailableWidth(400);  // not noticed until the next measurement
    at(3.0);
    EXPECT_LT(m->offset(), 0);
    m->disappear();
    EXPECT_EQ(m->offset(), 0);
    at(30);
    EXPECT_EQ(m->offset(), 0);
    EXPECT_FALSE(m->isAnimating());

    m->appear();
    EXPECT_EQ(m->containerWidth(), 400);
    EXPECT_FALSE(m->isScrolling());
}

}  // namespace
