#include "platform/pointer/polled_pointer_monitor.h"
#include "platform/pointer/x11_motion_watch.h"
#include "platform/pointer/x11_xdnd_pasteboard.h"
#include "support/fake_pointer.h"
#include "support/fake_screens.h"
#include "support/service_fixtures.h"
#include "support/virtual_scheduler.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>

#include <xcb/record.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

using platform::PointerEventKind;

TEST(PointerTest, ButtonsGiveTheDraggedKindOfTheLowestHeldButtonAndPixelsAreReportedAtTheirCentres) {
    EXPECT_EQ(platform::pointerEventKind(0), PointerEventKind::mouseMoved);
    EXPECT_EQ(platform::pointerEventKind(platform::mouseButtonLeft | platform::mouseButtonRight),
              PointerEventKind::leftMouseDragged);
    EXPECT_EQ(platform::pointerEventKind(platform::mouseButtonRight), PointerEventKind::rightMouseDragged);
    EXPECT_EQ(platform::pointerEventKind(platform::mouseButtonMiddle), PointerEventKind::otherMouseDragged);

    const QRectF primary(0, 0, 1440, 900);
    EXPECT_EQ(platform::pixelCentreLocation(QPoint(0, 0), primary), QPointF(0.5, 899.5));
    EXPECT_EQ(platform::pixelCentreLocation(QPoint(1439, 899), primary), QPointF(1439.5, 0.5));
}

TEST(PointerTest, ThePollerReportsMovementsOnlyAndEachToOneKindOfMonitor) {
    platform::VirtualScheduler scheduler;
    testsupport::FakeScreens screens;
    screens.screenList = {testsupport::plainScreen(0, 0, 1440, 900)};
    platform::PointerSample sample{QPoint(10, 10), 0};
    bool overOwn = false;
    platform::PolledPointerMonitor poller([&] { return std::optional(sample); },
                                          [&](const QPoint&) { return overOwn; }, &screens, scheduler);
    std::vector<platform::PointerEvent> global, local;
    auto g = poller.addGlobalMonitor([&](const platform::PointerEvent& e) { global.push_back(e); });
    auto l = poller.addLocalMonitor([&](const platform::PointerEvent& e) { local.push_back(e); });
    ASSERT_TRUE(g && l);
    EXPECT_TRUE(poller.isPolling());

    scheduler.advance(0.5);
    EXPECT_TRUE(global.empty());
    sample.buttons = platform::mouseButtonLeft;  // a press alone is no movement
    scheduler.advance(0.1);
    EXPECT_TRUE(global.empty());
    sample.pixel = QPoint(20, 10);
    scheduler.advance(1.0 / 60);
    ASSERT_EQ(global.size(), 1u);
    EXPECT_EQ(global[0].kind, PointerEventKind::leftMouseDragged);
    EXPECT_EQ(global[0].location, QPointF(20.5, 889.5));
    overOwn = true;
    sample.pixel = QPoint(30, 10);
    scheduler.advance(1.0 / 60);
    EXPECT_EQ(global.size(), 1u);
    EXPECT_EQ(local.size(), 1u);

    poller.removeMonitor(*g);
    EXPECT_TRUE(poller.isPolling());
    poller.removeMonitor(*l);
    poller.removeMonitor(*l);
    EXPECT_FALSE(poller.isPolling());
    EXPECT_EQ(scheduler.pendingCount(), 0u);
}

