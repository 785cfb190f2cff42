// The overlay on a Linux desktop: the built application on a private X server with openbox,
// dunst serving notifications on a private session bus, and xterm as the application that posts
// them. Clicks and scrolls are made through XTest, the steps of a swipe paced by the server itself;
// every wait ends as soon as what it waits for arrives.

#include "support/app_process.h"
#include "support/service_fixtures.h"
#include "support/window_manager.h"
#include "paced_wheel.h"
#include "window_shapes.h"
#include "wheel_steps.h"
#include "x_server_view.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRect>
#include <QRegion>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <xcb/record.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using e2e::ClientReplies;
using e2e::XServerView;
using testsupport::AppProcess;
using testsupport::kAppStartTimeoutMs;

int xdotool(const QStringList& arguments, QString* output = nullptr) {
    return testsupport::runTool(QStringLiteral("xdotool"), arguments, output);
}

// Moves the pointer to (x, y) with a real motion at the end (a bare move is a warp, which sends
// the window under it no motion).
int pointAt(int x, int y) {
    return xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y + 1), QStringLiteral("mousemove_relative"),
                    QStringLiteral("--"), QStringLiteral("0"), QStringLiteral("-1")});
}

// Points at (x, y), then presses `button` once.
int clickAt(int x, int y, int button = 1) {
    const int moved = pointAt(x, y);
    return moved != 0 ? moved : xdotool({QStringLiteral("click"), QString::number(button)});
}

// Polls `done` every 50 ms for up to `timeoutMs`, reading the application's log meanwhile.
bool waitUntil(AppProcess& app, const std::function<bool()>& done, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (deadline.hasExpired()) return false;
        app.pump();
        QThread::msleep(50);
    }
}

// The split pill's two capsules at rest: x 535 to 905, y 3 to 39.
const QRect kSplitPillAtRest(535, 3, 370, 36);
constexpr int kCardX = 560;
constexpr int kCardY = 20;
const QByteArray kSplitPill = R"({"overlayDisplayTimeout": 30, "enableNotchFeatures": false})";
// Under a simulated 200 x 32 notch the split pill hangs below it: x 535 to 905, y 35 to 71.
const QRect kNotchedAtRest(535, 35, 370, 36);
// Within half a second of the last card's expansion a new card comes at peek size, x 595 to 845.
const QList<QRect> kNotchedNewCardAtRest{kNotchedAtRest, QRect(595, 35, 250, 36)};
// Where either takes the pointer.
constexpr int kNotchedX = 620;
constexpr int kNotchedY = 52;

class OverlayDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"xdotool", "dunst", "dunstctl", "openbox", "xterm", "xinput", "notify-send"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QUILLVEX_SERVICE_MISSING(tool << " is not installed");
        }
        QString error;
        x_ = testsupport::PrivateXServer::start(QStringLiteral("1440x900x24"), &error);
        ASSERT_TRUE(x_) << error.toStdString();
        display_ = x_->exportDisplay();
        bus_ = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        ASSERT_TRUE(bus_) << error.toStdString();
        busEnv_ = bus_->exportAddress();
        // Tests read openbox's desktops from their first step.
        wm_ = testsupport::startOpenbox(&error);
        ASSERT_TRUE(wm_) << error.toStdString();
        dunst_ = testsupport::ServiceProcess::start(QStringLiteral("dunst"), {}, {}, -1, &error);
        ASSERT_TRUE(dunst_) << error.toStdString();
        ASSERT_TRUE(bus_->waitForName(QStringLiteral("org.freedesktop.Notifications")));
        ASSERT_EQ(xdotool({QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("700")}), 0);
        wheel_ = std::make_unique<e2e::PacedWheel>();
    }

    // Starts the application with these settings, only the desktop entries of its own home, and
    // waits until it watches for notifications.
    void startApp(const QByteArray& settings, const std::function<void(const QString& dataHome)>& install = {},
                  const QProcessEnvironment& extra = {}) {
        QDir().mkpath(home_.filePath(QStringLiteral(".config/Quillvex")));
        QFile file(home_.filePath(QStringLiteral(".config/Quillvex/com.varnock.Quillvex.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(settings);
        file.close();
        if (install) install(home_.filePath(QStringLiteral(".local/share")));
        home_.sessionBus = bus_->address();
        QProcessEnvironment env = home_.environment();
        env.insert(QStringLiteral("DISPLAY"), x_->display());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_DATA_DIRS"), home_.filePath(QStringLiteral(".local/share")));
        env.insert(extra);
        app_ = std::make_unique<AppProcess>(QStringLiteral(QUILLVEX_EXECUTABLE), env);
        ASSERT_TRUE(app_->started());
        ready_ = app_->waitUntilWatching(kAppStartTimeoutMs);
        ASSERT_GE(ready_, 0) << app_->transcript().toStdString();
    }

    // Starts the application under a notch with the pointer resting where its cards come.
    void startNotched() {
        QProcessEnvironment notched;
        notched.insert(QStringLiteral("QUILLVEX_SIMULATED_NOTCH"), QStringLiteral("200x32"));
        ASSERT_NO_FATAL_FAILURE(startApp(kSplitPill, {}, notched));
        ASSERT_EQ(pointAt(kNotchedX, kNotchedY), 0);
    }

    // Posts a notification and waits until the overlay's card has grown to `atRest`.
    void notify(const QStringList& arguments, const QRect& atRest) {
        ASSERT_NO_FATAL_FAILURE(post(arguments));
        ASSERT_NO_FATAL_FAILURE(waitForCard(atRest));
    }
    void post(const QStringList& arguments) {
        QString output;
        ASSERT_EQ(testsupport::runTool(QStringLiteral("notify-send"), arguments, &output), 0) << output.toStdString();
    }
    // Waits until the application shows the next notification and its card has grown to `atRest`
    // (or to any of `atRest`, which share a centre): its spring overshoots on the way and matches
    // that rectangle whole only at rest.
    void waitForCard(const QRect& atRest) { waitForCard(QList<QRect>{atRest}); }
    void waitForCard(const QList<QRect>& atRest) {
        shown_ = app_->waitForPrefix("debug IslandQueue: Emitting state - visible: true", kAppStartTimeoutMs, shown_ + 1);
        ASSERT_GE(shown_, 0) << app_->transcript().toStdString();
        uint32_t overlay = 0;
        const QPoint centre = atRest.front().center();
        ASSERT_TRUE(waitUntil(*app_, [&] { return (overlay = e2e::topWindowAt(centre)) != 0; }, kAppStartTimeoutMs))
            << app_->transcript().toStdString();
        e2e::WindowShapes shapes;
        ASSERT_TRUE(e2e::waitForShapes(
            *app_, overlay,
            [&](const e2e::WindowShapes& s) {
                const QRect drawn = s.bounding.boundingRect();
                return atRest.contains(drawn) && s.clicks().boundingRect() == drawn;
            },
            &shapes))
            << e2e::describe(shapes).toStdString() << "\n" << app_->transcript().toStdString();
    }

    // Swipes up where the pointer rests with `steps` wheel steps the server spaces a tenth of a
    // second apart, the first `delayMs` from now, running `during` (given the steps seen so far)
    // while they go on. The steps, once the server has dealt with each; nullptr at a failure.
    std::unique_ptr<e2e::WheelSteps> swipe(int steps, const std::function<void(e2e::WheelSteps&)>& during = {},
                                           uint32_t delayMs = 0) {
        auto witness = std::make_unique<e2e::WheelSteps>();
        if (!witness->listening() || !wheel_->ok()) {
            ADD_FAILURE() << "the X server reports no wheel steps or takes none through XTest";
            return nullptr;
        }
        wheel_->steps(steps, delayMs);
        if (during) during(*witness);
        if (HasFatalFailure()) return nullptr;
        if (!witness->waitFor(*app_, static_cast<size_t>(steps))) {
            ADD_FAILURE() << "the swipe's " << steps << " steps did not reach the X server";
            return nullptr;
        }
        return witness;
    }

    // Clicks where the pointer rests; the index of the line that says the card took the click
    // (with nothing to open, it shows the notification list), else -1.
    int clickTheCard() {
        const int from = static_cast<int>(app_->lines().size());
        wheel_->click();
        return app_->waitForLine("debug IslandView: Could not open source app, opening Notification Center",
                                 kAppStartTimeoutMs, from);
    }

    // Puts the split pill up under the pointer resting at (x, kCardY) and swipes it away with
    // `steps` steps; the steps, once the swipe has ended and the overlay has gone from under the
    // pointer. The card's window in `overlay`.
    std::unique_ptr<e2e::WheelSteps> swipeCardAway(int x, int steps, uint32_t* overlay = nullptr) {
        if (pointAt(x, kCardY) != 0) {
            ADD_FAILURE() << "xdotool did not move the pointer";
            return nullptr;
        }
        notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kSplitPillAtRest);
        if (HasFatalFailure()) return nullptr;
        if (overlay) *overlay = e2e::topWindowAt(kSplitPillAtRest.center());
        auto swiped = swipe(steps);
        XServerView server;
        if (swiped && !waitUntil(*app_, [&] { return server.windowUnderPointer() == 0; })) {
            ADD_FAILURE() << swiped->describe().toStdString() << app_->transcript().toStdString();
            return nullptr;
        }
        return swiped;
    }

    static int dunstCount(const QString& which) {
        QString out;
        if (testsupport::runTool(QStringLiteral("dunstctl"), {QStringLiteral("count"), which}, &out) != 0) return -1;
        bool ok = false;
        const int n = out.trimmed().toInt(&ok);
        return ok ? n : -1;
    }

    std::unique_ptr<testsupport::PrivateXServer> x_;
    std::unique_ptr<testsupport::ScopedEnvironment> display_;
    std::unique_ptr<testsupport::PrivateBus> bus_;
    std::unique_ptr<testsupport::ScopedEnvironment> busEnv_;
    std::unique_ptr<testsupport::ServiceProcess> wm_;
    std::unique_ptr<testsupport::ServiceProcess> dunst_;
    testsupport::AppHome home_;
    std::unique_ptr<AppProcess> app_;
    int ready_ = -1;
    int shown_ = -1;
    std::unique_ptr<e2e::PacedWheel> wheel_;
};


// The user's own xterm entry beside Debian's copy, which claims xterm's class.
TEST_F(OverlayDesktopTest, ClicksOnARunningApplicationsNotificationBringItsOneWindowForward) {
    ASSERT_NO_FATAL_FAILURE(startApp(kSplitPill, [](const QString& dataHome) {
        QDir().mkpath(dataHome + QStringLiteral("/applications"));
        QFile entry(dataHome + QStringLiteral("/applications/xterm.desktop"));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        // Below the overlay, so the window manager's raise never covers the card.
        entry.write("[Desktop Entry]\nType=Application\nName=XTerm\nExec=xterm -geometry 40x8+200+400\n");
        QFile copy(dataHome + QStringLiteral("/applications/debian-xterm.desktop"));
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        copy.write("[Desktop Entry]\nType=Application\nName=XTerm\nExec=xterm\nStartupWMClass=XTerm\n");
    }));
    XServerView server;
    ASSERT_NO_FATAL_FAILURE(notify({QStringLiteral("-a"), QStringLiteral("XTerm"),
                                    QStringLiteral("--hint=string:desktop-entry:xterm"), QStringLiteral("Build finished")},
                                   kSplitPillAtRest));

    // Not running yet: the click starts it.
    ASSERT_EQ(clickAt(kCardX, kCardY), 0);
    const int opened = app_->waitForLine("info IslandView: Opened app with bundle ID: xterm", kAppStartTimeoutMs, ready_);
    ASSERT_GE(opened, 0) << app_->transcript().toStdString();
    ASSERT_TRUE(waitUntil(*app_, [&] { return server.clientsOf(QStringLiteral("xterm")).size() == 1; }));
    const uint32_t xterm = server.clientsOf(QStringLiteral("xterm")).front();

    // Another window takes the focus; the second click brings the xterm back instead of a second one.
    const uint32_t other = server.createWindow(QRect(700, 500, 200, 150));
    ASSERT_TRUE(waitUntil(*app_, [&] { return !server.clientsOf(QStringLiteral("other")).empty(); }));
    ASSERT_EQ(xdotool({QStringLiteral("windowactivate"), QString::number(other)}), 0);
    ASSERT_TRUE(waitUntil(*app_, [&] { return server.activeWindow() == other; }));
    ASSERT_EQ(clickAt(kCardX, kCardY), 0);
    EXPECT_TRUE(waitUntil(*app_, [&] { return server.activeWindow() == xterm; }))
        << std::hex << server.activeWindow() << " " << xterm << "\n" << app_->transcript().toStdString();
    EXPECT_GT(app_->waitForLine("info IslandView: Opened app with bundle ID: xterm", kAppStartTimeoutMs, opened + 1), opened);
    QThread::msleep(500);  // a second copy would have mapped its window by now
    EXPECT_EQ(server.clientsOf(QStringLiteral("xterm")).size(), 1u);
}

TEST_F(OverlayDesktopTest, AClickWithNoApplicationToOpenShowsDunstsNotificationAgain) {
    ASSERT_NO_FATAL_FAILURE(startApp(kSplitPill));
    ASSERT_NO_FATAL_FAILURE(
        notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kSplitPillAtRest));
    // dunst shows it too; closed there, it stays in dunst's history.
    ASSERT_EQ(testsupport::runTool(QStringLiteral("dunstctl"), {QStringLiteral("close-all")}), 0);
    ASSERT_TRUE(waitUntil(*app_, [] { return dunstCount(QStringLiteral("displayed")) == 0; }));
    ASSERT_EQ(dunstCount(QStringLiteral("history")), 1);

    ASSERT_EQ(clickAt(kCardX, kCardY), 0);
    ASSERT_GE(app_->waitForLine("debug IslandView: Could not open source app, opening Notification Center",
                                kAppStartTimeoutMs, ready_),
              0)
        << app_->transcript().toStdString();
    EXPECT_TRUE(waitUntil(*app_, [] { return dunstCount(QStringLiteral("displayed")) == 1; }))
        << app_->transcript().toStdString();
    EXPECT_EQ(dunstCount(QStringLiteral("history")), 0);
    EXPECT_TRUE(app_->lines().filter(QStringLiteral("Failed to open Notification Center")).isEmpty())
        << app_->transcript().toStdString();
}

