// The input-source service on a private X server: a two-group keymap (us, de) loaded with
// setxkbmap, group switches made the way a layout switcher makes them (an XKB group lock).

#include "core/event_bus.h"
#include "live_activities/input_source_service.h"
#include "platform/input_source/xkb_input_sources.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <xcb/xcb.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <memory>

using platform::XkbInputSources;

namespace {

class InputSourceXkbTest : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        if (!QFile::exists(QStringLiteral("/usr/bin/Xvfb")) || !QFile::exists(QStringLiteral("/usr/bin/setxkbmap"))) return;
        server = testsupport::PrivateXServer::start(QStringLiteral("640x480x24"), &setUpError).release();
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!server) QUILLVEX_SERVICE_MISSING("no private X server: " << setUpError.toStdString());
        ASSERT_EQ(testsupport::runTool(QStringLiteral("/usr/bin/setxkbmap"),
                                       {QStringLiteral("-display"), server->display(), QStringLiteral("-layout"),
                                        QStringLiteral("us,de"), QStringLiteral("-variant"), QStringLiteral(",nodeadkeys")}),
                  0);
        lockGroup(0);
    }

    // Locks the keyboard's group from a client of its own, as a layout switcher does.
    static void lockGroup(int group) {
        xcb_connection_t* c = xcb_connect(server->display().toLocal8Bit().constData(), nullptr);
        ASSERT_FALSE(xcb_connection_has_error(c));
        std::free(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
        xcb_void_cookie_t cookie =
            xcb_xkb_latch_lock_state_checked(c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, static_cast<uint8_t>(group), 0, 0, 0);
        xcb_generic_error_t* error = xcb_request_check(c, cookie);
        EXPECT_EQ(error, nullptr);
        std::free(error);
        xcb_disconnect(c);
    }


    static inline testsupport::PrivateXServer* server = nullptr;
    static inline QString setUpError;
};

}  // namespace

TEST(XkbLayoutIdentifier, TakesTheGroupsLayoutAndVariant) {
    EXPECT_EQ(XkbInputSources::layoutIdentifier(QStringLiteral("us,de"), QStringLiteral(",nodeadkeys"), 0), QStringLiteral("us"));
    EXPECT_EQ(XkbInputSources::layoutIdentifier(QStringLiteral("us,de"), QStringLiteral(",nodeadkeys"), 1),
              QStringLiteral("de(nodeadkeys)"));
    EXPECT_EQ(XkbInputSources::layoutIdentifier(QStringLiteral("jp"), QString(), 0), QStringLiteral("jp"));
    EXPECT_EQ(XkbInputSources::layoutIdentifier(QStringLiteral("us"), QString(), 1), std::nullopt);
    EXPECT_EQ(XkbInputSources::layoutIdentifier(QString(), QString(), 0), std::nullopt);
}

TEST(XkbInputSourcesWithoutDisplay, HaveNoSourceAndNoChanges) {
    XkbInputSources sources(QByteArrayLiteral(":9999"));  // no such server
    EXPECT_EQ(sources.currentSource(), std::nullopt);
    auto observation = sources.observeSelectionChanges([] {});
    EXPECT_FALSE(observation.isActive());
}

TEST_F(InputSourceXkbTest, AGroupSwitchIsAnnouncedWithItsLayoutAndName) {
    XkbInputSources sources(server->display().toLocal8Bit());
    const auto first = sources.currentSource();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->id, QStringLiteral("us"));
    EXPECT_EQ(first->localizedName, QStringLiteral("English (US)"));

    EventBus bus(scheduler());
    InputSourceService service(bus, scheduler(), sources);
    std::vector<InputSourceInfo> published;
    int events = 0;
    auto a = bus.inputSourceSubject.sink([&](const std::optional<InputSourceInfo>& i) {
        if (i) published.push_back(*i);
    });
    auto b = bus.liveActivityEventSubject.sink([&](const std::optional<LiveActivityType>&) { ++events; });
    service.start();
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Started (current: us)")));

    // Announced once the keyboard has been quiet a while.
    const auto announced = [&](int count) {
        return testsupport::pumpUntil(scheduler(), [&] { return events == count || (scheduler().advance(0.01), false); });
    };
    lockGroup(1);
    ASSERT_TRUE(announced(1));
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].id, QStringLiteral("de(nodeadkeys)"));
    EXPECT_TRUE(published[0].name.startsWith(QStringLiteral("German")));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to ") + published[0].name +
                             QStringLiteral(" (de(nodeadkeys))")));

    // Back to the first group; then a stopped service hears nothing.
    lockGroup(0);
    ASSERT_TRUE(announced(2));
    EXPECT_EQ(published.back().id, QStringLiteral("us"));
    service.stop();
    lockGroup(1);
    for (int i = 0; i < 30; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_EQ(events, 2);
}

// The switch is on the wire before the reply the read waits for: xcb queues it while reading the
// reply, and it must still be announced without a later event to wake the socket.
TEST_F(InputSourceXkbTest, ASwitchQueuedWhileReadingTheSourceIsAnnounced) {
    XkbInputSources sources(server->display().toLocal8Bit());
    int heard = 0;
    auto observation = sources.observeSelectionChanges([&] { ++heard; });
    lockGroup(1);
    EXPECT_EQ(sources.currentSource()->id, QStringLiteral("de(nodeadkeys)"));
    EXPECT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return heard == 1; }));
}
