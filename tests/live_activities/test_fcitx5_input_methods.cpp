// The input-source service with the real Fcitx5 on a private session bus, switched the way a
// user's tools switch it; its engine watch on a scripted bus is in test_fcitx5_engine_watch.cpp.

#include "input_method_daemon_test.h"
#include "live_activities/input_source_service.h"
#include "platform/input_source/desktop_input_sources.h"
#include "platform/input_source/fcitx5_engine_watch.h"
#include "platform/runtime/qt_scheduler.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QThreadPool>

#include <memory>

using platform::DesktopInputSources;
using testsupport::ServiceProcess;

namespace {

class Fcitx5InputMethodTest : public InputMethodDaemonTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(prepare());
        ASSERT_NO_FATAL_FAILURE(startFcitx5());
    }
    void prepare() {
        if (!QFile::exists(QStringLiteral("/usr/bin/fcitx5"))) QUILLVEX_SERVICE_MISSING("fcitx5 is not installed");
        ASSERT_NO_FATAL_FAILURE(startBus());
        // Two input methods in the one group: the US keyboard and Anthy.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/fcitx5");
        ASSERT_TRUE(QDir().mkpath(config));
        ASSERT_TRUE(testsupport::writeFile(config + QStringLiteral("/profile"),
                                           "[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=keyboard-us\n"
                                           "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n"
                                           "[Groups/0/Items/1]\nName=anthy\nLayout=\n[GroupOrder]\n0=Default\n"));
    }
    // `arguments` {"-r"}: the new Fcitx5 takes over from the one running, which then exits.
    void startFcitx5(const QStringList& arguments = {}) {
        QString error;
        daemon = ServiceProcess::start(QStringLiteral("/usr/bin/fcitx5"), arguments, logPath("fcitx5.log"), -1, &error);
        ASSERT_TRUE(daemon) << error.toStdString();
        ASSERT_TRUE(sessionBus->waitForName(QStringLiteral("org.fcitx.Fcitx5"), std::chrono::seconds(20)));
        ASSERT_TRUE(sessionBus->waitForName(QStringLiteral("org.freedesktop.IBus"), std::chrono::seconds(20)));
    }
    // Work handed to the global queue (the IBus address lookup) ends before the clock it reports to.
    void TearDown() override { QThreadPool::globalInstance()->waitForDone(); }
    platform::DBusReply controller(const char* method, const QVariantList& arguments = {}) {
        return sessionBus->connection().call({QStringLiteral("org.fcitx.Fcitx5"), QStringLiteral("/controller"),
                                              QStringLiteral("org.fcitx.Fcitx.Controller1"), QString::fromLatin1(method),
                                              arguments},
                                             std::chrono::seconds(5));
    }
    // An application's input context taking the focus, as a text field does (through Fcitx5's
    // IBus front end, which IBus applications talk to).
    void focusAnInputContext() {
        auto& bus = sessionBus->connection();
        const auto created = bus.call({QStringLiteral("org.freedesktop.IBus"), QStringLiteral("/org/freedesktop/IBus"),
                                       QStringLiteral("org.freedesktop.IBus"), QStringLiteral("CreateInputContext"),
                                       {QStringLiteral("quillvex-test")}},
                                      std::chrono::seconds(5));
        ASSERT_TRUE(created.ok()) << created.errorMessage.toStdString();
        const QVariant value = created.value();
        inputContext = value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
        ASSERT_TRUE(bus.call({QStringLiteral("org.freedesktop.IBus"), inputContext, QStringLiteral("org.freedesktop.IBus.InputContext"),
                              QStringLiteral("FocusIn"), {}},
                             std::chrono::seconds(5))
                        .ok());
    }
    // Control and a key, pressed and released in that input context (IBus's key codes are X's less 8).
    void pressControl(unsigned keyval, unsigned xKeycode) {
        const unsigned control = 1u << 2, release = 1u << 30;
        for (const unsigned state : {control, control | release})
            ASSERT_TRUE(sessionBus->connection()
                            .call({QStringLiteral("org.freedesktop.IBus"), inputContext, QStringLiteral("org.freedesktop.IBus.InputContext"),
                                   QStringLiteral("ProcessKeyEvent"), {keyval, xKeycode - 8, state}},
                                  std::chrono::seconds(5))
                            .ok());
    }
    // A StatusNotifierWatcher, as Xfce's or LXQt's panel runs: the desktop hosts tray items.
    void startTrayHost() {
        QString error;
        const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
        trayHost = testsupport::DBusMock::startPlain(*sessionBus, watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, &error);
        ASSERT_TRUE(trayHost) << error.toStdString();
        ASSERT_TRUE(trayHost->addProperties(watcher, {{"IsStatusNotifierHostRegistered", true},
                                                      {"ProtocolVersion", 0},
                                                      {"RegisteredStatusNotifierItems", QStringList()}}));
        ASSERT_TRUE(trayHost->addMethod(watcher, "RegisterStatusNotifierHost", "s", "", ""));
        ASSERT_TRUE(trayHost->addMethod(
            watcher, "RegisterStatusNotifierItem", "s", "",
            "self.props['org.kde.StatusNotifierWatcher']['RegisteredStatusNotifierItems'] = [args[0]]; "
            "self.EmitSignal('org.kde.StatusNotifierWatcher', 'StatusNotifierItemRegistered', 's', [args[0]])"));
    }
    QString inputContext;
    std::unique_ptr<testsupport::DBusMock> trayHost;
    // The real clock: the poll's timer must really run.
    platform::QtScheduler realTime;
};

}  // namespace