TEST_F(OverlayDesktopTest, WithNaturalScrollingTheSwipeUpThatArrivesAsAScrollDownDismisses) {
    // The XTest pointer scrolls as a libinput device with natural scrolling on would.
    ASSERT_EQ(testsupport::runTool(QStringLiteral("xinput"),
                                   {QStringLiteral("set-prop"), QStringLiteral("--type=int"), QStringLiteral("--format=8"),
                                    QStringLiteral("Virtual core XTEST pointer"),
                                    QStringLiteral("libinput Natural Scrolling Enabled"), QStringLiteral("1")}),
              0);
    ASSERT_NO_FATAL_FAILURE(startApp(kSplitPill));
    ASSERT_NO_FATAL_FAILURE(
        notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kSplitPillAtRest));
    // What stands under the card: the overlay's window while it shows.
    const auto windowUnderCard = [] {
        QString out;
        xdotool({QStringLiteral("getmouselocation"), QStringLiteral("--shell")}, &out);
        static const QRegularExpression window(QStringLiteral("WINDOW=(\\d+)"));
        return window.match(out).captured(1);
    };
    ASSERT_EQ(xdotool({QStringLiteral("mousemove"), QString::number(kCardX), QString::number(kCardY)}), 0);
    const QString overlay = windowUnderCard();
    ASSERT_FALSE(overlay.isEmpty());

    // Fingers moving up: content scrolls down (wheel button 5). The overlay goes long before its 30 s.
    ASSERT_EQ(clickAt(kCardX, kCardY, 5), 0);
    EXPECT_TRUE(waitUntil(*app_, [&] { return windowUnderCard() != overlay; }, 10000)) << app_->transcript().toStdString();
}