TEST(PointerTest, WithAMotionFeedThePointerIsReadOnlyWhileItMoves) {
    platform::VirtualScheduler scheduler;
    testsupport::FakeScreens screens;
    screens.screenList = {testsupport::plainScreen(0, 0, 1440, 900)};
    testsupport::FakeMotionFeed feed;
    platform::PointerSample sample{QPoint(10, 10), 0};
    int samples = 0;
    std::function<void()> onRead;
    using Monitor = platform::PolledPointerMonitor;
    Monitor poller(
        [&] {
            ++samples;
            if (onRead) onRead();
            return std::optional(sample);
        },
        [](const QPoint&) { return false; }, &screens, scheduler, feed.watch());
    std::vector<uint32_t> buttons;
    const auto centre = [&](int x, int y) { return platform::pixelCentreLocation(QPoint(x, y), screens.primaryQtGeometry()); };
    EXPECT_FALSE(poller.lastKnownLocation());  // nothing followed
    auto token = poller.addGlobalMonitor([&](const platform::PointerEvent&) { buttons.push_back(poller.pressedMouseButtons()); });
    ASSERT_TRUE(token && feed.listening && poller.isResting());

    // At rest nothing is read and nothing is scheduled; where the pointer stands is known unread.
    scheduler.advance(5);
    EXPECT_EQ(poller.lastKnownLocation(), centre(10, 10));
    EXPECT_EQ(samples, 1);
    EXPECT_EQ(scheduler.pendingCount(), 0u);

    // A motion is read at once (the handler's question costs no second read), then followed with
    // the feed silent, until the pointer has stood still for a few reads.
    sample = {QPoint(40, 10), platform::mouseButtonLeft};
    feed.move();
    EXPECT_EQ(buttons, std::vector<uint32_t>{platform::mouseButtonLeft});
    EXPECT_EQ(samples, 2);
    EXPECT_FALSE(feed.listening);
    sample.pixel = QPoint(50, 10);
    scheduler.advance(Monitor::pollInterval);
    EXPECT_EQ(buttons.size(), 2u);
    scheduler.advance(Monitor::pollInterval * (Monitor::stillSamplesBeforeRest + 1));
    EXPECT_TRUE(poller.isResting() && feed.listening);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    const int reads = samples;
    EXPECT_EQ(poller.lastKnownLocation(), centre(50, 10));
    EXPECT_EQ(samples, reads);

    // A movement just before listening again sends no signal: the read after it finds it.
    sample.pixel = QPoint(60, 10);
    feed.move();
    onRead = [&] {
        if (feed.listening) sample.pixel = QPoint(70, 10);
    };
    scheduler.advance(Monitor::pollInterval * (Monitor::stillSamplesBeforeRest + 1));
    EXPECT_EQ(buttons.size(), 4u);
    EXPECT_FALSE(poller.isResting());

    poller.removeMonitor(*token);
    EXPECT_FALSE(feed.alive);
    EXPECT_FALSE(poller.isPolling());
    EXPECT_FALSE(poller.lastKnownLocation());
}

TEST(PointerTest, WhereTheApplicationIsNotOnX11ThePollerFollowsQtsCursor) {
    // This process runs on Qt's offscreen platform: no X11 source and no motion feed, so the
    // monitor polls Qt's cursor.
    platform::VirtualScheduler scheduler;
    testsupport::FakeScreens screens;
    screens.screenList = {testsupport::plainScreen(0, 0, 1440, 900)};
    QCursor::setPos(QPoint(100, 100));
    platform::PolledPointerMonitor poller({}, [](const QPoint&) { return false; }, &screens, scheduler);
    std::vector<QPointF> seen;
    auto token = poller.addGlobalMonitor([&](const platform::PointerEvent& e) { seen.push_back(e.location); });
    ASSERT_TRUE(token);
    EXPECT_TRUE(poller.isPolling());
    EXPECT_FALSE(poller.isResting());
    EXPECT_EQ(poller.mouseLocation(), QPointF(100.5, 799.5));

    QCursor::setPos(QPoint(300, 20));
    scheduler.advance(platform::PolledPointerMonitor::pollInterval);
    EXPECT_EQ(seen, std::vector<QPointF>{QPointF(300.5, 879.5)});
    scheduler.advance(platform::PolledPointerMonitor::pollInterval * 4);
    EXPECT_EQ(seen.size(), 1u);
    poller.removeMonitor(*token);
}

TEST(PointerTest, AUriListCountsWhenItHoldsAFileUrlAndWithoutADisplayThePasteboardOffersNothing) {
    using platform::X11XdndPasteboard;
    for (const char* list : {"file:///home/a/report.pdf\r\n", "# comment\r\nhttps://example.com/\r\nFILE:///tmp/x\r\n"})
        EXPECT_TRUE(X11XdndPasteboard::uriListHasFileUrl(list)) << list;
    for (const char* list : {"https://example.com/a.png\r\n", "# file:///commented\r\n", "file:\r\n", ""})
        EXPECT_FALSE(X11XdndPasteboard::uriListHasFileUrl(list)) << list;

    X11XdndPasteboard pasteboard(":nonexistent.9");
    EXPECT_FALSE(pasteboard.start());
    EXPECT_FALSE(pasteboard.canReadFileURLs());
}