TEST_F(Fcitx5InputMethodTest, TheFocusedInputMethodsSwitchesAreAnnounced) {
    DesktopInputSources sources(noKeyboard(), sessionBus->connection(), realTime);
    EventBus bus(realTime);
    InputSourceService service(bus, realTime, sources);
    Announcements seen(bus);
    service.start();
    ASSERT_TRUE(pump([&] { return sources.fcitx5().isPolling(); }));
    ASSERT_NO_FATAL_FAILURE(focusAnInputContext());
    ASSERT_TRUE(pump([&] { return sources.fcitx5().engine().has_value(); }));
    EXPECT_EQ(sources.fcitx5().engine()->name, QStringLiteral("keyboard-us"));
    EXPECT_TRUE(seen.sources.empty());  // where it stood

    ASSERT_TRUE(controller("SetCurrentIM", {QStringLiteral("anthy")}).ok());
    ASSERT_TRUE(pump([&] { return seen.sources.size() == 1; }));
    // Neither a panel nor a tray host will ever tell Anthy's mode: it counts as typing kana.
    EXPECT_FALSE(sources.fcitx5().canTellMode());
    EXPECT_EQ(seen.sources[0].id, QStringLiteral("fcitx5:anthy.Japanese"));
    EXPECT_EQ(seen.glyphs(), QStringList{QStringLiteral("あ")});
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to Anthy (fcitx5:anthy.Japanese)")));
    ASSERT_TRUE(controller("Toggle").ok());
    ASSERT_TRUE(pump([&] { return seen.sources.size() == 2; }));
    EXPECT_EQ(seen.sources[1].id, QStringLiteral("fcitx5:keyboard-us"));

    // Nobody listening: no more questions to the daemon.
    service.stop();
    EXPECT_FALSE(sources.fcitx5().isPolling());
}