// A swipe goes on after its first step has sent the card away: the card shrinks and collapses
// under the pointer, and the rest of the swipe still lands on the overlay, over a pill or the notch
// between them, never on the desktop, whose wheel switches openbox's workspace. The notch takes a
// click as a pill does; once the overlay is gone the desktop has its wheel back.
TEST_F(OverlayDesktopTest, TheWholeCardTakesTheSwipeThatSendsItAwayAndTheNotchBetweenThePillsAClick) {
    ASSERT_NO_FATAL_FAILURE(startApp(kSplitPill));
    XServerView server;
    for (const int x : {kCardX, 720}) {
        uint32_t overlay = 0;
        // Six steps, the swipe outlasting the hide.
        const auto swiped = swipeCardAway(x, 6, &overlay);
        ASSERT_TRUE(swiped);
        EXPECT_FALSE(server.isMapped(overlay));
        EXPECT_FALSE(swiped->landedOnDesktop(0)) << x;
        EXPECT_EQ(swiped->strayed(), 0) << x << "\n" << swiped->describe().toStdString();
    }
    ASSERT_NO_FATAL_FAILURE(
        notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kSplitPillAtRest));
    ASSERT_EQ(clickAt(720, kCardY), 0);
    EXPECT_GE(app_->waitForLine("debug IslandView: Could not open source app, opening Notification Center",
                                kAppStartTimeoutMs, ready_),
              0)
        << app_->transcript().toStdString();
    ASSERT_EQ(testsupport::runTool(QStringLiteral("dunstctl"), {QStringLiteral("close-all")}), 0);
    // Hidden at last, the overlay leaves the notch's place to the desktop.
    e2e::WheelSteps steps;
    ASSERT_EQ(xdotool({QStringLiteral("click"), QStringLiteral("4")}), 0);
    ASSERT_TRUE(waitUntil(*app_, [&] { return server.windowUnderPointer() == 0; })) << app_->transcript().toStdString();
    ASSERT_EQ(xdotool({QStringLiteral("click"), QStringLiteral("4")}), 0);
    ASSERT_TRUE(steps.waitFor(*app_, 2));
    EXPECT_EQ(steps.reachedDesktop(), 1);
}

