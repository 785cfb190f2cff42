// The application stand-ins of the platform layer: windows and their order, queued alerts and bundle resources. (Closing versus hiding a window is covered through the
// delegate's settings window.)

#include "platform/session/dbus_session_monitor.h"
#include "platform/shell/alert_presenter.h"
#include "platform/shell/desktop_application.h"
#include "platform/shell/main_bundle.h"
#include "platform/shell/status_item.h"
#include "support/fake_app.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>

using platform::Window;
using platform::WindowStyle;

TEST(PlatformWindows, RegistryKeepsFrontToBackOrder) {
    testsupport::FakeApplication application;
    auto a = application.makeWindow(QSize(200, 100), WindowStyle::Titled);
    auto b = application.makeWindow(QSize(200, 100), WindowStyle::Titled);
    auto panel = application.makeWindow(QSize(200, 100), platform::WindowStyleMask());
    EXPECT_FALSE(application.hasVisibleWindows());
    b->makeKeyAndOrderFront();
    panel->orderFrontRegardless();
    a->makeKeyAndOrderFront();
    EXPECT_EQ(application.windows().orderedWindows(), (std::vector<Window*>{a.get(), panel.get(), b.get()}));
    b.reset();
    EXPECT_EQ(application.windows().orderedWindows(), (std::vector<Window*>{a.get(), panel.get()}));
}

TEST(PlatformWindows, FixedWindowsFollowTheirContentAndContentIsReplaced) {
    testsupport::FakeApplication application;
    auto window = application.makeWindow(QSize(560, 420), WindowStyle::Titled | WindowStyle::Closable);
    QPointer<QWidget> first = new QWidget;
    window->setContentView(first);
    EXPECT_EQ(window->contentSize(), QSize(560, 420));  // content without a size of its own

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* child = new QWidget(content);
    child->setFixedHeight(600);
    layout->addWidget(child);
    window->setContentView(content);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(window->contentSize().width(), 560);
    EXPECT_EQ(window->contentSize().height(), layout->minimumSize().height());

    child->setFixedHeight(300);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(window->contentSize().height(), layout->minimumSize().height());
    EXPECT_LT(window->contentSize().height(), 420);
    EXPECT_EQ(window->widget()->minimumSize(), window->widget()->maximumSize());
}

TEST(PlatformWindows, CenteringPutsTheWindowInTheMiddleOfTheMainScreensFreeArea) {
    testsupport::FakeApplication application;
    auto window = application.makeWindow(QSize(300, 200), WindowStyle::Titled);
    window->widget()->move(0, 0);
    window->center();
    const QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(window->widget()->frameGeometry().center(), screen->availableGeometry().center());
}

TEST(PlatformAlerts, RequestsWaitForTheAlertOnScreen) {
    auto surface = std::make_unique<testsupport::FakeAlertSurface>();
    auto* fake = surface.get();
    platform::AlertPresenter presenter(std::move(surface));
    QStringList answers;
    for (const QString text : {"first", "second"}) {
        presenter.present({platform::Alert::Style::Warning, text, "", {"OK", "Cancel"}},
                          [&answers, text](int button) { answers << text + QString::number(button); });
    }
    ASSERT_EQ(fake->shown().size(), 1u);
    fake->answer(1);
    ASSERT_EQ(fake->shown().size(), 2u);
    EXPECT_EQ(fake->shown().back().alert.messageText, "second");
    fake->shown().front().done(0);  // a second answer to the same alert is ignored
    fake->answer(0);
    EXPECT_EQ(answers, (QStringList{"first1", "second0"}));
    EXPECT_FALSE(presenter.isShowing());
}

TEST(PlatformApplication, IconResourceComesFromTheBundleInAReadableFormat) {
    QTemporaryDir dir;
    const QString resources = dir.path() + QStringLiteral("/Quillvex.app/Contents/Resources/");
    platform::MainBundle bundle(QStringLiteral("com.example.test"), dir.path() + QStringLiteral("/Quillvex.app"));
    const platform::MainBundle* previous = platform::MainBundle::setShared(&bundle);
    platform::DesktopApplication application;
    EXPECT_FALSE(application.imageResource("AppIcon", "icns").has_value());

    // A container this desktop cannot read does not count; the same icon as SVG stands in.
    ASSERT_TRUE(testsupport::writeFile(resources + "AppIcon.icns", QByteArray("icns\0\0\0\x08", 8)));
    EXPECT_FALSE(application.imageResource("AppIcon", "icns").has_value());
    ASSERT_TRUE(testsupport::writeFile(resources + "AppIcon.svg",
              R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16"><rect width="16" height="16"/></svg>)"));
    EXPECT_TRUE(application.imageResource("AppIcon", "icns").has_value());
    EXPECT_FALSE(application.imageResource("AppIcon", "png").has_value());
    platform::MainBundle::setShared(previous);
}