// Anyone on the session bus may send a signal named as Fcitx5's, to everyone or to us alone, and
// claim Fcitx5's name changed hands: only Fcitx5's own word moves the input method, and nothing
// another client sent reaches the log.
TEST_F(Fcitx5InputMethodTest, AnotherClientsSignalsMoveNothing) {
    AnnouncingService watched(sessionBus->connection(), realTime);
    QStringList engines;  // the engine at each change the sources tell
    const auto observing = watched.sources.observeSelectionChanges([&] {
        engines << watched.sources.fcitx5().engine().value_or(platform::InputMethodEngine{}).name;
    });
    const Announcements& seen = watched.seen;
    ASSERT_TRUE(pump([&] { return watched.sources.fcitx5().isPolling(); }));
    ASSERT_NO_FATAL_FAILURE(focusAnInputContext());
    ASSERT_TRUE(pump([&] { return watched.sources.fcitx5().engine().has_value(); }));
    ASSERT_TRUE(controller("SetCurrentIM", {QStringLiteral("anthy")}).ok());
    ASSERT_TRUE(pump([&] { return seen.lastID() == QLatin1String("fcitx5:anthy.Japanese"); })) << seen.lastID().toStdString();

    QDBusConnection intruder = QDBusConnection::connectToBus(sessionBus->address(), QStringLiteral("quillvex-test-intruder"));
    ASSERT_TRUE(intruder.isConnected());
    const QString us = sessionBus->connection().uniqueName();
    const auto send = [&](const QString& to, const QString& path, const char* interface, const char* member,
                          const QVariantList& arguments) {
        QDBusMessage message = to.isEmpty() ? QDBusMessage::createSignal(path, QLatin1String(interface), QLatin1String(member))
                                            : QDBusMessage::createTargetedSignal(to, path, QLatin1String(interface),
                                                                                 QLatin1String(member));
        message.setArguments(arguments);
        return intruder.send(message);
    };
    const QString context = QStringLiteral("/org/freedesktop/portal/inputcontext/1");
    const char* fcitxContext = "org.fcitx.Fcitx.InputContext1";
    EXPECT_TRUE(send({}, context, fcitxContext, "CurrentIM", {"Keyboard - English (US)", "keyboard-us", "en"}));
    EXPECT_TRUE(send(us, context, fcitxContext, "CurrentIM", {"Keyboard - German", "keyboard-de", "de"}));
    EXPECT_TRUE(send({}, context, fcitxContext, "CurrentIM", {1, 2, 3}));
    EXPECT_TRUE(send({}, context, fcitxContext, "CurrentIM", {"", "fake-im", ""}));
    EXPECT_TRUE(send({}, context, fcitxContext, "CurrentIM", {"", QString(1 << 20, QLatin1Char('x')), ""}));
    EXPECT_TRUE(send({}, QStringLiteral("/kimpanel"), "org.kde.kimpanel.inputmethod", "UpdateProperty",
                     {QStringLiteral("/Fcitx/im:Anthy:fcitx-anthy:Katakana:menu,label=ア")}));
    EXPECT_TRUE(send(us, QStringLiteral("/org/freedesktop/DBus"), "org.freedesktop.DBus", "NameOwnerChanged",
                     {"org.fcitx.Fcitx5", "", intruder.baseService()}));
    EXPECT_TRUE(send(us, context, fcitxContext, "CurrentIM", {"Keyboard - French", "keyboard-fr", "fr"}));
    // Once the bus has answered the intruder, it has passed on all it sent before.
    ASSERT_EQ(intruder.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                           QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")))
                  .type(),
              QDBusMessage::ReplyMessage);

    ASSERT_TRUE(controller("SetCurrentIM", {QStringLiteral("keyboard-us")}).ok());
    ASSERT_TRUE(pump([&] { return seen.lastID() == QLatin1String("fcitx5:keyboard-us"); })) << seen.lastID().toStdString();
    EXPECT_EQ(engines.join(QLatin1Char(' ')).left(200), QStringLiteral("anthy keyboard-us"));
    ASSERT_EQ(seen.sources.size(), 2u);
    for (const QString& line : log.texts()) EXPECT_LT(line.size(), 1000) << line.left(200).toStdString();
    EXPECT_EQ(log.matching(QStringLiteral("Fcitx5: ")), QStringList());  // dbus-daemon lets us overhear
    QDBusConnection::disconnectFromBus(QStringLiteral("quillvex-test-intruder"));
}

