// The switcher against a real window manager: Xvfb with openbox, and small X clients standing in
// for other applications (two ordinary ones, a tool window, one that gives no process id).

#include "platform/workspace/linux_workspace.h"
#include "platform/workspace/x11_clients.h"
#include "switcher/app_switcher_service.h"
#include "switcher/app_switcher_view.h"
#include "support/fake_process.h"
#include "support/fake_screens.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"
#include "support/window_manager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

using platform::ActivationPolicy;
using platform::RunningApplication;
using testsupport::ServiceProcess;

const QString openbox = QStringLiteral("/usr/bin/openbox");

class SwitcherX11Test : public testsupport::QuillvexTest {
protected:
    static void SetUpTestSuite() {
        if (!QFile::exists(QStringLiteral("/usr/bin/Xvfb")) || !QFile::exists(openbox)) {
            setUpError = QStringLiteral("Xvfb or openbox missing");
            return;
        }
        dataHome = new QTemporaryDir;
        env = new testsupport::ScopedEnvironment;
        env->set("XDG_DATA_HOME", dataHome->path().toUtf8());
        env->set("XDG_CONFIG_HOME", (dataHome->path() + QStringLiteral("/config")).toUtf8());
        env->set("XDG_CACHE_HOME", (dataHome->path() + QStringLiteral("/cache")).toUtf8());
        server = testsupport::PrivateXServer::start(QStringLiteral("1024x768x24"), &setUpError).release();
        if (!server) return;
        display = server->exportDisplay().release();
        wm = testsupport::startOpenbox(&setUpError).release();
        // One entry names and draws Alpha; Beta has none and keeps its window's name.
        QDir(dataHome->path()).mkpath(QStringLiteral("applications"));
        QImage icon(16, 16, QImage::Format_ARGB32);
        icon.fill(Qt::blue);
        icon.save(dataHome->path() + QStringLiteral("/alpha.png"));
        QFile entry(dataHome->path() + QStringLiteral("/applications/org.example.Alpha.desktop"));
        entry.open(QIODevice::WriteOnly);
        entry.write("[Desktop Entry]\nType=Application\nName=Alpha Editor\nIcon=" +
                    (dataHome->path() + QStringLiteral("/alpha.png")).toUtf8() + "\nExec=alpha\n");
        entry.close();
        // One at a time, so the mapping order is known.
        const auto mapped = [](size_t count) {
            waitFor([count] {
                auto x = platform::X11Clients::connect();
                return x && x->clients(false).size() == count;
            });
        };
        alpha = window({QStringLiteral("Alpha"), QStringLiteral("--desktop"), QStringLiteral("org.example.Alpha")});
        mapped(1);
        beta = window({QStringLiteral("Beta"), QStringLiteral("--desktop"), QStringLiteral("org.example.Beta")});
        mapped(2);
        tool = window({QStringLiteral("Gamma"), QStringLiteral("--tool")});
        anonymous = window({QStringLiteral("Anon"), QStringLiteral("--no-pid")});
        mapped(4);
    }
    static void TearDownTestSuite() {
        for (ServiceProcess** p : {&alpha, &beta, &tool, &anonymous, &wm}) {
            delete *p;
            *p = nullptr;
        }
        delete display;
        delete server;
        delete env;
        delete dataHome;
        display = nullptr;
        server = nullptr;
        env = nullptr;
        dataHome = nullptr;
    }
    void SetUp() override {
        if (!server || !wm || !alpha || !beta) QUILLVEX_SERVICE_MISSING("no X server with a window manager: " << setUpError.toStdString());
    }

