// The built application on a private X server (1440 x 900) and a private session bus with a fake
// desktop player and a notification daemon. The notch panel is looked up among the server's
// windows; the log on standard error is followed line by line, and every wait ends as soon as
// the expected line or window arrives.

#include "support/app_process.h"
#include "support/service_fixtures.h"
#include "support/window_manager.h"
#include "window_shapes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <map>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace {

using testsupport::AppProcess;
using testsupport::kAppStartTimeoutMs;

// Whether a viewable window of the application stands at `geometry` ("620x32+410+0").
bool windowShownAt(const QString& geometry) {
    QString tree;
    if (testsupport::runTool(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")}, &tree) != 0)
        return false;
    static const QRegularExpression line(QStringLiteral("^\\s*(0x[0-9a-f]+) .*\\s(\\d+x\\d+\\+-?\\d+\\+-?\\d+)\\s"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(tree); it.hasNext();) {
        const auto match = it.next();
        if (match.captured(2) != geometry) continue;
        QString info;
        if (testsupport::runTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), match.captured(1)}, &info) == 0 &&
            info.contains(QStringLiteral("Map State: IsViewable")))
            return true;
    }
    return false;
}

// Polls the server's windows while reading the log, up to `timeoutMs`.
bool waitForWindow(AppProcess& app, const QString& geometry, bool shown, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (windowShownAt(geometry) == shown) return true;
        if (deadline.hasExpired()) return false;
        app.pump();
        QThread::msleep(50);
    }
}

// The ids of the windows titled `title`, mapped or not.
QStringList windowsTitled(const QString& title) {
    QString ids;
    if (testsupport::runTool(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                                         QLatin1Char('^') + title + QLatin1Char('$')},
                             &ids) != 0)
        return {};
    return ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Asks the windows titled `title` to close, as a window manager's close button does; false until
// one is found and the server has taken the request.
bool closeWindowsTitled(const QString& title) {
    const QStringList ids = windowsTitled(title);
    if (ids.isEmpty()) return false;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return value;
    };
    bool sent = false;
    for (const QString& id : ids) {
        bool ok = false;
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id.trimmed().toUInt(&ok);
        if (!ok) continue;
        event.type = atom("WM_PROTOCOLS");
        event.data.data32[0] = atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        // Checked, so the server has handled the request before the connection goes: requests
        // still unread when a client hangs up are dropped with it, and a loaded server often has
        // not read them yet.
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_send_event_checked(c, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event)));
        if (!error && !xcb_connection_has_error(c)) sent = true;
        std::free(error);
    }
    xcb_disconnect(c);
    return sent;
}

// Whether `window` stands above `other`, over a connection of its own, with a round trip.
bool stacksAbove(xcb_window_t window, xcb_window_t other) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    bool above = false;
    if (!xcb_connection_has_error(c)) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        if (xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr)) {
            // Bottom to top.
            const xcb_window_t* children = xcb_query_tree_children(tree);
            const int count = xcb_query_tree_children_length(tree);
            const auto at = [&](xcb_window_t w) { return std::find(children, children + count, w) - children; };
            above = at(window) < count && at(other) < at(window);
            std::free(tree);
        }
    }
    xcb_disconnect(c);
    return above;
}

// How the windows titled `title` stand, for a failure message.
QString describeWindowsTitled(const QString& title) {
    QString description;
    for (const QString& id : windowsTitled(title)) {
        QString info;
        testsupport::runTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id.trimmed()}, &info);
        static const QRegularExpression wanted(QStringLiteral("(Window id: .*|-geometry .*|Map State: .*)"));
        for (auto it = wanted.globalMatch(info); it.hasNext();) description += it.next().captured(1) + QLatin1Char('\n');
    }
    return description.isEmpty() ? QStringLiteral("no window titled ") + title + QLatin1Char('\n') : description;
}

int xdotool(const QStringList& arguments) { return testsupport::runTool(QStringLiteral("xdotool"), arguments); }

// Moves the pointer as a device does, ending with XTest motion: `mousemove` alone warps it, which
// moves no device, and the notch sees a warp only at the next real movement.
int pointerTo(int x, int y) {
    return xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y + 1),
                    QStringLiteral("mousemove_relative"), QStringLiteral("--"), QStringLiteral("0"), QStringLiteral("-1")});
}

