// The overlay on a Linux desktop: the built application on a private X server with openbox,
// dunst serving notifications on a private session bus, and xterm as the application that posts
// them. Clicks and scrolls are made through XTest (xdotool); every wait ends as soon as what it
// waits for arrives.

#include "support/app_process.h"
#include "support/service_fixtures.h"
#include "support/window_manager.h"
#include "window_shapes.h"

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

using testsupport::AppProcess;
using testsupport::kAppStartTimeoutMs;

int xdotool(const QStringList& arguments, QString* output = nullptr) {
    return testsupport::runTool(QStringLiteral("xdotool"), arguments, output);
}

// Moves the pointer to (x, y) with a real motion at the end (a bare move is a warp, which sends
// the window under it no motion), then presses `button` once.
int clickAt(int x, int y, int button = 1) {
    return xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y + 1), QStringLiteral("mousemove_relative"),
                    QStringLiteral("--"), QStringLiteral("0"), QStringLiteral("-1"), QStringLiteral("click"),
                    QString::number(button)});
}

// Moves the pointer to (x, y) with a real motion at the end, then scrolls up `steps` wheel steps
// a tenth of a second apart. One xdotool sends them all: a program started per step may take
// longer than the gap that ends a swipe.
int swipeUpAt(int x, int y, int steps) {
    const int moved = xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y + 1),
                               QStringLiteral("mousemove_relative"), QStringLiteral("--"), QStringLiteral("0"), QStringLiteral("-1")});
    if (moved != 0) return moved;
    return xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(steps), QStringLiteral("--delay"),
                    QStringLiteral("100"), QStringLiteral("4")});
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

// Reads the X server's state on a connection of its own.
class XServerView {
public:
    XServerView() : c_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~XServerView() { xcb_disconnect(c_); }
    XServerView(const XServerView&) = delete;
    XServerView& operator=(const XServerView&) = delete;

    uint32_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const uint32_t value = reply ? reply->atom : 0;
        std::free(reply);
        return value;
    }
    std::vector<uint32_t> cardinals(uint32_t window, const char* property, uint32_t type) {
        std::vector<uint32_t> values;
        auto* reply = xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, atom(property), type, 0, 4096), nullptr);
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply));
            values.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return values;
    }
    QString text(uint32_t window, const char* property) {
        auto* reply = xcb_get_property_reply(c_, xcb_get_property(c_, 0, window, atom(property), XCB_ATOM_ANY, 0, 1024), nullptr);
        QString value;
        if (reply && reply->format == 8)
            value = QString::fromLatin1(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
        std::free(reply);
        return value;
    }
    // The managed windows whose WM_CLASS names `instance`.
    std::vector<uint32_t> clientsOf(const QString& instance) {
        std::vector<uint32_t> found;
        for (uint32_t window : cardinals(root_, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW)) {
            if (text(window, "WM_CLASS").section(QLatin1Char('\0'), 0, 0) == instance) found.push_back(window);
        }
        return found;
    }
    bool isMapped(uint32_t window) {
        auto* reply = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr);
        const bool mapped = reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
        std::free(reply);
        return mapped;
    }
    // openbox's workspace, which its wheel over the bare desktop switches.
    int currentDesktop() {
        const auto values = cardinals(root_, "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL);
        return values.empty() ? -1 : static_cast<int>(values.front());
    }
    // The top-level window the pointer is in, input-only ones too; 0 over the bare desktop.
    uint32_t windowUnderPointer() {
        auto* reply = xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr);
        const uint32_t child = reply ? reply->child : 0;
        std::free(reply);
        return child;
    }
    uint32_t activeWindow() {
        const auto values = cardinals(root_, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
        return values.empty() ? 0 : values.front();
    }
    // The top-level windows carrying `property`, with their values.
    std::vector<std::pair<QRect, std::vector<uint32_t>>> windowsWith(const char* property) {
        std::vector<std::pair<QRect, std::vector<uint32_t>>> found;
        auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, root_), nullptr);
        if (!tree) return found;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            std::vector<uint32_t> values = cardinals(children[i], property, XCB_ATOM_CARDINAL);
            if (values.empty()) continue;
            auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, children[i]), nullptr);
            if (g) found.emplace_back(QRect(g->x, g->y, g->width, g->height), std::move(values));
            std::free(g);
        }
        std::free(tree);
        return found;
    }
    // A normal window the window manager manages, to take the focus from others.
    uint32_t createWindow(const QRect& at) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const uint32_t window = xcb_generate_id(c_);
        const uint32_t values[] = {screen->white_pixel};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, root_, static_cast<int16_t>(at.x()), static_cast<int16_t>(at.y()),
                          static_cast<uint16_t>(at.width()), static_cast<uint16_t>(at.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
        static const char wmClass[] = "other\0Other";
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof(wmClass), wmClass);
        xcb_map_window(c_, window);
        xcb_flush(c_);
        return window;
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
};