// A slow machine, made here by frames that each hold the application longer than the swipe's
// steps are apart: the application reads the steps long after the server saw them, and the rest
// of the swipe that sent the card away still lands on the overlay. Once the swipe has ended, the
// desktop's wheel has its next step.
TEST_F(OverlayDesktopTest, OnASlowMachineTheRestOfTheSwipeThatSentTheCardAwayNeverReachesTheDesktop) {
    QProcessEnvironment slow;
    slow.insert(QStringLiteral("QUILLVEX_TEST_FRAME_MS"), QStringLiteral("500"));
    ASSERT_NO_FATAL_FAILURE(startApp(kSplitPill, {}, slow));
    const auto swiped = swipeCardAway(kCardX, 25);
    ASSERT_TRUE(swiped);
    EXPECT_FALSE(swiped->landedOnDesktop(0));
    EXPECT_EQ(swiped->strayed(), 0) << swiped->describe().toStdString();
    e2e::WheelSteps step;
    ASSERT_EQ(xdotool({QStringLiteral("click"), QStringLiteral("4")}), 0);
    ASSERT_TRUE(step.waitFor(*app_, 1));
    EXPECT_EQ(step.reachedDesktop(), 1);
}

// A busy machine runs its late timers in the order they fell due: here every animation's
// completion runs behind whatever frames fall due in the 0.15 s after its end. Frames that find
// the card faded out while its hide has not ended leave it the input it held, so the rest of the
// swipe that sent it away still lands on the overlay.
TEST_F(OverlayDesktopTest, FramesBetweenTheFadesEndAndTheEndOfTheHideLeaveTheRestOfTheSwipeOnTheOverlay) {
    QProcessEnvironment late;
    late.insert(QStringLiteral("QUILLVEX_TEST_COMPLETION_MS"), QStringLiteral("150"));
    ASSERT_NO_FATAL_FAILURE(startApp(kSplitPill, {}, late));
    const auto swiped = swipeCardAway(720, 12);
    ASSERT_TRUE(swiped);
    EXPECT_FALSE(swiped->landedOnDesktop(0));
    EXPECT_EQ(swiped->strayed(), 0) << swiped->describe().toStdString();
}