namespace {

// A desktop's login: Fcitx5 on an X display, and a GTK text field that reaches it through
// Fcitx5's GTK module (its own D-Bus front end) and is given the focus by hand (there is no window
// manager). The parameter: whether the desktop hosts tray items.
class Fcitx5AtLoginTest : public Fcitx5InputMethodTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        if (!QFile::exists(QStringLiteral("/usr/lib/x86_64-linux-gnu/gtk-3.0/3.0.0/immodules/im-fcitx5.so")))
            QUILLVEX_SERVICE_MISSING("Fcitx5's GTK 3 module is not installed");
        ASSERT_NO_FATAL_FAILURE(prepare());
        QString error;
        xServer = testsupport::PrivateXServer::start(QStringLiteral("1280x800x24"), &error);
        ASSERT_TRUE(xServer) << error.toStdString();
        display = xServer->exportDisplay();
        env.set("GTK_IM_MODULE", "fcitx");
        env.set("NO_AT_BRIDGE", "1");
    }
    // `focused`: the window takes the focus as it opens; else only focusField() gives it.
    void openTextField(bool focused) {
        QString error;
        textField = ServiceProcess::start(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import gi, sys; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk\n"
                            "window = Gtk.Window(title='quillvex-field'); field = Gtk.Entry(); window.add(field)\n"
                            "field.connect('focus-in-event', lambda *a: print('focused', flush=True))\n"
                            "window.show_all()\n"
                            "if sys.argv[1] == 'focused': window.present()\n"
                            "Gtk.main()\n"),
             QLatin1String(focused ? "focused" : "unfocused")},
            logPath("field.log"), -1, &error);
        ASSERT_TRUE(textField) << error.toStdString();
    }
    bool fieldFocused() const {
        QFile log(logPath("field.log"));
        return log.open(QIODevice::ReadOnly) && log.read(4096).contains("focused\n");
    }
    // Once Fcitx5 has put the field's input context in the X display's focus group (the GTK module
    // names the display apart, and naming it unfocuses the context), the field takes the focus.
    void focusField() {
        static const QRegularExpression inGroup(QStringLiteral("Group \\[x11:[^\\n]*\\n  IC "));
        ASSERT_TRUE(pump([&] { return inGroup.match(controller("DebugInfo").value().toString()).hasMatch(); }));
        ASSERT_EQ(testsupport::runTool(QStringLiteral("/usr/bin/xdotool"),
                                       {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^quillvex-field$"),
                                        QStringLiteral("windowfocus"), QStringLiteral("--sync")}),
                  0);
    }
    // `fcitx5-remote -s anthy` the moment Fcitx5 names the input method the field took with the
    // focus: asked in a loop of this thread's own, so the watch cannot ask in between.
    void switchToAnthyOnceFocused() {
        QElapsedTimer waited;
        waited.start();
        QString name;
        while ((name = controller("CurrentInputMethod").value().toString()).isEmpty() && waited.elapsed() < 20000)
            QThread::msleep(1);
        ASSERT_EQ(name, QStringLiteral("keyboard-us"));
        ASSERT_TRUE(controller("SetCurrentIM", {QStringLiteral("anthy")}).ok());
    }

    std::unique_ptr<testsupport::PrivateXServer> xServer;
    std::unique_ptr<testsupport::ScopedEnvironment> display;
    std::unique_ptr<ServiceProcess> textField;
};

}  // namespace

// The application starts before any text field has the focus; the first one focused is switched
// to Anthy at once. The input method it took with the focus is where Fcitx5 stood: the switch is
// announced, and the focus alone announces nothing. With a tray host, Anthy's mode may follow its
// engine. On the real clock.
TEST_P(Fcitx5AtLoginTest, TheFirstFieldFocusedAndSwitchedAtOnceAnnouncesTheSwitch) {
    if (GetParam()) {
        ASSERT_NO_FATAL_FAILURE(startTrayHost());
    }
    ASSERT_NO_FATAL_FAILURE(startFcitx5());
    AnnouncingService watched(sessionBus->connection(), realTime);
    const Announcements& seen = watched.seen;
    ASSERT_TRUE(pump([&] { return watched.service.isStarted() && watched.sources.fcitx5().canTellMode() == GetParam(); }));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Started (current: unknown)")));

    ASSERT_NO_FATAL_FAILURE(openTextField(false));
    ASSERT_NO_FATAL_FAILURE(focusField());
    ASSERT_NO_FATAL_FAILURE(switchToAnthyOnceFocused());
    ASSERT_TRUE(pump([&] { return seen.lastID() == QLatin1String("fcitx5:anthy.Japanese"); })) << seen.lastID().toStdString();
    for (const InputSourceInfo& source : seen.sources) EXPECT_TRUE(source.id.startsWith(QLatin1String("fcitx5:anthy")));
    ASSERT_TRUE(controller("SetCurrentIM", {QStringLiteral("keyboard-us")}).ok());
    ASSERT_TRUE(pump([&] { return seen.lastID() == QLatin1String("fcitx5:keyboard-us"); })) << seen.lastID().toStdString();
}