    static ServiceProcess* window(const QStringList& args) {
        return ServiceProcess::start(QStringLiteral(SWITCHER_TEST_WINDOW), args, {}, -1, &setUpError).release();
    }
    // Real processes answer in real time: poll, pumping Qt's events and the virtual main queue.
    static bool waitFor(const std::function<bool()>& done, testsupport::QuillvexTest* test = nullptr,
                        int milliseconds = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < milliseconds) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (test) static_cast<SwitcherX11Test*>(test)->scheduler().drain();
        }
        return done();
    }
    // Writes the active window again, as window managers that report one activation twice do.
    static void reannounceActiveWindow() {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        xcb_ewmh_connection_t ew;
        xcb_ewmh_init_atoms_replies(&ew, xcb_ewmh_init_atoms(c, &ew), nullptr);
        xcb_window_t active = 0;
        xcb_ewmh_get_active_window_reply(&ew, xcb_ewmh_get_active_window(&ew, 0), &active, nullptr);
        xcb_ewmh_set_active_window(&ew, 0, active);
        // A round trip, not a flush: the server drops what it has not read from a client that hangs up.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        xcb_ewmh_connection_wipe(&ew);
        xcb_disconnect(c);
    }
    static qint64 activePid() {
        auto x = platform::X11Clients::connect();
        if (!x) return 0;
        const uint32_t active = x->activeWindow();
        auto client = active ? x->describe(active, false) : std::nullopt;
        return client ? client->pid : 0;
    }

    static inline QTemporaryDir* dataHome = nullptr;
    static inline testsupport::ScopedEnvironment* env = nullptr;
    static inline testsupport::PrivateXServer* server = nullptr;
    static inline testsupport::ScopedEnvironment* display = nullptr;
    static inline ServiceProcess *wm = nullptr, *alpha = nullptr, *beta = nullptr, *tool = nullptr, *anonymous = nullptr;
    static inline QString setUpError;
};

const RunningApplication* find(const std::vector<RunningApplication>& apps, qint64 pid) {
    for (const auto& a : apps) {
        if (a.processIdentifier == pid) return &a;
    }
    return nullptr;
}

TEST_F(SwitcherX11Test, ListsTheWindowProcessesWithTheirEntriesAndPolicies) {
    platform::LinuxWorkspace workspace;
    const std::vector<RunningApplication> apps = workspace.runningApplications();
    const RunningApplication* a = find(apps, alpha->pid());
    const RunningApplication* b = find(apps, beta->pid());
    const RunningApplication* g = find(apps, tool->pid());
    ASSERT_TRUE(a && b && g);
    EXPECT_EQ(a->bundleIdentifier, QStringLiteral("org.example.Alpha"));
    EXPECT_EQ(a->localizedName, QStringLiteral("Alpha Editor"));
    ASSERT_TRUE(a->icon);
    EXPECT_EQ(a->icon->pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::blue));
    EXPECT_EQ(a->activationPolicy, ActivationPolicy::Regular);
    EXPECT_EQ(b->localizedName, QStringLiteral("Beta"));
    ASSERT_TRUE(b->icon) << "the window's own icon";
    EXPECT_EQ(b->icon->pixmap(2).toImage().pixelColor(0, 0), QColor(Qt::red));
    EXPECT_EQ(g->activationPolicy, ActivationPolicy::Accessory);
    EXPECT_FALSE(g->bundleIdentifier);
    // The window without a process id is nobody's; this process is always listed, once.
    EXPECT_EQ(apps.size(), 4u);
    EXPECT_TRUE(find(apps, QCoreApplication::applicationPid()));
    // Mapping order: Alpha's window came first.
    EXPECT_LT(a - apps.data(), b - apps.data());
}