// An ordinary window of another program under the top of the screen, counting the clicks it gets.
class WindowBeneath {
public:
    explicit WindowBeneath(const QRect& at) {
        c_ = xcb_connect(nullptr, nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        const uint32_t values[] = {screen->white_pixel, 1, XCB_EVENT_MASK_BUTTON_PRESS};
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, static_cast<int16_t>(at.x()),
                          static_cast<int16_t>(at.y()), static_cast<uint16_t>(at.width()),
                          static_cast<uint16_t>(at.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c_, window_);
        xcb_flush(c_);
    }
    ~WindowBeneath() { xcb_disconnect(c_); }
    xcb_window_t id() const { return window_; }
    // The clicks so far, waiting up to `timeoutMs` for at least `expected`.
    int clicksAfterWaiting(int expected, int timeoutMs = 10000) {
        QDeadlineTimer deadline(timeoutMs);
        while (clicks() < expected && !deadline.hasExpired()) QThread::msleep(20);
        return clicks();
    }
    int clicks() {
        while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
            if ((e->response_type & 0x7f) == XCB_BUTTON_PRESS) ++clicks_;
            std::free(e);
        }
        return clicks_;
    }

private:
    xcb_connection_t* c_ = nullptr;
    xcb_window_t window_ = 0;
    int clicks_ = 0;
};

// A desktop player playing "Song" by "Band".
std::unique_ptr<testsupport::DBusMock> startPlayingSong(testsupport::PrivateBus& bus, QString* error) {
    return testsupport::DBusMock::startMprisPlayer(
        bus, QStringLiteral("mockplayer"),
        {{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")},
         {QStringLiteral("Metadata"), QVariantMap{{QStringLiteral("xesam:title"), QStringLiteral("Song")},
                                                  {QStringLiteral("xesam:artist"), QStringList{QStringLiteral("Band")}}}}},
        error);
}

// A program the test starts and stops (a terminal), killed with the test.
std::unique_ptr<QProcess> startProgram(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    testsupport::dieWithTest(*process);
    process->start(program, arguments);
    return process->waitForStarted(5000) ? std::move(process) : nullptr;
}

// The top-level window under the pointer at (x, y), as xdotool finds it; 0 when none.
// The pointer goes back to rest at once: left on the notch it would open the hover, which widens
// what the panel draws and takes.
uint32_t windowUnderPointer(int x, int y) {
    QString output;
    if (testsupport::runTool(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(x), QString::number(y),
                                                        QStringLiteral("getmouselocation"), QStringLiteral("--shell"),
                                                        QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("500")},
                             &output) != 0)
        return 0;
    static const QRegularExpression window(QStringLiteral("WINDOW=(\\d+)"));
    return window.match(output).captured(1).toUInt();
}

// The viewable window of the application at `geometry`; 0 when there is none.
uint32_t windowAt(const QString& geometry) {
    QString tree;
    testsupport::runTool(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")}, &tree);
    static const QRegularExpression line(QStringLiteral("^\\s*(0x[0-9a-f]+) .*\\s(\\d+x\\d+\\+-?\\d+\\+-?\\d+)\\s"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(tree); it.hasNext();) {
        const auto match = it.next();
        if (match.captured(2) == geometry && windowShownAt(geometry)) return match.captured(1).toUInt(nullptr, 16);
    }
    return 0;
}

// The x of every black pixel of the screen's row `y` from `left` to `right` (a screenshot).
QList<int> blackPixelsOfRow(int y, int left, int right) {
    QString pixels;
    testsupport::runTool(QStringLiteral("import"),
                         {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                          QStringLiteral("%1x1+%2+%3").arg(right - left).arg(left).arg(y), QStringLiteral("txt:-")},
                         &pixels);
    static const QRegularExpression pixel(QStringLiteral("^(\\d+),0: \\((\\d+),(\\d+),(\\d+)"), QRegularExpression::MultilineOption);
    QList<int> black;
    for (auto it = pixel.globalMatch(pixels); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(2).toInt() < 24 && m.captured(3).toInt() < 24 && m.captured(4).toInt() < 24)
            black << left + m.captured(1).toInt();
    }
    return black;
}

// The white pixels inside the black band the panel draws (x 410 to 1030, rows 6 to 25): an
// activity's symbol, where an empty view leaves the band black.
int whitePixelsInTheBand() {
    QString pixels;
    testsupport::runTool(QStringLiteral("import"),
                         {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                          QStringLiteral("620x20+410+6"), QStringLiteral("txt:-")},
                         &pixels);
    static const QRegularExpression pixel(QStringLiteral("^(\\d+),(\\d+): \\((\\d+),(\\d+),(\\d+)"),
                                          QRegularExpression::MultilineOption);
    std::map<int, std::pair<int, int>> band;  // row: first and last black x
    std::map<int, QList<int>> white;
    for (auto it = pixel.globalMatch(pixels); it.hasNext();) {
        const auto m = it.next();
        const int x = m.captured(1).toInt();
        const int y = m.captured(2).toInt();
        const int r = m.captured(3).toInt(), g = m.captured(4).toInt(), b = m.captured(5).toInt();
        if (r < 24 && g < 24 && b < 24) {
            auto [at, fresh] = band.try_emplace(y, x, x);
            if (!fresh) at->second = {std::min(at->second.first, x), std::max(at->second.second, x)};
        } else if (r > 200 && g > 200 && b > 200) {
            white[y] << x;
        }
    }
    int inside = 0;
    for (const auto& [y, xs] : white) {
        const auto row = band.find(y);
        if (row == band.end()) continue;
        for (int x : xs) inside += x > row->second.first && x < row->second.second;
    }
    return inside;
}

// Whether a bounding shape cuts the window: without one it is drawn whole.
bool isShaped(uint32_t window) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    auto* extents = xcb_shape_query_extents_reply(c, xcb_shape_query_extents(c, window), nullptr);
    const bool shaped = extents && extents->bounding_shaped;
    std::free(extents);
    xcb_disconnect(c);
    return shaped;
}