// The replies the X server sends the client owning `window` between construction and stop(): the
// requests that client waited for. Recorded with RECORD, on connections of the test's own.
class ClientReplies {
public:
    explicit ClientReplies(uint32_t window) : control_(xcb_connect(nullptr, nullptr)), data_(xcb_connect(nullptr, nullptr)) {
        const xcb_query_extension_reply_t* record = xcb_get_extension_data(control_, &xcb_record_id);
        if (!record || !record->present) return;
        std::free(xcb_record_query_version_reply(control_, xcb_record_query_version(control_, 1, 13), nullptr));
        context_ = xcb_generate_id(control_);
        xcb_record_client_spec_t client = window;
        xcb_record_range_t range{};
        range.core_replies.first = 1;
        range.core_replies.last = 127;
        range.ext_replies.major.first = 128;
        range.ext_replies.major.last = 255;
        range.ext_replies.minor.last = 0xffff;
        if (xcb_generic_error_t* error =
                xcb_request_check(control_, xcb_record_create_context_checked(control_, context_, 0, 1, 1, &client, &range))) {
            std::free(error);
            return;
        }
        sequence_ = xcb_record_enable_context(data_, context_).sequence;
        xcb_flush(data_);
        recording_ = next(nullptr) == kStartOfData;
    }
    ~ClientReplies() {
        xcb_disconnect(data_);
        xcb_disconnect(control_);
    }
    ClientReplies(const ClientReplies&) = delete;
    ClientReplies& operator=(const ClientReplies&) = delete;

    bool recording() const { return recording_; }
    // Ends the recording (the server then sends all it kept) and counts the replies.
    int stop() {
        if (!recording_) return -1;
        recording_ = false;
        xcb_record_disable_context(control_, context_);
        xcb_flush(control_);
        int replies = 0;
        for (int category = 0; category >= 0 && category != kEndOfData;) category = next(&replies);
        return replies;
    }

private:
    // The RECORD protocol's categories of recorded data (xcb names none).
    static constexpr int kFromServer = 0;
    static constexpr int kStartOfData = 4;
    static constexpr int kEndOfData = 5;

    // The next piece of recorded data, its replies added to `replies`; its category, -1 at an error.
    int next(int* replies) {
        xcb_record_enable_context_reply_t* reply =
            xcb_record_enable_context_reply(data_, xcb_record_enable_context_cookie_t{sequence_}, nullptr);
        if (!reply) return -1;
        const int category = reply->category;
        if (category == kFromServer && replies) {
            const auto* data = xcb_record_enable_context_data(reply);
            const int length = xcb_record_enable_context_data_length(reply);
            // Replies only were asked for: 32 bytes and their length's 4-byte units each.
            for (int at = 0; at + 32 <= length; ++(*replies)) {
                uint32_t units = 0;
                std::memcpy(&units, data + at + 4, sizeof units);
                at += 32 + 4 * static_cast<int>(units);
            }
        }
        std::free(reply);
        return category;
    }

