#include "platform/animation/animation.h"
#include "platform/animation/frame_paint.h"
#include "support/virtual_scheduler.h"

#include <QApplication>
#include <QPaintEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// Records what reaches it: the requests to update its window and the areas it paints.
class RecordingWidget : public QWidget {
public:
    using QWidget::QWidget;
    int updateRequests = 0;
    std::vector<QRegion> paints;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::UpdateRequest) ++updateRequests;
        return QWidget::event(event);
    }
    void paintEvent(QPaintEvent* event) override { paints.push_back(event->region()); }
};

class FramePaintTest : public ::testing::Test {
protected:
    FramePaintTest() {
        window.setGeometry(0, 0, 200, 100);
        child.setGeometry(50, 20, 100, 60);
        window.show();
        QApplication::processEvents();  // exposed, and its first paint done
        QApplication::sendPostedEvents();
        window.paints.clear();
        child.paints.clear();
        window.updateRequests = 0;
    }
    RecordingWidget window;
    RecordingWidget child{&window};
};

}  // namespace

TEST_F(FramePaintTest, AFramePaintsWhatItChangedOnceAtItsEndWithNothingPosted) {
    {
        const platform::FrameScope frame;
        platform::paintInFrame(child, QRect(0, 0, 10, 10));
        {
            const platform::FrameScope nested;  // an animation's end inside a tick
            platform::paintInFrame(window, QRect(180, 0, 20, 10));
        }
        platform::paintInFrame(child, QRect(90, 50, 40, 40));  // clipped to the child
        EXPECT_TRUE(window.paints.empty());
    }
    // One synchronous paint of the window, both areas in it.
    EXPECT_EQ(window.updateRequests, 1);
    ASSERT_EQ(window.paints.size(), 1u);
    EXPECT_EQ(window.paints[0], QRegion(50, 20, 10, 10) + QRegion(180, 0, 20, 10) + QRegion(140, 70, 10, 10));
    ASSERT_EQ(child.paints.size(), 1u);
    EXPECT_EQ(child.paints[0], QRegion(0, 0, 10, 10) + QRegion(90, 50, 10, 10));
    QApplication::sendPostedEvents();
    EXPECT_EQ(window.updateRequests, 1);  // nothing was left posted

    // Outside a frame: posted as update() does, painted at the next pass.
    platform::paintInFrame(child, QRect(0, 0, 10, 10));
    EXPECT_TRUE(child.paints.size() == 1u);
    QApplication::sendPostedEvents();
    EXPECT_EQ(window.updateRequests, 2);
    EXPECT_EQ(child.paints.size(), 2u);

    // A hidden widget draws nothing, in a frame or not.
    child.hide();
    QApplication::sendPostedEvents();
    window.paints.clear();
    {
        const platform::FrameScope frame;
        platform::paintInFrame(child, QRect(0, 0, 10, 10));
    }
    EXPECT_TRUE(window.paints.empty());
}

// Every frame of an animation is one: the clock's ticks, the exact end of a motion and the
// completions that start the next animation. What the caller sets at the start is not.
TEST(FrameScope, AnAnimationsTicksEndAndCompletionAreFrames) {
    platform::VirtualScheduler clock;
    platform::Animated<double> value(0.0, clock);
    std::vector<bool> inFrame;
    auto listener = value.onChange([&] { inFrame.push_back(platform::FrameScope::active()); });
    std::optional<bool> completedInFrame;
    platform::withAnimation(
        platform::Animation::linear(0.1), [&] { value.set(1.0); },
        [&] { completedInFrame = platform::FrameScope::active(); }, clock);
    EXPECT_EQ(inFrame, std::vector<bool>{false});
    inFrame.clear();
    clock.advance(0.2);
    ASSERT_GE(inFrame.size(), 6u);
    EXPECT_EQ(std::count(inFrame.begin(), inFrame.end(), false), 0);
    EXPECT_EQ(value.value(), 1.0);
    EXPECT_EQ(completedInFrame, true);
    EXPECT_FALSE(platform::FrameScope::active());
}