// The mini player's band at rest, x 582 to 858. Its spring overshoots by two pixels each side on the
// way, so the band is first this size while still moving: the checks made here allow for 580 to 860.
const QRect kBandAtRest(582, 0, 276, 32);
bool bandAtRest(const e2e::WindowShapes& shapes) {
    return shapes.bounding.boundingRect() == kBandAtRest && shapes.clicks().boundingRect() == kBandAtRest;
}

// How many times the hover detector has heard the pointer enter the notch, and how many times it has
// collapsed since, after line `from`. Equal once it has let go of every visit.
std::pair<int, int> hoverVisits(const AppProcess& app, int from) {
    int entered = 0;
    int collapsed = 0;
    for (qsizetype i = from + 1; i < app.lines().size(); ++i) {
        const QString& line = app.lines()[i];
        if (line.endsWith(QLatin1String("NotchHoverDetector: Mouse entered notch area"))) ++entered;
        if (line.contains(QLatin1String("info NotchHoverDetector: Collapsed notch"))) ++collapsed;
    }
    return {entered, collapsed};
}

// Stands in for a compositing manager: owns the screen's compositor selection while it lives.
class CompositorSelection {
public:
    CompositorSelection() {
        c_ = xcb_connect(nullptr, nullptr);
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        const xcb_window_t window = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, screen->root, -10, -10, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        auto* atom = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, 13, "_NET_WM_CM_S0"), nullptr);
        xcb_set_selection_owner(c_, window, atom->atom, XCB_CURRENT_TIME);
        std::free(atom);
        xcb_flush(c_);
    }
    ~CompositorSelection() { xcb_disconnect(c_); }

private:
    xcb_connection_t* c_ = nullptr;
};

}  // namespace