// Under a notch, a notification that comes as a swipe sends the card before it away, while that
// card still goes, shows once it has gone: the rest of that swipe is not for it. The pointer,
// resting where it was before the first card came, the new card takes a click and then a swipe of
// its own.
TEST_F(OverlayDesktopTest, ACardArrivingAsASwipeSendsTheLastAwayShowsAndTakesAClickAndASwipeOfItsOwn) {
    ASSERT_NO_FATAL_FAILURE(startNotched());
    XServerView server;
    ASSERT_NO_FATAL_FAILURE(notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kNotchedAtRest));
    const auto swiped = swipe(15, [&](e2e::WheelSteps& steps) {
        // Right after the first step has sent the card away.
        ASSERT_TRUE(steps.waitFor(*app_, 1));
        ASSERT_NO_FATAL_FAILURE(post({QStringLiteral("-a"), QStringLiteral("Calendar"), QStringLiteral("Standup")}));
    });
    ASSERT_TRUE(swiped);
    ASSERT_NO_FATAL_FAILURE(waitForCard(kNotchedNewCardAtRest)) << swiped->describe().toStdString();
    EXPECT_FALSE(swiped->landedOnDesktop(0));
    EXPECT_EQ(swiped->strayed(), 0) << swiped->describe().toStdString();

    const int clicked = clickTheCard();
    EXPECT_GE(clicked, 0) << app_->transcript().toStdString();

    // Once the first swipe has ended by the server's clock.
    ASSERT_TRUE(waitUntil(*app_, [&] {
        return static_cast<int32_t>(server.serverTime() - swiped->times().back()) >= static_cast<int32_t>(e2e::WheelSteps::kSwipeGapMs);
    }));
    const uint32_t overlay = e2e::topWindowAt(kNotchedAtRest.center());
    const auto own = swipe(1);
    ASSERT_TRUE(own);
    EXPECT_TRUE(waitUntil(*app_, [&] { return server.windowUnderPointer() == 0; })) << app_->transcript().toStdString();
    EXPECT_FALSE(server.isMapped(overlay));
    EXPECT_EQ(own->reachedDesktop(), 0);
}

// A card that comes once the one a swipe sent away has left the screen, while the swipe still runs
// over its place, stays through the rest of that swipe too, and takes a click meanwhile.
TEST_F(OverlayDesktopTest, ACardThatComesAfterTheSwipedCardHasGoneStaysThroughTheRestOfTheSwipe) {
    ASSERT_NO_FATAL_FAILURE(startNotched());
    XServerView server;
    ASSERT_NO_FATAL_FAILURE(notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kNotchedAtRest));
    const uint32_t overlay = e2e::topWindowAt(kNotchedAtRest.center());
    const auto swiped = swipe(20, [&](e2e::WheelSteps& steps) {
        ASSERT_TRUE(steps.waitFor(*app_, 1));
        ASSERT_TRUE(waitUntil(*app_, [&] { return !server.isMapped(overlay); }));
        // Well after the gone card's place began to take the swipe alone.
        const uint32_t gone = server.serverTime();
        ASSERT_TRUE(waitUntil(*app_, [&] { return server.serverTime() - gone >= 400; }));
        ASSERT_NO_FATAL_FAILURE(post({QStringLiteral("-a"), QStringLiteral("Calendar"), QStringLiteral("Standup")}));
    });
    ASSERT_TRUE(swiped);
    EXPECT_FALSE(swiped->landedOnDesktop(0));
    EXPECT_EQ(swiped->strayed(), 0) << swiped->describe().toStdString();
    // The click comes after every step: once the application has taken it, it has taken them all.
    const int clicked = clickTheCard();
    ASSERT_GE(clicked, 0)
        << swiped->describe().toStdString() << app_->transcript().toStdString();
    // Still up, the card stacks the next notification.
    ASSERT_NO_FATAL_FAILURE(post({QStringLiteral("-a"), QStringLiteral("Notes"), QStringLiteral("Buy milk")}));
    const int next = app_->waitForPrefix("debug IslandQueue: Emitting state - visible: true", kAppStartTimeoutMs, clicked);
    ASSERT_GE(next, 0) << app_->transcript().toStdString();
    EXPECT_TRUE(app_->lines().at(next).contains(QStringLiteral("count: 2"))) << app_->transcript().toStdString();
}