TEST_F(SwitcherX11Test, TheListingFollowsWindowsThatComeAndGoAndHintsThatChange) {
    platform::LinuxWorkspace workspace;
    EXPECT_EQ(workspace.runningApplications().size(), 4u);
    std::unique_ptr<ServiceProcess> delta(window({QStringLiteral("Delta")}));
    const qint64 pid = delta->pid();
    const auto listed = [&]() -> std::optional<RunningApplication> {
        const auto apps = workspace.runningApplications();
        const RunningApplication* app = find(apps, pid);
        return app ? std::optional(*app) : std::nullopt;
    };
    const auto iconColor = [&] {
        const auto app = listed();
        return app && app->icon ? app->icon->pixmap(2).toImage().pixelColor(0, 0) : QColor();
    };
    ASSERT_TRUE(waitFor([&] { return listed().has_value(); }, this));
    EXPECT_EQ(iconColor(), QColor(Qt::red));

    // Its program draws a new icon and renames its window, as programs do while they run.
    const auto x = platform::X11Clients::connect();
    uint32_t window = 0;
    for (const auto& client : x->clients(false)) {
        if (client.pid == pid) window = client.window;
    }
    ASSERT_NE(window, 0u);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_ewmh_connection_t ew;
    xcb_ewmh_init_atoms_replies(&ew, xcb_ewmh_init_atoms(c, &ew), nullptr);
    const uint32_t green[] = {2, 2, 0xff00ff00, 0xff00ff00, 0xff00ff00, 0xff00ff00};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, ew._NET_WM_ICON, XCB_ATOM_CARDINAL, 32, 6, green);
    xcb_ewmh_set_wm_name(&ew, window, 5, "Omega");
    xcb_flush(c);
    EXPECT_TRUE(waitFor([&] { return iconColor() == QColor(Qt::green); }, this));
    EXPECT_TRUE(waitFor([&] { return listed() && listed()->localizedName == QStringLiteral("Omega"); }, this));
    xcb_ewmh_connection_wipe(&ew);
    xcb_disconnect(c);

    delta.reset();
    EXPECT_TRUE(waitFor([&] { return !listed(); }, this));
    EXPECT_EQ(workspace.runningApplications().size(), 4u);
}

// An application that shows several windows is one application: listed once, at its first
// window's place, and still one entry in the switcher when its other window comes forward.
TEST_F(SwitcherX11Test, AnApplicationWithSeveralWindowsIsListedOnce) {
    std::unique_ptr<ServiceProcess> eta(
        window({QStringLiteral("Eta"), QStringLiteral("--desktop"), QStringLiteral("org.example.Eta"),
                QStringLiteral("--windows"), QStringLiteral("2")}));
    ASSERT_TRUE(eta) << setUpError.toStdString();
    std::vector<uint32_t> etaWindows;
    ASSERT_TRUE(waitFor([&] {
        etaWindows.clear();
        if (auto x = platform::X11Clients::connect()) {
            for (const auto& client : x->clients(false)) {
                if (client.pid == eta->pid()) etaWindows.push_back(client.window);
            }
        }
        return etaWindows.size() == 2;
    }));
    const auto entriesOf = [](const auto& apps, qint64 pid) {
        return std::count_if(apps.begin(), apps.end(),
                             [pid](const RunningApplication& a) { return a.processIdentifier == pid; });
    };
    platform::LinuxWorkspace workspace;
    const std::vector<RunningApplication> apps = workspace.runningApplications();
    EXPECT_EQ(entriesOf(apps, eta->pid()), 1);
    EXPECT_EQ(apps.size(), 5u);

    EventBus bus{scheduler()};
    AppSwitcherService service(bus, &workspace, scheduler(), QStringLiteral("com.varnock.Quillvex"),
                               QCoreApplication::applicationPid());
    service.start();
    EXPECT_EQ(entriesOf(service.recentApps(), eta->pid()), 1);
    // Another application first, one that is not active yet, so that its switch is seen.
    const qint64 other = activePid() == beta->pid() ? alpha->pid() : beta->pid();
    int publications = 0;
    platform::AnyCancellable counting = bus.recentAppsSubject.sink([&](const auto&) { ++publications; });
    publications = 0;
    ASSERT_TRUE(workspace.activateApplication(other, true));
    ASSERT_TRUE(waitFor(
        [&] { return publications > 0 && service.recentApps().front().processIdentifier == other; }, this));
    // Its second window, asked for as a pager asks; the connection stays until the change is seen.
    const auto x = platform::X11Clients::connect();
    ASSERT_TRUE(x && x->requestActivation(etaWindows.back()));
    ASSERT_TRUE(waitFor([&] { return service.recentApps().front().processIdentifier == eta->pid(); }, this));
    EXPECT_EQ(entriesOf(service.recentApps(), eta->pid()), 1);
    EXPECT_EQ(service.recentApps().size(), 3);
    service.stop();

    eta.reset();
    EXPECT_TRUE(waitFor([&] { return workspace.runningApplications().size() == 4u; }, this));
}