// A real drag between two processes on a private X server, driven with XTest through xdotool.
class XdndDragTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) return;
        x = testsupport::PrivateXServer::start(QStringLiteral("1440x900x24")).release();
    }
    static void TearDownTestSuite() {
        delete x;
        x = nullptr;
    }
    void SetUp() override {
        if (!x) QUILLVEX_SERVICE_MISSING("Xvfb or xdotool is not installed");
        display = x->exportDisplay();
        xdotool({"mousemove", "700", "500"});
    }

    static int xdotool(const QStringList& arguments) { return testsupport::runTool(QStringLiteral("xdotool"), arguments); }

    // Starts the drag source and waits until its window is up.
    std::unique_ptr<QProcess> startSource(const QStringList& items) {
        auto source = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), x->display());
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        source->setProcessEnvironment(env);
        testsupport::dieWithTest(*source);
        source->start(QStringLiteral(QUILLVEX_DRAG_SOURCE), items);
        saidBySource(*source, "ready");
        return source;
    }

    // Reads the source's output until it holds `word`.
    static bool saidBySource(QProcess& source, const QByteArray& word) {
        QByteArray said;
        QDeadlineTimer deadline(kEventWaitMs);
        while (!(said += source.readAllStandardOutput()).contains(word) && !deadline.hasExpired()) {
            source.waitForReadyRead(100);
        }
        return said.contains(word);
    }

    // Polls `done` while the pasteboard's connection is served, up to `ms`: a bound for a failure
    // only, since every wait ends with the event it waits for.
    static constexpr int kEventWaitMs = 20000;
    static bool waitFor(const std::function<bool()>& done, int ms = kEventWaitMs) {
        QDeadlineTimer deadline(ms);
        while (!done()) {
            if (deadline.hasExpired()) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

    // Presses over the source and drags towards the notch, the button held. One gesture, however
    // late the source takes it: a second one would meet the first in the source's queue.
    static bool pressAndDrag() {
        return xdotool({"mousemove", "100", "100", "mousedown", "1"}) == 0 && xdotool({"mousemove", "300", "20"}) == 0 &&
               xdotool({"mousemove", "720", "10"}) == 0;
    }

    static void stopSource(QProcess& source) {
        source.kill();
        source.waitForFinished(5000);
    }

    static testsupport::PrivateXServer* x;
    std::unique_ptr<testsupport::ScopedEnvironment> display;
};

testsupport::PrivateXServer* XdndDragTest::x = nullptr;

// A source answers a request for its drag's data only when made at the time it last sent a drop
// target, or at no time while the pointer is over none. A drag is read whether the source takes
// the gesture at once or late (a stopped source stands for a busy one), and not after the drop.
TEST_F(XdndDragTest, AFileDragIsReadWhileItRunsAndNotAfterTheDrop) {
    platform::X11XdndPasteboard pasteboard(x->display().toLocal8Bit());
    ASSERT_TRUE(pasteboard.start());
    EXPECT_FALSE(pasteboard.canReadFileURLs());
    auto source = startSource({QStringLiteral("file:///etc/hostname"), QStringLiteral("https://example.com/")});
    const auto busy = [&](bool stopped) {
        ASSERT_EQ(::kill(static_cast<pid_t>(source->processId()), stopped ? SIGSTOP : SIGCONT), 0);
    };
    const auto drop = [&] {
        ASSERT_EQ(xdotool({"mouseup", "1"}), 0);
        EXPECT_TRUE(waitFor([&] { return !pasteboard.isSessionActive(); }));
        EXPECT_FALSE(pasteboard.canReadFileURLs()) << "the source still owns the selection, but the drag is over";
    };

    ASSERT_TRUE(pressAndDrag());
    EXPECT_TRUE(waitFor([&] { return pasteboard.canReadFileURLs(); }));
    drop();
    // Until its drag has ended the source holds the pointer, and a press would be the drag's.
    ASSERT_TRUE(saidBySource(*source, "finished"));

    // Taken after the pointer left its window for none that takes drops, the source refuses a
    // request made at the time it took the selection.
    busy(true);
    ASSERT_TRUE(pressAndDrag());
    busy(false);
    EXPECT_TRUE(waitFor([&] { return pasteboard.canReadFileURLs(); }));
    drop();

    stopSource(*source);
}

// A source that refuses the requests (as a Qt source does while they carry another time than the
// one it last sent a drop target) is asked again at the next look, until it answers. The source
// here is a window of the test's own that takes the selection and answers as told.
TEST_F(XdndDragTest, ASourceThatRefusedIsAskedAgainAtTheNextLook) {
    platform::X11XdndPasteboard pasteboard(x->display().toLocal8Bit());
    ASSERT_TRUE(pasteboard.start());
    xcb_connection_t* c = xcb_connect(x->display().toLocal8Bit().constData(), nullptr);
    const auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return found;
    };
    const xcb_atom_t selection = atom("XdndSelection");
    const xcb_atom_t uriList = atom("text/uri-list");
    const xcb_window_t owner = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0, 1,
                      1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, owner, selection, XCB_CURRENT_TIME);
    xcb_flush(c);
    int refused = 0;
    const auto serve = [&](bool answer) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
                const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
                xcb_selection_notify_event_t notify{};
                notify.response_type = XCB_SELECTION_NOTIFY;
                notify.time = request->time;
                notify.requestor = request->requestor;
                notify.selection = request->selection;
                notify.target = request->target;
                if (answer && request->target == uriList) {
                    const QByteArray list = "file:///etc/hostname\r\n";
                    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, request->property, uriList, 8,
                                        static_cast<uint32_t>(list.size()), list.constData());
                    notify.property = request->property;
                } else {
                    ++refused;
                }
                xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
            }
            std::free(event);
        }
        xcb_flush(c);
    };

    EXPECT_TRUE(waitFor([&] {
        serve(false);
        return refused == 2;  // at the owner's time and at none
    }));
    EXPECT_TRUE(waitFor([&] {
        serve(true);
        return pasteboard.canReadFileURLs();
    }));
    EXPECT_EQ(refused, 2);
    xcb_destroy_window(c, owner);
    xcb_flush(c);
    EXPECT_TRUE(waitFor([&] { return !pasteboard.isSessionActive(); }));
    xcb_disconnect(c);
}