TEST(NotchEndToEnd, MusicShowsThePanelAtTheNotchHoverOpensItAndANotificationTakesTheNotchAndGivesItBack) {
    QString error;
    if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
    for (const char* tool : {"xwininfo", "xdotool", "import"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QUILLVEX_SERVICE_MISSING(std::string(tool) + " is not installed");
    }
    auto x = testsupport::PrivateXServer::start(QStringLiteral("1440x900x24"), &error);
    ASSERT_TRUE(x) << error.toStdString();
    auto display = x->exportDisplay();
    auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(bus) << error.toStdString();
    auto daemon = testsupport::DBusMock::startNotificationDaemon(*bus, &error);
    ASSERT_TRUE(daemon) << error.toStdString();
    auto saver = testsupport::DBusMock::startScreenSaver(*bus, &error);
    ASSERT_TRUE(saver) << error.toStdString();
    ASSERT_EQ(xdotool({QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("500")}), 0);
    WindowBeneath beneath(QRect(0, 0, 1440, 400));

    testsupport::AppHome home;
    home.sessionBus = bus->address();
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("DISPLAY"), x->display());
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

    AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), env);
    ASSERT_TRUE(app.started());
    const int started = app.waitForLine("info Notch features started successfully", kAppStartTimeoutMs);
    ASSERT_GE(started, 0) << app.transcript().toStdString();
    // The notch window, the now-playing service and the hover detector start in this order.
    const int nowPlaying = app.waitForPrefix("info MediaRemoteService: Started monitoring", 0);
    const int hover = app.waitForLine("info NotchHoverDetector: Started monitoring", 0, nowPlaying);
    const int activities = app.waitForLine("info LiveActivityManager: Started", 0, hover);
    EXPECT_TRUE(nowPlaying >= 0 && hover > nowPlaying && activities > hover) << app.transcript().toStdString();
    ASSERT_TRUE(waitForWindow(app, QStringLiteral("620x32+410+0"), false, 1000));

    // A desktop player starts playing: the mini player's panel hangs from the top edge, centred.
    auto player = startPlayingSong(*bus, &error);
    ASSERT_TRUE(player) << error.toStdString();
    const int mini = app.waitForPrefix("info NotchStateManager: Switched to miniPlayer", kAppStartTimeoutMs, started);
    ASSERT_GE(mini, 0) << app.transcript().toStdString();
    ASSERT_TRUE(waitForWindow(app, QStringLiteral("620x32+410+0"), true, kAppStartTimeoutMs)) << app.transcript().toStdString();
    const uint32_t panel = windowAt(QStringLiteral("620x32+410+0"));
    ASSERT_NE(panel, 0u);
    // The band is 276 wide (x 582 to 858): a click beside it in the panel reaches the window below.
    const auto click = [](int x, int y) {
        return xdotool({QStringLiteral("mousemove"), QString::number(x), QString::number(y), QStringLiteral("click"),
                        QStringLiteral("1")});
    };
    e2e::WindowShapes shapes;
    ASSERT_TRUE(e2e::waitForShapes(app, panel, bandAtRest, &shapes)) << e2e::describe(shapes).toStdString();
    ASSERT_EQ(click(430, 10), 0);
    EXPECT_EQ(beneath.clicksAfterWaiting(1), 1);

    // The pointer on the top pixel row opens the expanded player; leaving closes it again.
    ASSERT_EQ(pointerTo(720, 0), 0);
    const int expanded = app.waitForLine("info NotchHoverDetector: Expanded notch", kAppStartTimeoutMs, mini);
    ASSERT_GE(expanded, 0) << app.transcript().toStdString();
    EXPECT_TRUE(waitForWindow(app, QStringLiteral("620x175+410+0"), true, kAppStartTimeoutMs));
    ASSERT_EQ(pointerTo(100, 500), 0);
    const int collapsed =
        app.waitForLine("info NotchHoverDetector: Collapsed notch to miniPlayer (after shrink)", kAppStartTimeoutMs, expanded);
    ASSERT_GE(collapsed, 0) << app.transcript().toStdString();
    EXPECT_TRUE(waitForWindow(app, QStringLiteral("620x32+410+0"), true, kAppStartTimeoutMs));
    // Open, the panel took input all over; back to the mini player, only the band again.
    ASSERT_TRUE(e2e::waitForShapes(app, panel, bandAtRest, &shapes)) << e2e::describe(shapes).toStdString();
    ASSERT_EQ(click(1020, 10), 0);
    EXPECT_EQ(beneath.clicksAfterWaiting(2), 2);
    ASSERT_EQ(xdotool({QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("500")}), 0);

    // The music stops: the panel shrinks away.
    ASSERT_TRUE(player->setProperty(QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("PlaybackStatus"),
                                    QStringLiteral("Paused")));
    int idle = app.waitForLine("info NotchStateManager: Switched to idle (music stopped, 2-phase dismiss)",
                                     kAppStartTimeoutMs, collapsed);
    ASSERT_GE(idle, 0) << app.transcript().toStdString();
    EXPECT_TRUE(waitForWindow(app, QStringLiteral("620x32+410+0"), false, kAppStartTimeoutMs));

    // Paused from outside, nothing is shown; play in the expanded notch resumes that player.
    ASSERT_EQ(pointerTo(720, 0), 0);
    const int notPlaying = app.waitForLine("info NotchHoverDetector: Expanded notch", kAppStartTimeoutMs, idle);
    ASSERT_GE(notPlaying, 0) << app.transcript().toStdString();
    ASSERT_TRUE(waitForWindow(app, QStringLiteral("620x175+410+0"), true, kAppStartTimeoutMs));
    const uint32_t open = windowAt(QStringLiteral("620x175+410+0"));
    ASSERT_NE(open, 0u);
    // Grown: the panel is drawn whole and the play button takes the click.
    const QPoint play(601, 104);
    ASSERT_TRUE(e2e::waitForShapes(
        app, open,
        [&](const e2e::WindowShapes& s) { return s.bounding.boundingRect() == QRect(410, 0, 620, 175) && s.clicks().contains(play); },
        &shapes))
        << e2e::describe(shapes).toStdString();
    player->clearCalls();
    ASSERT_EQ(click(play.x(), play.y()), 0);
    const int sent = app.waitForLine("info MediaRemoteService: No track shown; sent command 2 through the helper -> true",
                                     kAppStartTimeoutMs, notPlaying);
    EXPECT_GE(sent, 0) << app.transcript().toStdString();
    EXPECT_EQ(player->calledMethods().filter(QStringLiteral("Play")), QStringList{QStringLiteral("PlayPause")});
    EXPECT_GE(app.waitForLine("debug MediaRemoteService: Updated - Song by Band", kAppStartTimeoutMs, notPlaying), 0)
        << app.transcript().toStdString();
    ASSERT_EQ(pointerTo(100, 500), 0);
    ASSERT_GE(app.waitForLine("info NotchHoverDetector: Collapsed notch to miniPlayer (after shrink)", kAppStartTimeoutMs, notPlaying), 0)
        << app.transcript().toStdString();
    ASSERT_TRUE(player->setProperty(QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("PlaybackStatus"),
                                    QStringLiteral("Paused")));
    idle = app.waitForLine("info NotchStateManager: Switched to idle (music stopped, 2-phase dismiss)", kAppStartTimeoutMs,
                           notPlaying);
    ASSERT_GE(idle, 0) << app.transcript().toStdString();

    // A desktop notification takes the notch, and the notch returns when the overlay goes.
    {
        testsupport::ScopedEnvironment sendEnv;
        sendEnv.set("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
        QString output;
        ASSERT_EQ(testsupport::runTool(QStringLiteral("notify-send"),
                                       {QStringLiteral("-a"), QStringLiteral("Mail"), QStringLiteral("Lunch at noon")},
                                       &output),
                  0)
            << output.toStdString();
    }
    const int notification =
        app.waitForPrefix("info NotchStateManager: Switched to notification (saved previous mode: ", kAppStartTimeoutMs, idle);
    ASSERT_GE(notification, 0) << app.transcript().toStdString();
    const int back = app.waitForPrefix("info NotchStateManager: Returned from notification to ", 30000, notification);
    EXPECT_GE(back, 0) << app.transcript().toStdString();

    // The start found no calendar store to ask and opened no window; a second start opens the
    // settings window above the others. Closing it, the only window shown, leaves the application
    // running.
    EXPECT_TRUE(windowsTitled(QStringLiteral("Settings")).isEmpty())
        << describeWindowsTitled(QStringLiteral("Settings")).toStdString();
    {
        AppProcess second(QStringLiteral(QUILLVEX_EXECUTABLE), env);
        ASSERT_TRUE(second.started());
        ASSERT_TRUE(second.finish(kAppStartTimeoutMs));
        EXPECT_EQ(second.exitCode(), 0);
    }
    bool forward = false;
    for (QDeadlineTimer deadline(kAppStartTimeoutMs); !forward && !deadline.hasExpired(); QThread::msleep(20)) {
        app.pump();
        const QStringList ids = windowsTitled(QStringLiteral("Settings"));
        forward = ids.size() == 1 && stacksAbove(ids.first().trimmed().toUInt(), beneath.id());
    }
    ASSERT_TRUE(forward) << app.transcript().toStdString();
    bool asked = false;
    for (QDeadlineTimer deadline(5000); !asked && !deadline.hasExpired(); app.pump()) {
        asked = closeWindowsTitled(QStringLiteral("Settings"));
    }
    ASSERT_TRUE(asked);
    const int closed = app.waitForLine("info AppDelegate: Activation policy -> accessory [reason=settings-window-closed]",
                                       kAppStartTimeoutMs, back);
    ASSERT_GE(closed, 0) << app.transcript().toStdString() << "\n"
                         << describeWindowsTitled(QStringLiteral("Settings")).toStdString()
                         << app.threadStates().toStdString();
    EXPECT_FALSE(app.finish(1000)) << app.transcript().toStdString();

    // The screen locks: the band shows the padlock of the activity's own view.
    ASSERT_TRUE(saver->call(QStringLiteral("SetActive"), {true}, QStringLiteral("org.freedesktop.ScreenSaver")).ok());
    ASSERT_GE(app.waitForLine("info LiveActivityManager: Showing screenLock activity (persistent until unlock)",
                              kAppStartTimeoutMs, closed),
              0)
        << app.transcript().toStdString();
    int padlock = 0;
    for (QDeadlineTimer deadline(10000); (padlock = whitePixelsInTheBand()) == 0 && !deadline.hasExpired(); app.pump())
        QThread::msleep(50);
    EXPECT_GT(padlock, 0) << "the band drew no symbol";

    // Shutdown stops the notch features in their order: the hover detector, the now-playing
    // service, the system-event services, then the held ones.
    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
    EXPECT_EQ(app.exitCode(), 0);
    int previous = closed;
    for (const char* line : {"info NotchHoverDetector: Stopped monitoring", "info MediaRemoteService: Stopped monitoring",
                             "info ScreenLockService: Stopped", "info LiveActivityManager: Stopped",
                             "info LyricsService: Stopped"}) {
        const int at = app.waitForLine(QString::fromUtf8(line), 0, previous);
        EXPECT_GT(at, previous) << line << "\n" << app.transcript().toStdString();
        if (at > previous) previous = at;
    }
    EXPECT_FALSE(windowShownAt(QStringLiteral("620x32+410+0")));
}