INSTANTIATE_TEST_SUITE_P(TrayHost, Fcitx5AtLoginTest, ::testing::Bool());

// Fcitx5 starts after the application, the field already focused, and later restarts under it
// (`fcitx5 -r`); each time the field is focused anew and switched to Anthy at once, and each
// switch is announced. On the real clock.
TEST_F(Fcitx5AtLoginTest, ASwitchAtOnceAfterFcitx5StartsOrRestartsIsAnnounced) {
    AnnouncingService watched(sessionBus->connection(), realTime);
    const Announcements& seen = watched.seen;
    ASSERT_NO_FATAL_FAILURE(openTextField(true));
    ASSERT_TRUE(pump([&] { return watched.service.isStarted() && fieldFocused(); }));
    const auto reaches = [&](const char* id) {
        return pump([&] { return seen.lastID() == QLatin1String(id); }) ? ::testing::AssertionSuccess()
                                                                       : ::testing::AssertionFailure() << seen.lastID().toStdString();
    };

    ASSERT_NO_FATAL_FAILURE(startFcitx5());
    ASSERT_NO_FATAL_FAILURE(switchToAnthyOnceFocused());
    ASSERT_TRUE(reaches("fcitx5:anthy.Japanese"));
    ASSERT_TRUE(controller("SetCurrentIM", {QStringLiteral("keyboard-us")}).ok());
    ASSERT_TRUE(reaches("fcitx5:keyboard-us"));

    std::unique_ptr<ServiceProcess> replaced = std::move(daemon);
    ASSERT_NO_FATAL_FAILURE(startFcitx5({QStringLiteral("-r")}));
    replaced->wait(std::chrono::seconds(20));
    ASSERT_FALSE(replaced->isRunning());
    const size_t before = seen.sources.size();
    ASSERT_NO_FATAL_FAILURE(switchToAnthyOnceFocused());
    ASSERT_TRUE(reaches("fcitx5:anthy.Japanese"));
    // Fcitx5 away for a moment may have shown the keyboard (none here) in between.
    for (size_t i = before; i + 1 < seen.sources.size(); ++i) EXPECT_EQ(seen.sources[i].id, QString());
}