    xcb_connection_t* control_;
    xcb_connection_t* data_;
    uint32_t context_ = 0;
    unsigned int sequence_ = 0;
    bool recording_ = false;
};

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
        ready_ = app_->waitForLine("info Monitoring started successfully", kAppStartTimeoutMs);
        ASSERT_GE(ready_, 0) << app_->transcript().toStdString();
    }

    // Posts a notification and waits until the overlay's card has grown to `atRest`: its spring
    // overshoots on the way and matches that rectangle whole only at rest.
    void notify(const QStringList& arguments, const QRect& atRest) {
        QString output;
        ASSERT_EQ(testsupport::runTool(QStringLiteral("notify-send"), arguments, &output), 0) << output.toStdString();
        shown_ = app_->waitForPrefix("debug IslandQueue: Emitting state - visible: true", kAppStartTimeoutMs, shown_ + 1);
        ASSERT_GE(shown_, 0) << app_->transcript().toStdString();
        uint32_t overlay = 0;
        ASSERT_TRUE(waitUntil(*app_, [&] { return (overlay = e2e::topWindowAt(atRest.center())) != 0; }, kAppStartTimeoutMs))
            << app_->transcript().toStdString();
        e2e::WindowShapes shapes;
        ASSERT_TRUE(e2e::waitForShapes(
            *app_, overlay,
            [&](const e2e::WindowShapes& s) { return s.bounding.boundingRect() == atRest && s.clicks().boundingRect() == atRest; },
            &shapes))
            << e2e::describe(shapes).toStdString();
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
};

// The split pill's two capsules at rest: x 535 to 905, y 3 to 39.
const QRect kSplitPillAtRest(535, 3, 370, 36);
constexpr int kCardX = 560;
constexpr int kCardY = 20;
const QByteArray kSplitPill = R"({"overlayDisplayTimeout": 30, "enableNotchFeatures": false})";

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
    ASSERT_EQ(server.currentDesktop(), 0);
    uint32_t overlay = 0;
    for (const int x : {kCardX, 720}) {
        ASSERT_NO_FATAL_FAILURE(
            notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kSplitPillAtRest));
        overlay = e2e::topWindowAt(kSplitPillAtRest.center());
        // Six steps, the swipe outlasting the hide.
        ASSERT_EQ(swipeUpAt(x, kCardY, 6), 0);
        ASSERT_TRUE(waitUntil(*app_, [&] { return server.windowUnderPointer() == 0; })) << app_->transcript().toStdString();
        EXPECT_FALSE(server.isMapped(overlay));
        EXPECT_EQ(server.currentDesktop(), 0) << x;
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
    ASSERT_EQ(xdotool({QStringLiteral("click"), QStringLiteral("4")}), 0);
    ASSERT_TRUE(waitUntil(*app_, [&] { return server.windowUnderPointer() == 0; })) << app_->transcript().toStdString();
    ASSERT_EQ(xdotool({QStringLiteral("click"), QStringLiteral("4")}), 0);
    EXPECT_TRUE(waitUntil(*app_, [&] { return server.currentDesktop() == 3; })) << server.currentDesktop();
}

// A slow machine, made here by frames that each hold the application longer than the swipe's
// steps are apart: the application reads the steps long after the server saw them, and the rest
// of the swipe that sent the card away still lands on the overlay. Once the swipe has ended, the
// desktop's wheel turns openbox's workspace by one step: the first of them to reach it.
TEST_F(OverlayDesktopTest, OnASlowMachineTheRestOfTheSwipeThatSentTheCardAwayNeverReachesTheDesktop) {
    QProcessEnvironment slow;
    slow.insert(QStringLiteral("QUILLVEX_TEST_FRAME_MS"), QStringLiteral("500"));
    ASSERT_NO_FATAL_FAILURE(startApp(kSplitPill, {}, slow));
    XServerView server;
    ASSERT_NO_FATAL_FAILURE(
        notify({QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")}, kSplitPillAtRest));
    ASSERT_EQ(swipeUpAt(kCardX, kCardY, 25), 0);
    ASSERT_TRUE(waitUntil(*app_, [&] { return server.windowUnderPointer() == 0; })) << app_->transcript().toStdString();
    ASSERT_EQ(xdotool({QStringLiteral("click"), QStringLiteral("4")}), 0);
    ASSERT_TRUE(waitUntil(*app_, [&] { return server.currentDesktop() != 0; }));
    EXPECT_EQ(server.currentDesktop(), 3);
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
    });
    ASSERT_TRUE(found) << bounds.width() << "x" << bounds.height() << "\n" << app_->transcript().toStdString();
    EXPECT_EQ(bounds.translated(window.topLeft()).center().x(), 720 - 1);
    EXPECT_TRUE(window.contains(bounds.translated(window.topLeft())));
}

}  // namespace