// A swipe sends a card away; another notification comes as it runs, under the pointer that has
// rested on the card's place all along, and shows once the first card has gone. It takes a click,
// and a swipe of its own sends it away too, with no motion before: a touchpad's swipe moves no pointer.
TEST_F(OverlayDesktopTest, ACardThatCameUnderAPointerAtRestDuringASwipeGoesWithTheNextSwipe) {
    ASSERT_NO_FATAL_FAILURE(startNotched());
    XServerView server;
    ASSERT_NO_FATAL_FAILURE(notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kNotchedAtRest));
    QDeadlineTimer posted;
    const auto first = swipe(3, [&](e2e::WheelSteps& steps) {
        // A tenth of a second after the first step.
        ASSERT_TRUE(steps.waitFor(*app_, 2));
        ASSERT_NO_FATAL_FAILURE(post({QStringLiteral("-a"), QStringLiteral("Calendar"), QStringLiteral("Standup")}));
        posted.setRemainingTime(700);
    });
    ASSERT_TRUE(first);
    ASSERT_NO_FATAL_FAILURE(waitForCard(kNotchedNewCardAtRest)) << first->describe().toStdString();
    const uint32_t overlay = e2e::topWindowAt(kNotchedAtRest.center());
    ASSERT_NE(overlay, 0u);
    const int clicked = clickTheCard();
    EXPECT_GE(clicked, 0) << app_->transcript().toStdString();

    // 0.7 s after the post, or once the new card is up and clicked.
    const auto second = swipe(3, {}, static_cast<uint32_t>(std::max<qint64>(posted.remainingTime(), 0)));
    ASSERT_TRUE(second);
    EXPECT_TRUE(waitUntil(*app_, [&] { return !server.isMapped(overlay); }))
        << second->describe().toStdString() << app_->transcript().toStdString();
    EXPECT_FALSE(first->landedOnDesktop(0));
    EXPECT_EQ(first->strayed(), 0) << first->describe().toStdString();
    EXPECT_FALSE(second->landedOnDesktop(0)) << second->describe().toStdString();
    EXPECT_EQ(second->strayed(), 0) << second->describe().toStdString();
}