// The server's pointer as the notch reads it: a move with the left button held is a drag (of a
// file, say), a move with no button held is none.
TEST_F(XdndDragTest, TheServersPointerTellsAMoveFromADragByTheHeldButton) {
    const auto source = platform::PolledPointerMonitor::x11Source(x->display().toLocal8Bit());
    ASSERT_TRUE(source);
    // Each move follows the button change over the same connection: once the server reports the
    // pointer there, it has taken the change.
    const auto kindAfter = [&](const QStringList& steps, QPoint pixel) {
        EXPECT_EQ(xdotool(steps), 0);
        std::optional<platform::PointerSample> sample;
        EXPECT_TRUE(waitFor([&] { return (sample = source()) && sample->pixel == pixel; }));
        return sample ? std::optional(platform::pointerEventKind(sample->buttons)) : std::nullopt;
    };
    EXPECT_EQ(kindAfter({"mousemove", "300", "300"}, {300, 300}), PointerEventKind::mouseMoved);
    EXPECT_EQ(kindAfter({"mousedown", "1", "mousemove", "320", "300"}, {320, 300}), PointerEventKind::leftMouseDragged);
    EXPECT_EQ(kindAfter({"mouseup", "1", "mousemove", "340", "300"}, {340, 300}), PointerEventKind::mouseMoved);
    EXPECT_EQ(kindAfter({"mousedown", "3", "mousemove", "360", "300"}, {360, 300}), PointerEventKind::rightMouseDragged);
    EXPECT_EQ(xdotool({"mouseup", "3"}), 0);
    EXPECT_FALSE(platform::PolledPointerMonitor::x11Source(":nonexistent.9"));
}