// A plain desktop: openbox, no compositor, a terminal across the top and a private bus without a
// calendar store. The first start opens no window; the panel draws and takes clicks only on the
// mini player's band; a program's absolute move (a warp) onto the notch opens the hover.
TEST(NotchEndToEnd, OnAPlainDesktopThePanelIsShapedToWhatItDrawsAndAnAbsoluteMoveOpensIt) {
    QString error;
    if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
    for (const char* tool : {"xwininfo", "xdotool", "openbox", "xterm", "import"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QUILLVEX_SERVICE_MISSING(std::string(tool) + " is not installed");
    }
    auto x = testsupport::PrivateXServer::start(QStringLiteral("1440x900x24"), &error);
    ASSERT_TRUE(x) << error.toStdString();
    auto display = x->exportDisplay();
    auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(bus) << error.toStdString();
    auto windowManager = testsupport::startOpenbox(&error);
    ASSERT_TRUE(windowManager) << error.toStdString();
    auto terminal = startProgram(QStringLiteral("xterm"), {QStringLiteral("-geometry"), QStringLiteral("238x20+0+0"),
                                                           QStringLiteral("-bg"), QStringLiteral("white"),
                                                           QStringLiteral("-title"), QStringLiteral("t")});
    ASSERT_TRUE(terminal);
    ASSERT_EQ(xdotool({QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("500")}), 0);

    testsupport::AppHome home;
    home.sessionBus = bus->address();
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("DISPLAY"), x->display());
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QUILLVEX_SIMULATED_NOTCH"), QStringLiteral("200x32"));
    AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), env);
    ASSERT_TRUE(app.started());
    const int started = app.waitForLine("info Notch features started successfully", kAppStartTimeoutMs);
    ASSERT_GE(started, 0) << app.transcript().toStdString();
    // No calendar store answers: nothing could be granted, so no settings window asks.
    const int noStore = app.waitForLine(
        "warning AppDelegate: No calendar store on the session bus; continuing startup with calendar glance disabled",
        kAppStartTimeoutMs);
    EXPECT_GE(noStore, 0) << app.transcript().toStdString();

    auto player = startPlayingSong(*bus, &error);
    ASSERT_TRUE(player) << error.toStdString();
    const int mini = app.waitForPrefix("info NotchStateManager: Switched to miniPlayer", kAppStartTimeoutMs, started);
    ASSERT_GE(mini, 0) << app.transcript().toStdString();
    ASSERT_TRUE(waitForWindow(app, QStringLiteral("620x32+410+0"), true, kAppStartTimeoutMs)) << app.transcript().toStdString();
    const uint32_t panel = windowAt(QStringLiteral("620x32+410+0"));
    ASSERT_NE(panel, 0u);
    QString tree;
    testsupport::runTool(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")}, &tree);
    EXPECT_FALSE(tree.contains(QStringLiteral("\"Settings\""))) << tree.toStdString();
    e2e::WindowShapes shapes;
    ASSERT_TRUE(e2e::waitForShapes(app, panel, bandAtRest, &shapes)) << e2e::describe(shapes).toStdString();

    // Beside the band (x 582 to 858) the terminal is found and seen, not a black bar of ours.
    for (int at : {470, 970}) {
        const uint32_t under = windowUnderPointer(at, 10);
        EXPECT_NE(under, 0u);
        EXPECT_NE(under, panel) << "at x " << at;
    }
    EXPECT_EQ(windowUnderPointer(720, 10), panel);
    EXPECT_TRUE(isShaped(panel));
    for (int y : {10, 25}) {
        const QList<int> black = blackPixelsOfRow(y, 410, 1030);
        EXPECT_FALSE(black.isEmpty());
        QList<int> beside;
        for (int pixel : black)
            if (pixel < 580 || pixel > 860) beside << pixel;
        EXPECT_TRUE(beside.isEmpty()) << beside.size() << " black pixels beside the band at y " << y << ", from x "
                                      << beside.value(0);
    }

    // A compositor comes: transparency is honoured, the panel is whole again and still takes
    // clicks only on the band; it goes, and the panel is shaped again.
    {
        CompositorSelection compositor;
        EXPECT_TRUE(e2e::waitForShapes(
            app, panel,
            [](const e2e::WindowShapes& s) {
                return s.bounding.boundingRect() == QRect(410, 0, 620, 32) && s.clicks().boundingRect() == kBandAtRest;
            },
            &shapes))
            << e2e::describe(shapes).toStdString();
        EXPECT_FALSE(isShaped(panel));
        EXPECT_NE(windowUnderPointer(470, 10), panel);
        EXPECT_EQ(windowUnderPointer(720, 10), panel);
    }
    QDeadlineTimer deadline(kAppStartTimeoutMs);
    while (!isShaped(panel) && !deadline.hasExpired()) {
        app.pump();
        QThread::msleep(20);
    }
    EXPECT_TRUE(isShaped(panel));

    // A warp onto the notch, as remote desktops and xdotool move the pointer, opens the hover.
    // The checks above passed over the notch: away first (a real movement, which the detector
    // hears), until the detector has collapsed after every visit it heard, or coming back counts as
    // never having left. A visit it hears just after that count is taken spoils the approach, which
    // is then tried again.
    int expanded = -1;
    for (int attempt = 0; attempt < 3 && expanded < 0; ++attempt) {
        ASSERT_EQ(pointerTo(100, 500), 0);
        std::pair<int, int> visits;
        for (QDeadlineTimer deadline(kAppStartTimeoutMs); !deadline.hasExpired(); QThread::msleep(20)) {
            app.pump();
            visits = hoverVisits(app, mini);
            if (visits.first == visits.second) break;
        }
        ASSERT_EQ(visits.first, visits.second) << app.transcript().toStdString();
        ASSERT_EQ(xdotool({QStringLiteral("mousemove"), QStringLiteral("720"), QStringLiteral("5")}), 0);
        expanded = app.waitForLine("info NotchHoverDetector: Expanded notch", 10000, mini);
    }
    EXPECT_GE(expanded, 0) << app.transcript().toStdString();
    EXPECT_TRUE(waitForWindow(app, QStringLiteral("620x175+410+0"), true, kAppStartTimeoutMs));

    ASSERT_TRUE(app.signal(SIGTERM));
    ASSERT_TRUE(app.finish(kAppStartTimeoutMs)) << app.transcript().toStdString();
    terminal->kill();
    terminal->waitForFinished(5000);
    windowManager->stop();
}