namespace {

// Drives Anthy through its modes with a user's keys, after Fcitx5 stood on the US keyboard; each
// mode is announced as Fcitx5 shows it to its panel, the one place the mode comes from.
class Fcitx5ModeTest : public Fcitx5InputMethodTest {
protected:
    void driveAnthysModes(const char* startLine) {
        DesktopInputSources sources(noKeyboard(), sessionBus->connection(), scheduler());
        EventBus bus(scheduler());
        InputSourceService service(bus, scheduler(), sources);
        Announcements seen(bus);
        service.start();
        ASSERT_NO_FATAL_FAILURE(focusAnInputContext());
        ASSERT_TRUE(pump([&] { return sources.fcitx5().engine().has_value(); }));
        const auto lastID = [&] { return seen.sources.empty() ? QString() : seen.sources.back().id; };
        const auto reaches = [&](const char* id) {
            return pump([&] { return lastID() == QLatin1String(id); }) ? ::testing::AssertionSuccess()
                                                                      : ::testing::AssertionFailure() << lastID().toStdString();
        };

        ASSERT_TRUE(controller("SetCurrentIM", {QStringLiteral("anthy")}).ok());
        ASSERT_TRUE(reaches("fcitx5:anthy.Japanese"));
        EXPECT_EQ(seen.sources.back().name, QStringLiteral("Anthy (Hiragana)"));
        EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to Anthy (Hiragana) (fcitx5:anthy.Japanese)")));
        const qsizetype first = seen.sources.size() - 1;
        ASSERT_NO_FATAL_FAILURE(pressControl('.', 60));
        ASSERT_TRUE(reaches("fcitx5:anthy.Japanese.Katakana"));
        EXPECT_EQ(seen.sources.back().name, QStringLiteral("Anthy (Katakana)"));
        ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
        ASSERT_TRUE(reaches("fcitx5:anthy.Japanese.HalfWidthKatakana"));
        ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
        ASSERT_TRUE(reaches("fcitx5:anthy.Roman"));
        EXPECT_EQ(seen.sources.back().name, QStringLiteral("Anthy (Direct input)"));
        ASSERT_NO_FATAL_FAILURE(pressControl('.', 60));
        ASSERT_TRUE(reaches("fcitx5:anthy.Japanese"));
        EXPECT_EQ(seen.glyphs().mid(first),
                  (QStringList{QStringLiteral("あ"), QStringLiteral("ア"), QStringLiteral("ア"), "abc", QStringLiteral("あ")}));

        // Back to the keyboard layout: no mode, and the layout's own source.
        ASSERT_TRUE(controller("SetCurrentIM", {QStringLiteral("keyboard-us")}).ok());
        ASSERT_TRUE(reaches("fcitx5:keyboard-us"));
        EXPECT_EQ(sources.fcitx5().mode(), std::nullopt);

        // Left in katakana, then started afresh: it starts where it stands as far as it was
        // shown (`startLine`), announces nothing of its own, and the user's next change.
        ASSERT_TRUE(controller("SetCurrentIM", {QStringLiteral("anthy")}).ok());
        ASSERT_TRUE(reaches("fcitx5:anthy.Japanese"));
        ASSERT_NO_FATAL_FAILURE(pressControl('.', 60));
        ASSERT_TRUE(reaches("fcitx5:anthy.Japanese.Katakana"));
        service.stop();
        DesktopInputSources fresh(noKeyboard(), sessionBus->connection(), scheduler());
        InputSourceService restarted(bus, scheduler(), fresh);
        const size_t before = seen.sources.size();
        restarted.start();
        ASSERT_TRUE(pump([&] { return restarted.isStarted(); }));
        EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Started (current: %1)").arg(QLatin1String(startLine))));
        ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
        ASSERT_TRUE(pump([&] { return seen.sources.size() > before; }));
        EXPECT_EQ(seen.sources[before].id, QStringLiteral("fcitx5:anthy.Japanese.HalfWidthKatakana"));
        restarted.stop();
    }
};

}  // namespace

// A desktop whose panel owns org.kde.impanel (Plasma's): Fcitx5 broadcasts each mode over kimpanel.
TEST_F(Fcitx5ModeTest, AnthysModesAreAnnouncedFromThePanelBroadcast) {
    platform::QtDBusConnection panel(sessionBus->address(), QStringLiteral("quillvex-test-impanel"));
    const unsigned doNotQueue = 4;
    ASSERT_TRUE(panel.call({QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"),
                            {QStringLiteral("org.kde.impanel"), doNotQueue}},
                           std::chrono::seconds(5))
                    .ok());
    // The panel is shown the mode only as it changes or an input context takes the focus.
    driveAnthysModes("fcitx5:anthy");
}

// A desktop that hosts tray items (a StatusNotifierWatcher, as Xfce's or LXQt's panel runs): Fcitx5's
// tray menu names each mode.
TEST_F(Fcitx5ModeTest, AnthysModesAreAnnouncedFromTheTrayMenu) {
    ASSERT_NO_FATAL_FAILURE(startTrayHost());
    driveAnthysModes("fcitx5:anthy.Japanese.Katakana");
}