// The desktop has no compositor: the overlay's window exists only where the split pill's two
// capsules are drawn, round ends and all, so neither the notch between them nor the corners show black.
TEST_F(OverlayDesktopTest, WithoutACompositorTheWindowIsCutToTheTwoPills) {
    ASSERT_NO_FATAL_FAILURE(startApp(kSplitPill));
    ASSERT_NO_FATAL_FAILURE(
        notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kSplitPillAtRest));
    const uint32_t overlay = e2e::topWindowAt(QPoint(kCardX, kCardY));
    ASSERT_NE(overlay, 0u);
    // The pills at rest: 150 × 36 each, x 535 and 755, the notch's 70 points between them. The
    // spring's tail moves their inner edges last.
    QRegion shape;
    const QRect middleRow(535, 21, 370, 1);
    const bool rested = waitUntil(*app_, [&] {
        shape = e2e::windowShape(overlay, XCB_SHAPE_SK_BOUNDING);
        return shape.boundingRect() == QRect(535, 3, 370, 36) &&
               (shape & middleRow) == QRegion(535, 21, 150, 1) + QRegion(755, 21, 150, 1);
    });
    ASSERT_TRUE(rested) << shape.boundingRect().x() << "," << shape.boundingRect().y() << " "
                        << shape.boundingRect().width() << "x" << shape.boundingRect().height();
    EXPECT_TRUE(shape.contains(QPoint(610, 21)));
    EXPECT_TRUE(shape.contains(QPoint(830, 21)));
    for (const int x : {686, 720, 754}) EXPECT_FALSE(shape.contains(QPoint(x, 21))) << x;
    for (const QPoint corner : {QPoint(535, 3), QPoint(684, 3), QPoint(755, 38), QPoint(904, 38)})
        EXPECT_FALSE(shape.contains(corner)) << corner.x() << "," << corner.y();
    EXPECT_TRUE(shape.contains(QPoint(535, 21)));
    EXPECT_TRUE(shape.contains(QPoint(904, 21)));
}

// A round trip stops the application until the server answers. Once the window exists, showing
// and hiding a notification like the last one waits only for what mapping the window costs in Qt:
// its state read before the map and the sync after it. Where the pointer or the window is, the
// window's frame and the state Qt wrote itself are not asked for.
TEST_F(OverlayDesktopTest, ANotificationShownAndHiddenWaitsForTheServerOnlyToMapTheWindow) {
    ASSERT_NO_FATAL_FAILURE(startApp(R"({"overlayDisplayTimeout": 2, "enableNotchFeatures": false})"));
    XServerView server;
    uint32_t overlay = 0;
    const auto showAndHide = [&] {
        ASSERT_NO_FATAL_FAILURE(
            notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kSplitPillAtRest));
        overlay = e2e::topWindowAt(kSplitPillAtRest.center());
        ASSERT_NE(overlay, 0u);
        ASSERT_TRUE(waitUntil(*app_, [&] { return !server.isMapped(overlay); })) << app_->transcript().toStdString();
    };
    ASSERT_NO_FATAL_FAILURE(showAndHide());
    ClientReplies replies(overlay);
    ASSERT_TRUE(replies.recording());
    ASSERT_NO_FATAL_FAILURE(showAndHide());
    EXPECT_LE(replies.stop(), 2);
}

TEST_F(OverlayDesktopTest, TheGlassCardAsksTheCompositorToBlurBehindItsShape) {
    ASSERT_NO_FATAL_FAILURE(
        startApp(R"({"overlayDisplayTimeout": 30, "enableNotchFeatures": false, "overlayStyle": "liquidGlass"})"));
    ASSERT_NO_FATAL_FAILURE(
        notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, QRect(520, 3, 400, 80)));
    XServerView server;
    // The card at rest is 400 x 80 (the app name shown), centred at the top of the screen.
    QRect bounds;
    QRect window;
    const bool found = waitUntil(*app_, [&] {
        const auto windows = server.windowsWith("_KDE_NET_WM_BLUR_BEHIND_REGION");
        if (windows.size() != 1 || windows[0].second.size() % 4 != 0) return false;
        window = windows[0].first;
        QRegion region;
        const auto& v = windows[0].second;
        for (size_t i = 0; i + 3 < v.size(); i += 4)
            region += QRect(static_cast<int>(v[i]), static_cast<int>(v[i + 1]), static_cast<int>(v[i + 2]),
                            static_cast<int>(v[i + 3]));
        bounds = region.boundingRect();
        return bounds.size() == QSize(400, 80);
    }, kAppStartTimeoutMs);
    ASSERT_TRUE(found) << bounds.width() << "x" << bounds.height() << "\n" << app_->transcript().toStdString();
    EXPECT_EQ(bounds.translated(window.topLeft()).center().x(), 720 - 1);
    EXPECT_TRUE(window.contains(bounds.translated(window.topLeft())));
}

}  // namespace