// Three rules of the listing: an entry found by the window's WM_CLASS instance name (the class
// differs), an ordinary window that asks to stay out of the task bar makes no ordinary
// application, and of a window's icons the largest up to 256 pixels is the one shown.
TEST_F(SwitcherX11Test, InstanceNamesSkipTaskbarWindowsAndIconsUpTo256PixelsFollowTheirRules) {
    QFile entry(dataHome->path() + QStringLiteral("/applications/org.example.Fifth.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Fifth Viewer\nStartupWMClass=epsilon\nExec=fifth\n");
    entry.close();
    std::unique_ptr<ServiceProcess> epsilon(window({QStringLiteral("Epsilon")}));  // instance "epsilon"
    std::unique_ptr<ServiceProcess> zeta(window({QStringLiteral("Zeta"), QStringLiteral("--skip-taskbar")}));
    platform::LinuxWorkspace workspace;
    const auto listed = [&](qint64 pid) -> std::optional<RunningApplication> {
        const auto apps = workspace.runningApplications();
        const RunningApplication* app = find(apps, pid);
        return app ? std::optional(*app) : std::nullopt;
    };
    ASSERT_TRUE(waitFor([&] { return listed(epsilon->pid()) && listed(zeta->pid()); }, this));
    EXPECT_EQ(listed(epsilon->pid())->bundleIdentifier, QStringLiteral("org.example.Fifth"));
    EXPECT_EQ(listed(epsilon->pid())->localizedName, QStringLiteral("Fifth Viewer"));
    EXPECT_EQ(listed(epsilon->pid())->activationPolicy, ActivationPolicy::Regular);
    EXPECT_EQ(listed(zeta->pid())->activationPolicy, ActivationPolicy::Accessory);

    // Zeta offers 16, 256 and 257 pixels: the 257 one is past the bound, the 256 one is shown.
    const auto x = platform::X11Clients::connect();
    uint32_t zetaWindow = 0;
    for (const auto& client : x->clients(false)) {
        if (client.pid == zeta->pid()) zetaWindow = client.window;
    }
    ASSERT_NE(zetaWindow, 0u);
    std::vector<uint32_t> icons;
    for (const auto& [side, colour] : {std::pair{16u, 0xff0000ffu}, {256u, 0xff00ff00u}, {257u, 0xffff0000u}}) {
        icons.push_back(side);
        icons.push_back(side);
        icons.insert(icons.end(), side * side, colour);
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_ewmh_connection_t ew;
    xcb_ewmh_init_atoms_replies(&ew, xcb_ewmh_init_atoms(c, &ew), nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, zetaWindow, ew._NET_WM_ICON, XCB_ATOM_CARDINAL, 32,
                        static_cast<uint32_t>(icons.size()), icons.data());
    xcb_flush(c);
    EXPECT_TRUE(waitFor([&] { return x->describe(zetaWindow, true)->icon.size() == QSize(256, 256); }));
    const auto iconColour = [&] {
        const auto app = listed(zeta->pid());
        return app && app->icon ? app->icon->pixmap(256).toImage().pixelColor(128, 128) : QColor();
    };
    EXPECT_TRUE(waitFor([&] { return iconColour() == QColor(Qt::green); }, this)) << iconColour().name().toStdString();
    xcb_ewmh_connection_wipe(&ew);
    xcb_disconnect(c);

    epsilon.reset();
    zeta.reset();
    EXPECT_TRUE(waitFor([&] { return workspace.runningApplications().size() == 4u; }, this));
    QFile::remove(entry.fileName());
}

// An entry that names its icon in the icon theme: once the desktop's theme changes, the
// application is drawn from the new one.
TEST_F(SwitcherX11Test, AnEntrysThemedIconFollowsTheIconTheme) {
    const QString icons = dataHome->path() + QStringLiteral("/icons/");
    for (const auto& [theme, colour] : {std::pair{"Light", Qt::yellow}, {"Dark", Qt::magenta}}) {
        const QString folder = icons + QLatin1String(theme);
        ASSERT_TRUE(testsupport::writeFile(folder + QStringLiteral("/index.theme"),
                                           "[Icon Theme]\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n"));
        ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/48x48/apps")));
        QImage image(48, 48, QImage::Format_ARGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(folder + QStringLiteral("/48x48/apps/theta-app.png")));
    }
    ASSERT_TRUE(testsupport::writeFile(dataHome->path() + QStringLiteral("/applications/org.example.Theta.desktop"),
                                       "[Desktop Entry]\nType=Application\nName=Theta\nIcon=theta-app\nExec=theta\n"));
    const QString savedTheme = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("Light"));
    std::unique_ptr<ServiceProcess> theta(
        window({QStringLiteral("Theta"), QStringLiteral("--desktop"), QStringLiteral("org.example.Theta")}));
    platform::LinuxWorkspace workspace;
    const auto iconColour = [&] {
        const auto apps = workspace.runningApplications();
        const RunningApplication* app = find(apps, theta->pid());
        return app && app->icon ? app->icon->pixmap(2).toImage().pixelColor(0, 0) : QColor();
    };
    EXPECT_TRUE(waitFor([&] { return iconColour() == QColor(Qt::yellow); }, this)) << iconColour().name().toStdString();
    QIcon::setThemeName(QStringLiteral("Dark"));
    EXPECT_EQ(iconColour().name(), QColor(Qt::magenta).name()) << "drawn from the old theme";
    QIcon::setThemeName(savedTheme);

    theta.reset();
    EXPECT_TRUE(waitFor([&] { return workspace.runningApplications().size() == 4u; }, this));
    QFile::remove(dataHome->path() + QStringLiteral("/applications/org.example.Theta.desktop"));
}

// A window may name its application's entry itself (GTK's application id, or KDE's desktop file
// with or without its suffix): that entry names it and gives its id, though its class leads to none.
TEST_F(SwitcherX11Test, AWindowsOwnHintNamesItsApplication) {
    QFile entry(dataHome->path() + QStringLiteral("/applications/org.example.Kappa.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Kappa Notes\nExec=kappa\n");
    entry.close();
    std::unique_ptr<ServiceProcess> gtk(window({QStringLiteral("Iota"), QStringLiteral("--gtk-id"), QStringLiteral("org.example.Kappa")}));
    std::unique_ptr<ServiceProcess> kde(
        window({QStringLiteral("Lambda"), QStringLiteral("--desktop"), QStringLiteral("org.example.Kappa.desktop")}));
    platform::LinuxWorkspace workspace;
    const auto listed = [&](qint64 pid) -> std::optional<RunningApplication> {
        const auto apps = workspace.runningApplications();
        const RunningApplication* app = find(apps, pid);
        return app ? std::optional(*app) : std::nullopt;
    };
    ASSERT_TRUE(waitFor([&] { return listed(gtk->pid()) && listed(kde->pid()); }, this));
    for (const qint64 pid : {gtk->pid(), kde->pid()}) {
        EXPECT_EQ(listed(pid)->bundleIdentifier, QStringLiteral("org.example.Kappa"));
        EXPECT_EQ(listed(pid)->localizedName, QStringLiteral("Kappa Notes"));
    }

    gtk.reset();
    kde.reset();
    EXPECT_TRUE(waitFor([&] { return workspace.runningApplications().size() == 4u; }, this));
    QFile::remove(entry.fileName());
}

// A display that cannot be reached gives no window list at all, never one that fails later.
TEST(SwitcherX11, ADisplayThatCannotBeReachedIsRefused) {
    for (const char* display : {":4711", "not a display"}) {
        EXPECT_EQ(platform::X11Clients::connect(display), nullptr) << display;
    }
    testsupport::ScopedEnvironment env;
    env.set("DISPLAY", ":4711");
    EXPECT_EQ(platform::X11Clients::connect(), nullptr);
    // The listing then knows of this process alone, and cannot tell it is windowless.
    platform::LinuxWorkspace workspace(":4711");
    const auto apps = workspace.runningApplications();
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].processIdentifier, QCoreApplication::applicationPid());
    EXPECT_EQ(apps[0].activationPolicy, ActivationPolicy::Regular);
}