TEST(OverlayEndToEnd, TheOverlayTakesClicksOnlyOnItsCardAndAClickAsksForNoFocus) {
    QString error;
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) QUILLVEX_SERVICE_MISSING("xdotool is not installed");
    auto x = testsupport::PrivateXServer::start(QStringLiteral("1440x900x24"), &error);
    ASSERT_TRUE(x) << error.toStdString();
    auto display = x->exportDisplay();
    auto bus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(bus) << error.toStdString();
    auto daemon = testsupport::DBusMock::startNotificationDaemon(*bus, &error);
    if (!daemon) QUILLVEX_SERVICE_MISSING(error.toStdString());
    WindowBeneath beneath(QRect(0, 0, 1440, 400));

    testsupport::AppHome home;
    home.sessionBus = bus->address();
    // The overlay stays long enough to be clicked under load.
    QDir().mkpath(home.filePath(QStringLiteral(".config/Quillvex")));
    QFile settings(home.filePath(QStringLiteral(".config/Quillvex/com.varnock.Quillvex.json")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(R"({"overlayDisplayTimeout": 30, "enableNotchFeatures": false})");
    settings.close();
    QProcessEnvironment env = home.environment();
    env.insert(QStringLiteral("DISPLAY"), x->display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // No installed application may answer to the sender's name: a click would launch it.
    env.insert(QStringLiteral("XDG_DATA_DIRS"), home.filePath(QStringLiteral(".local/share")));
    AppProcess app(QStringLiteral(QUILLVEX_EXECUTABLE), env);
    ASSERT_TRUE(app.started());
    const int ready = app.waitUntilWatching(kAppStartTimeoutMs);
    ASSERT_GE(ready, 0) << app.transcript().toStdString();
    {
        testsupport::ScopedEnvironment sendEnv;
        sendEnv.set("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
        ASSERT_EQ(testsupport::runTool(QStringLiteral("notify-send"), {QStringLiteral("-a"), QStringLiteral("Mail"),
                                                                      QStringLiteral("Lunch at noon")}),
                  0);
    }
    // The split pill at rest, 370 x 36 centred at the top edge: x 535 to 905, y 3 to 39.
    ASSERT_GE(app.waitForPrefix("debug IslandQueue: Emitting state - visible: true", kAppStartTimeoutMs, ready), 0)
        << app.transcript().toStdString();
    uint32_t overlay = 0;
    for (QDeadlineTimer deadline(kAppStartTimeoutMs); !overlay && !deadline.hasExpired(); QThread::msleep(20)) {
        app.pump();
        overlay = e2e::topWindowAt(QPoint(560, 20), beneath.id());
    }
    ASSERT_NE(overlay, 0u) << app.transcript().toStdString();
    // The grow has ended: the card's spring overshoots on the way and matches this rectangle whole
    // only at rest.
    const QRect card(535, 3, 370, 36);
    e2e::WindowShapes shapes;
    ASSERT_TRUE(e2e::waitForShapes(
        app, overlay,
        [&](const e2e::WindowShapes& s) { return s.bounding.boundingRect() == card && s.clicks().boundingRect() == card; },
        &shapes))
        << e2e::describe(shapes).toStdString();

    // Below the card, inside what the overlay's animations cover, the window beneath shows (no
    // compositor here to make the overlay's empty pixels transparent) and gets the click.
    QString pixel;
    ASSERT_EQ(testsupport::runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                             QStringLiteral("-crop"), QStringLiteral("1x1+720+120"),
                                                             QStringLiteral("txt:-")},
                                   &pixel),
              0);
    EXPECT_TRUE(pixel.contains(QStringLiteral("#FFFFFF"))) << pixel.toStdString();
    // The card grew without the window system reporting its new area exposed: it drew that area
    // itself, and its window still hears of exposures from elsewhere.
    ASSERT_EQ(testsupport::runTool(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                             QStringLiteral("-crop"), QStringLiteral("1x1+620+20"),
                                                             QStringLiteral("txt:-")},
                                   &pixel),
              0);
    EXPECT_FALSE(pixel.contains(QStringLiteral("#FFFFFF"))) << pixel.toStdString();
    {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        ASSERT_TRUE(tree);
        int overlays = 0;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr);
            xcb_get_window_attributes_reply_t* a =
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
            // The overlay's window: mapped, over the card's point, drawing (not the input-only one over it).
            if (g && a && a->map_state == XCB_MAP_STATE_VIEWABLE && a->_class == XCB_WINDOW_CLASS_INPUT_OUTPUT && g->x <= 560 && g->x + g->width > 560 && g->y <= 20 &&
                g->y + g->height > 20 && children[i] != beneath.id()) {
                ++overlays;
                EXPECT_TRUE(a->all_event_masks & XCB_EVENT_MASK_EXPOSURE);
            }
            std::free(g);
            std::free(a);
        }
        std::free(tree);
        xcb_disconnect(c);
        EXPECT_EQ(overlays, 1);
    }
    ASSERT_EQ(xdotool({QStringLiteral("mousemove"), QStringLiteral("720"), QStringLiteral("120"),
                       QStringLiteral("click"), QStringLiteral("1")}),
              0);
    EXPECT_EQ(beneath.clicksAfterWaiting(1), 1);

    // On the card: the overlay takes it, without asking for the focus it never takes.
    ASSERT_EQ(xdotool({QStringLiteral("mousemove"), QStringLiteral("560"), QStringLiteral("20"),
                       QStringLiteral("click"), QStringLiteral("1")}),
              0);
    const int opened = app.waitForLine("debug IslandView: Could not open source app, opening Notification Center",
                                       kAppStartTimeoutMs, ready);
    EXPECT_GE(opened, 0) << app.transcript().toStdString();
    EXPECT_EQ(beneath.clicks(), 1);
    QThread::msleep(200);
    app.pump();
    EXPECT_TRUE(app.lines().filter(QStringLiteral("requestActivate")).isEmpty()) << app.transcript().toStdString();
}