// A fast user switch: logind makes another session the active one and ours goes inactive. The
// application hears its session resign active then, and only then.
TEST(PlatformApplication, TheSessionResignsActiveWhenLogindMakesItInactive) {
    if (!testsupport::dbusmockAvailable()) QUILLVEX_SERVICE_MISSING("python3-dbusmock is not installed");
    QString error;
    auto systemBus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::system, &error);
    ASSERT_TRUE(systemBus) << error.toStdString();
    auto logind = testsupport::DBusMock::startTemplate(*systemBus, QStringLiteral("logind"), QStringLiteral("org.freedesktop.login1"),
                                                       QStringLiteral("/org/freedesktop/login1"), {}, &error);
    ASSERT_TRUE(logind) << error.toStdString();
    const auto added = logind->call(QStringLiteral("AddSession"),
                                    {QStringLiteral("c1"), QStringLiteral("seat0"), 1000u, QStringLiteral("alice"), true});
    ASSERT_TRUE(added.ok()) << added.errorMessage.toStdString();
    const QVariant value = added.value();
    const QString path = value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
    const QString session = QStringLiteral("org.freedesktop.login1.Session");
    auto sessionBus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
    ASSERT_TRUE(sessionBus) << error.toStdString();

    platform::DBusSessionMonitor monitor(sessionBus->connection(), systemBus->connection(), QStringLiteral("c1"));
    platform::DesktopApplication application(monitor);
    int resigned = 0;
    auto sub = application.sessionDidResignActive().sink([&] { ++resigned; });
    const auto pumpUntil = [](const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    };
    ASSERT_TRUE(pumpUntil([&] { return monitor.sessionPath() == path; }));

    ASSERT_TRUE(logind->call(QStringLiteral("AddSession"),
                             {QStringLiteral("c2"), QStringLiteral("seat0"), 1001u, QStringLiteral("bob"), true})
                    .ok());
    ASSERT_TRUE(logind->setProperty(session, QStringLiteral("Active"), false, path));
    EXPECT_TRUE(pumpUntil([&] { return resigned == 1; }));
    // Coming back is no resignation.
    ASSERT_TRUE(logind->setProperty(session, QStringLiteral("Active"), true, path));
    ASSERT_TRUE(logind->setProperty(session, QStringLiteral("Active"), false, path));
    EXPECT_TRUE(pumpUntil([&] { return resigned == 2; }));
    ASSERT_TRUE(logind->setProperty(session, QStringLiteral("Active"), true, path));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(resigned, 2);
}

// The tray bell must read on a dark panel and on a light one: light strokes ringed in dark.
TEST(StatusItemTray, TheBellHasLightAndDarkPixelsAtEverySize) {
    for (int size : {16, 22, 32, 64}) {
        const QImage image = platform::StatusItem::trayImage(QStringLiteral("bell.fill"), size);
        ASSERT_EQ(image.size(), QSize(size, size));
        int light = 0, dark = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 200) continue;
                if (c.lightness() > 200) ++light;
                if (c.lightness() < 60) ++dark;
            }
        }
        EXPECT_GT(light, size * size / 20) << size;
        EXPECT_GT(dark, size * size / 40) << size;
    }
}

namespace {

// The tray bell in its own process on a private X server, with no session bus.
struct StatusItemHost {
    std::unique_ptr<testsupport::PrivateXServer> x = testsupport::PrivateXServer::start();
    QTemporaryDir home;
    QProcess process;

    // False when no X server could be started.
    bool start(const QStringList& arguments = {}) {
        if (!x) return false;
        process.setProcessEnvironment(testsupport::xcbProgramEnvironment(x->display(), home.path()));
        testsupport::dieWithTest(process);
        process.start(QStringLiteral(QUILLVEX_STATUS_ITEM_HOST), arguments);
        return true;
    }
};

}  // namespace

// The menu is built afresh at each opening: opened again, it holds each entry once.
TEST(StatusItemTray, TheMenuOpenedAgainHoldsEachEntryOnce) {
    StatusItemHost host;
    if (!host.start({QStringLiteral("--menu")})) QUILLVEX_SERVICE_MISSING("Xvfb is not available");
    ASSERT_TRUE(host.process.waitForFinished(60000));
    EXPECT_EQ(host.process.exitCode(), 0) << host.process.readAllStandardError().toStdString();
    EXPECT_EQ(host.process.readAllStandardOutput().toStdString(), "item Settings...\nitem -\nitem Quit\n");
}

// A tray that starts after the application (the usual race at login): the bell asks to dock as
// soon as the tray's manager announces itself.
TEST(StatusItemTray, TheBellDocksInATrayThatStartsAfterIt) {
    StatusItemHost bell;
    if (!bell.start()) QUILLVEX_SERVICE_MISSING("Xvfb is not available");
    QProcess& host = bell.process;
    const auto& x = bell.x;
    QByteArray seen;
    for (QDeadlineTimer deadline(10000); !seen.contains("ready") && !deadline.hasExpired();) {
        host.waitForReadyRead(100);
        seen += host.readAllStandardOutput();
    }
    ASSERT_TRUE(seen.contains("ready"));

    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(x->display().toLocal8Bit().constData(), &screenNumber);
    ASSERT_FALSE(xcb_connection_has_error(c));
    const auto atom = [c](const QByteArray& name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return value;
    };
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber));
    const xcb_atom_t opcode = atom("_NET_SYSTEM_TRAY_OPCODE");
    const xcb_window_t tray = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, tray, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, tray, selection, XCB_CURRENT_TIME);
    xcb_client_message_event_t announce{};
    announce.response_type = XCB_CLIENT_MESSAGE;
    announce.format = 32;
    announce.window = root;
    announce.type = atom("MANAGER");
    announce.data.data32[0] = XCB_CURRENT_TIME;
    announce.data.data32[1] = selection;
    announce.data.data32[2] = tray;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&announce));
    xcb_flush(c);

    bool dockRequested = false;
    for (QDeadlineTimer deadline(10000); !dockRequested && !deadline.hasExpired();) {
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (!event) {
            QThread::msleep(20);
            continue;
        }
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            dockRequested = message->type == opcode && message->data.data32[1] == 0;  // SYSTEM_TRAY_REQUEST_DOCK
        }
        std::free(event);
    }
    xcb_disconnect(c);
    host.kill();
    host.waitForFinished(5000);
    EXPECT_TRUE(dockRequested);
}