// Every motion the server makes is heard where it records: a program's absolute XTest motion and
// a warp (xdotool's mousemove) as well as a device's. Raw motion, the fallback, hears XTest only.
TEST_F(XdndDragTest, TheMotionWatchHearsEveryPointerMovementTheServerMakes) {
    xcb_connection_t* c = xcb_connect(x->display().toLocal8Bit().constData(), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const auto fakeMotion = [&](int x, int y) {
        xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, static_cast<int16_t>(x), static_cast<int16_t>(y), 0);
        xcb_flush(c);
    };
    const auto warp = [&](int x, int y) {
        xcb_warp_pointer(c, XCB_NONE, root, 0, 0, 0, 0, static_cast<int16_t>(x), static_cast<int16_t>(y));
        xcb_flush(c);
    };

    // Another program's window over the screen hears the motion itself: none reaches the root.
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {1, XCB_EVENT_MASK_POINTER_MOTION};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, screen->width_in_pixels, screen->height_in_pixels, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(c, window);
    xcb_flush(c);

    // The server records once start returns (and again once listening resumes), so the first motion
    // after it is heard.
    const auto recording = [&](uint32_t context) {
        auto* reply = xcb_record_get_context_reply(c, xcb_record_get_context(c, context), nullptr);
        const bool enabled = reply && reply->enabled;
        std::free(reply);
        return enabled;
    };
    int batches = 0;
    auto watch = platform::X11MotionWatch::start([&] { ++batches; }, x->display().toLocal8Bit());
    ASSERT_TRUE(watch);
    EXPECT_EQ(watch->source(), platform::X11MotionWatch::Source::record);
    EXPECT_TRUE(recording(watch->recordContext()));
    warp(700, 300);
    EXPECT_TRUE(waitFor([&] { return batches > 0; }));
    fakeMotion(710, 300);
    int seen = batches;
    EXPECT_TRUE(waitFor([&] { return batches > seen; }));
    // Not listening, nothing is heard; listening again, the next warp is.
    watch->setListening(false);
    seen = batches;
    warp(600, 300);
    waitFor([] { return false; }, 300);
    EXPECT_EQ(batches, seen);
    watch->setListening(true);
    EXPECT_TRUE(recording(watch->recordContext()));
    warp(650, 310);
    EXPECT_TRUE(waitFor([&] { return batches > seen; }));
    watch.reset();

    int rawBatches = 0;
    auto raw = platform::X11MotionWatch::start([&] { ++rawBatches; }, x->display().toLocal8Bit(), false);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->source(), platform::X11MotionWatch::Source::rawMotion);
    fakeMotion(720, 300);
    EXPECT_TRUE(waitFor([&] { return rawBatches > 0; }));
    seen = rawBatches;
    warp(500, 500);
    waitFor([] { return false; }, 300);
    EXPECT_EQ(rawBatches, seen) << "raw motion hears no warp";
    xcb_destroy_window(c, window);
    xcb_disconnect(c);
    EXPECT_FALSE(platform::X11MotionWatch::start([] {}, ":nonexistent.9"));
}

TEST_F(XdndDragTest, TextAndWebAddressesAreNoFileDrag) {
    platform::X11XdndPasteboard pasteboard(x->display().toLocal8Bit());
    ASSERT_TRUE(pasteboard.start());
    for (const QString& item : {QStringLiteral("text:hello"), QStringLiteral("https://example.com/a.png")}) {
        SCOPED_TRACE(item.toStdString());
        auto source = startSource({item});
        // The session starts and the source answers; the answer holds no file.
        ASSERT_TRUE(pressAndDrag());
        EXPECT_TRUE(waitFor([&] { return pasteboard.isSessionActive() && pasteboard.offersFileUrls().has_value(); }));
        EXPECT_FALSE(pasteboard.canReadFileURLs());
        xdotool({"mouseup", "1"});
        EXPECT_TRUE(waitFor([&] { return !pasteboard.isSessionActive(); }));
        stopSource(*source);
    }
}