TEST_F(SwitcherX11Test, ClickingAnEntryActivatesThatApplicationAndTheServiceFollowsButNotToolWindows) {
    platform::LinuxWorkspace workspace;
    testsupport::FakeScreens screens;
    EventBus bus{scheduler()};
    AppSwitcherService service(bus, &workspace, scheduler(), QStringLiteral("com.varnock.Quillvex"),
                               QCoreApplication::applicationPid());
    service.start();
    QList<qint64> seeded;
    for (const auto& a : service.recentApps()) seeded << a.processIdentifier;
    EXPECT_EQ(seeded, (QList<qint64>{alpha->pid(), beta->pid()}));

    AppSwitcherView view(nullptr, {bus, scheduler(), defaults(), screens, workspace});
    view.show();
    scheduler().drain();
    ASSERT_EQ(view.recentApps().size(), 2);

    const auto clickOn = [&](qint64 pid) {
        for (qsizetype i = 0; i < view.recentApps().size(); ++i) {
            if (view.recentApps()[i].processIdentifier != pid) continue;
            const QPointF at = view.itemFrame(i).center();
            QMouseEvent press(QEvent::MouseButtonPress, at, view.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                              Qt::NoModifier);
            QMouseEvent release(QEvent::MouseButtonRelease, at, view.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            QCoreApplication::sendEvent(&view, &press);
            QCoreApplication::sendEvent(&view, &release);
        }
    };
    int publications = 0;
    platform::AnyCancellable counting = bus.recentAppsSubject.sink([&](const auto&) { ++publications; });
    publications = 0;
    const qint64 first = activePid() == alpha->pid() ? beta->pid() : alpha->pid();
    const qint64 second = first == alpha->pid() ? beta->pid() : alpha->pid();
    clickOn(first);
    EXPECT_TRUE(waitFor([&] { return activePid() == first; }, this));
    EXPECT_TRUE(waitFor([&] { return !view.recentApps().isEmpty() && view.recentApps().front().processIdentifier == first; }, this));
    // The window manager may announce one activation more than once: one publication per switch.
    waitFor([] { return false; }, this, 200);
    EXPECT_EQ(publications, 1);
    clickOn(second);
    EXPECT_TRUE(waitFor([&] { return activePid() == second; }, this));
    ASSERT_TRUE(waitFor([&] { return view.recentApps().front().processIdentifier == second; }, this));
    EXPECT_EQ(view.recentApps().size(), 2);
    EXPECT_EQ(view.recentApps()[1].processIdentifier, first);
    reannounceActiveWindow();
    waitFor([] { return false; }, this, 200);
    EXPECT_EQ(publications, 2);

    // A tool window's activation is not an application switch.
    ASSERT_TRUE(workspace.activateApplication(tool->pid(), true));
    ASSERT_TRUE(waitFor([&] { return activePid() == tool->pid(); }, this));
    waitFor([] { return false; }, this, 300);  // a stray notice has its chance
    EXPECT_EQ(publications, 2);
    service.stop();
}

// A program alone in a sandbox's process namespace gives its window process id 1: that window
// coming forward is an application switch like any other.
TEST_F(SwitcherX11Test, AWindowOfProcessOneIsFollowedWhenItComesForward) {
    std::unique_ptr<ServiceProcess> mu(window({QStringLiteral("Mu"), QStringLiteral("--pid"), QStringLiteral("1")}));
    ASSERT_TRUE(mu) << setUpError.toStdString();
    uint32_t muWindow = 0;
    ASSERT_TRUE(waitFor([&] {
        const auto x = platform::X11Clients::connect();
        for (const auto& client : x ? x->clients(false) : std::vector<platform::X11Client>()) {
            if (client.pid == 1) muWindow = client.window;
        }
        return muWindow != 0;
    }));
    platform::LinuxWorkspace workspace;
    ASSERT_TRUE(workspace.activateApplication(beta->pid(), true));
    ASSERT_TRUE(waitFor([&] { return activePid() == beta->pid(); }, this));
    std::vector<qint64> activated;
    const platform::AnyCancellable watching =
        workspace.observeActivations([&](const RunningApplication& app) { activated.push_back(app.processIdentifier); });
    const auto x = platform::X11Clients::connect();
    ASSERT_TRUE(x && x->requestActivation(muWindow));
    EXPECT_TRUE(waitFor([&] { return !activated.empty() && activated.back() == 1; }, this));

    mu.reset();
    EXPECT_TRUE(waitFor([&] { return workspace.runningApplications().size() == 4u; }, this));
}

TEST_F(SwitcherX11Test, OpeningAnApplicationWhoseWindowIsOpenActivatesItAndStartsNothing) {
    testsupport::FakeProcessLauncher launcher;
    platform::LinuxWorkspace workspace({}, launcher);
    ASSERT_TRUE(workspace.activateApplication(beta->pid(), true));
    ASSERT_TRUE(waitFor([&] { return activePid() == beta->pid(); }, this));
    EXPECT_TRUE(workspace.launchApplicationWithBundleIdentifier(QStringLiteral("Alpha Editor")));
    EXPECT_TRUE(waitFor([&] { return activePid() == alpha->pid(); }, this));
    EXPECT_TRUE(launcher.detachedStarts().empty());
}

// xterm's own entry beside a distribution's copy that claims its class (StartupWMClass=XTerm), as
// on Debian: opening either brings the running xterm forward and starts no second one.
TEST_F(SwitcherX11Test, OpeningXtermByEitherOfItsTwoEntriesActivatesItsWindowAndStartsNothing) {
    const QString program = QStringLiteral("/usr/bin/xterm");
    if (!QFile::exists(program)) QUILLVEX_SERVICE_MISSING("xterm is not installed");
    const QString applications = dataHome->path() + QStringLiteral("/applications/");
    const std::pair<QString, QByteArray> entries[] = {
        {applications + QStringLiteral("debian-xterm.desktop"),
         "[Desktop Entry]\nType=Application\nName=XTerm\nExec=xterm\nStartupWMClass=XTerm\n"},
        {applications + QStringLiteral("xterm.desktop"), "[Desktop Entry]\nType=Application\nName=My XTerm\nExec=xterm\n"},
    };
    for (const auto& [path, text] : entries) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    std::unique_ptr<ServiceProcess> xterm(ServiceProcess::start(program, {QStringLiteral("-geometry"), QStringLiteral("40x8+300+300")}, {}, -1, &setUpError));
    ASSERT_TRUE(xterm) << setUpError.toStdString();
    ASSERT_TRUE(waitFor([&] {
        auto x = platform::X11Clients::connect();
        if (!x) return false;
        for (const auto& client : x->clients(false)) {
            if (client.pid == xterm->pid()) return true;
        }
        return false;
    }));

    testsupport::FakeProcessLauncher launcher;
    platform::LinuxWorkspace workspace({}, launcher);
    for (const char* id : {"xterm", "debian-xterm"}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(workspace.activateApplication(beta->pid(), true));
        ASSERT_TRUE(waitFor([&] { return activePid() == beta->pid(); }, this));
        EXPECT_TRUE(workspace.launchApplicationWithBundleIdentifier(QString::fromLatin1(id)));
        EXPECT_TRUE(waitFor([&] { return activePid() == xterm->pid(); }, this));
    }
    EXPECT_TRUE(launcher.detachedStarts().empty());
    for (const auto& entry : entries) QFile::remove(entry.first);
}

}  // namespace
