// The input-source service with Fcitx5: its engine watch on a scripted bus, and the real Fcitx5
// on a private session bus, switched the way a user's tools switch it.

#include "input_method_daemon_test.h"
#include "live_activities/input_source_service.h"
#include "platform/input_source/desktop_input_sources.h"
#include "platform/input_source/fcitx5_engine_watch.h"
#include "platform/input_source/input_method_mode.h"
#include "platform/runtime/qt_scheduler.h"
#include "support/fake_dbus_connection.h"

#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QThreadPool>

#include <functional>
#include <optional>
#include <utility>

using platform::DesktopInputSources;
using testsupport::ServiceProcess;

// Fcitx5 lists every status to its panel again when another input context takes the focus: the
// input method's mode is read from that list as from a single update.
TEST(Fcitx5EngineWatchTest, TheModeComesFromThePanelsListingAsFromItsUpdates) {
    testsupport::ScopedVirtualScheduler clock;
    testsupport::FakeDBusConnection bus;
    bus.setOwner(QStringLiteral("org.fcitx.Fcitx5"), QStringLiteral(":1.5"));
    bus.reply(QStringLiteral("org.freedesktop.DBus.NameHasOwner"), {true});
    bus.reply(QStringLiteral("org.fcitx.Fcitx.Controller1.CurrentInputMethod"), {QStringLiteral("anthy")});
    bus.reply(QStringLiteral("org.fcitx.Fcitx.Controller1.AvailableInputMethods"),
              {QVariantList{QVariantList{"anthy", "Anthy", "", "fcitx-anthy", QStringLiteral("あ"), "ja"}}});
    platform::Fcitx5EngineWatch watch(bus, clock.scheduler);
    int changes = 0;
    watch.start([&] { ++changes; });
    clock.scheduler.advance(0.1);
    ASSERT_TRUE(watch.engine().has_value());
    ASSERT_EQ(watch.engine()->longName, QStringLiteral("Anthy"));

    const auto panel = [&](const char* member, const QVariant& argument) {
        return bus.emitSignal({QStringLiteral(":1.5"), QStringLiteral("/kimpanel"),
                               QStringLiteral("org.kde.kimpanel.inputmethod"), QString::fromLatin1(member), {argument}});
    };
    EXPECT_GE(panel("RegisterProperties",
                    QStringList{QStringLiteral("/Fcitx/keyboard:Keyboard:input-keyboard::menu"),
                                QStringLiteral("/Fcitx/im:Anthy:fcitx-anthy:Half width katakana:menu,label=ｱ")}),
              1);
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{QStringLiteral("ｱ"), "Half width katakana"}));
    EXPECT_EQ(changes, 1);
    EXPECT_GE(panel("UpdateProperty", QStringLiteral("/Fcitx/im:Anthy:fcitx-anthy:Hiragana:menu,label=あ")), 1);
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{QStringLiteral("あ"), "Hiragana"}));
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(watch.isModeRestated());

    // A new input context takes the focus on the US keyboard and is switched to Anthy at once,
    // while the question that the focus raised is out: Anthy is asked for at its answer, well
    // within the time the service waits for quiet, not at the next poll.
    QString current = QStringLiteral("keyboard-us");
    bus.onCall(QStringLiteral("org.fcitx.Fcitx.Controller1.CurrentInputMethod"),
               [&](const platform::DBusCall&) { return platform::DBusReply{platform::DBusReply::Status::ok, {current}, {}, {}}; });
    bus.reply(QStringLiteral("org.fcitx.Fcitx.Controller1.AvailableInputMethods"),
              {QVariantList{QVariantList{"anthy", "Anthy", "", "fcitx-anthy", QStringLiteral("あ"), "ja"},
                            QVariantList{"keyboard-us", "Keyboard - English (US)", "", "input-keyboard", "en", "en"}}});
    panel("RegisterProperties", QStringList{QStringLiteral("/Fcitx/im:Keyboard - English (US):input-keyboard::menu,label=en")});
    current = QStringLiteral("anthy");
    panel("UpdateProperty", QStringLiteral("/Fcitx/im:Anthy:fcitx-anthy:Hiragana:menu,label=あ"));
    clock.scheduler.advance(0.1);
    ASSERT_TRUE(watch.engine().has_value());
    EXPECT_EQ(watch.engine()->name, QStringLiteral("anthy"));
    watch.stop();
}

// Where the desktop hosts tray items, Fcitx5 has not answered until its tray menu was read: the
// mode it shows is where the user stands from the start, not a change heard after it.
TEST(Fcitx5EngineWatchTest, ItAnswersOnceTheTrayMenuWasReadOrCouldNotBe) {
    testsupport::ScopedVirtualScheduler clock;
    testsupport::FakeDBusConnection bus;
    bus.setOwner(QStringLiteral("org.fcitx.Fcitx5"), QStringLiteral(":1.5"));
    bus.reply(QStringLiteral("org.freedesktop.DBus.NameHasOwner"), {true});
    bus.reply(QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"), {42u});
    bus.onCall(QStringLiteral("org.freedesktop.DBus.Properties.Get"), [](const platform::DBusCall& call) {
        const QVariant value = call.arguments.value(1) == QLatin1String("Menu")
                                   ? QVariant::fromValue(QDBusObjectPath(QStringLiteral("/MenuBar")))
                                   : QVariant(QStringList{QStringLiteral(":1.5/StatusNotifierItem")});
        return platform::DBusReply{platform::DBusReply::Status::ok, {value}, {}, {}};
    });
    bus.reply(QStringLiteral("org.fcitx.Fcitx.Controller1.CurrentInputMethod"), {QStringLiteral("anthy")});
    bus.reply(QStringLiteral("org.fcitx.Fcitx.Controller1.AvailableInputMethods"),
              {QVariantList{QVariantList{"anthy", "Anthy", "", "fcitx-anthy", QStringLiteral("あ"), "ja"}}});
    const auto item = [](int id, const QVariantMap& properties) { return QVariant(QVariantList{id, properties, QVariantList()}); };
    const QVariantList layout{0, QVariantMap(),
                              QVariantList{item(1, {{"label", "Anthy"}, {"toggle-type", "radio"}, {"toggle-state", 1}}),
                                           item(2, {{"label", QStringLiteral("ア - Katakana")}, {"children-display", "submenu"}})}};
    bus.silence(QStringLiteral("com.canonical.dbusmenu.GetLayout"));

    // A menu that never answers is waited for no longer than its question's timeout.
    std::optional<platform::Fcitx5EngineWatch> watch;
    watch.emplace(bus, clock.scheduler);
    watch->start([] {});
    clock.scheduler.advance(0.1);
    ASSERT_TRUE(watch->engine().has_value());
    EXPECT_FALSE(watch->hasAnswered());
    clock.scheduler.advance(platform::Fcitx5TrayMenu::callTimeout.count() / 1000.0);
    EXPECT_TRUE(watch->hasAnswered());

    bus.reply(QStringLiteral("com.canonical.dbusmenu.GetLayout"), {1u, layout});
    watch.emplace(bus, clock.scheduler);
    std::optional<platform::InputMethodMode> modeAtAnswer;
    watch->start([] {}, [&] { modeAtAnswer = watch->mode(); });
    clock.scheduler.advance(0.1);
    EXPECT_EQ(modeAtAnswer, (platform::InputMethodMode{QStringLiteral("ア"), "Katakana"}));
    EXPECT_TRUE(watch->isModeRestated());
}

namespace {

using platform::DBusReply;

const QString kFcitx5Owner = QStringLiteral(":1.5");

DBusReply answer(const QVariant& value) { return DBusReply{DBusReply::Status::ok, {value}, {}, {}}; }

// Fcitx5 on a scripted bus, with the US keyboard and Anthy. CurrentInputMethod names `current` as
// it stands when asked; `whileAsked`, once set, runs after the controller question it names was
// asked and before its answer comes back.
struct ScriptedFcitx5 {
    explicit ScriptedFcitx5(testsupport::FakeDBusConnection& bus) {
        bus.setOwner(QStringLiteral("org.fcitx.Fcitx5"), kFcitx5Owner);
        bus.reply(QStringLiteral("org.freedesktop.DBus.NameHasOwner"), {true});
        bus.onCall(QStringLiteral("org.fcitx.Fcitx.Controller1.CurrentInputMethod"), [this](const platform::DBusCall& call) {
            asked(call.method);
            return answer(current);
        });
        bus.onCall(QStringLiteral("org.fcitx.Fcitx.Controller1.AvailableInputMethods"), [this](const platform::DBusCall& call) {
            asked(call.method);
            return answer(QVariantList{QVariantList{"anthy", "Anthy", "", "fcitx-anthy", QStringLiteral("あ"), "ja"},
                                       QVariantList{"keyboard-us", "Keyboard - English (US)", "", "input-keyboard", "en", "en"}});
        });
    }
    void asked(const QString& method) {
        if (whileAsked && whileAsked->first == method)
            platform::Scheduler::shared().post(std::exchange(whileAsked, std::nullopt)->second);
    }

    QString current;
    std::optional<std::pair<QString, std::function<void()>>> whileAsked;
};

}  // namespace

// Before any input context had the focus Fcitx5 names no input method, and after a pause it
// names the one it named before: each is where it stands, so the start waits no longer.
TEST(Fcitx5EngineWatchTest, NoInputMethodYetOrTheSameAfterAPauseIsAnAnswer) {
    testsupport::ScopedVirtualScheduler clock;
    testsupport::FakeDBusConnection bus;
    ScriptedFcitx5 fcitx(bus);
    platform::Fcitx5EngineWatch watch(bus, clock.scheduler);
    int answers = 0;
    watch.start([] {}, [&] { ++answers; });
    clock.scheduler.advance(0.1);
    EXPECT_EQ(watch.engine(), std::nullopt);
    EXPECT_TRUE(watch.hasAnswered());
    EXPECT_EQ(answers, 1);

    fcitx.current = QStringLiteral("anthy");
    clock.scheduler.advance(platform::Fcitx5EngineWatch::pollInterval);
    ASSERT_TRUE(watch.engine().has_value());
    watch.pause();
    watch.start([] {}, [&] { ++answers; });
    EXPECT_FALSE(watch.hasAnswered());
    clock.scheduler.advance(0.1);
    EXPECT_TRUE(watch.hasAnswered());
    EXPECT_EQ(answers, 2);
}

// A panel that shows a switch while Fcitx5 is being asked, about where it stood or about the
// input method it named: that answer may be older than the switch, so Fcitx5 is asked again as
// soon as it is in, well within the time the service waits for quiet, not at the next poll.
TEST(Fcitx5EngineWatchTest, ASwitchShownWhileFcitx5IsAskedIsAskedAboutAtOnce) {
    testsupport::ScopedVirtualScheduler clock;
    testsupport::FakeDBusConnection bus;
    ScriptedFcitx5 fcitx(bus);
    fcitx.current = QStringLiteral("keyboard-us");
    platform::Fcitx5EngineWatch watch(bus, clock.scheduler);
    int changes = 0;
    watch.start([&] { ++changes; });
    clock.scheduler.advance(0.1);
    ASSERT_EQ(watch.engine().value_or(platform::InputMethodEngine{}).name, QStringLiteral("keyboard-us"));

    // The user switches to Anthy once the question is on its way, and the panel shows it.
    const auto switchWhile = [&](const char* question, const char* property) {
        fcitx.whileAsked.emplace(QString::fromLatin1(question), [&, property = QString::fromUtf8(property)] {
            fcitx.current = QStringLiteral("anthy");
            bus.emitSignal({kFcitx5Owner, QStringLiteral("/kimpanel"), QStringLiteral("org.kde.kimpanel.inputmethod"),
                            QStringLiteral("UpdateProperty"), {property}});
        });
    };
    const auto nameAtOnce = [&] {
        clock.scheduler.advance(0.05);
        return watch.engine().value_or(platform::InputMethodEngine{}).name;
    };
    // The poll's answer names the US keyboard, the engine known.
    switchWhile("CurrentInputMethod", "/Fcitx/im:Anthy:fcitx-anthy:Hiragana:menu,label=あ");
    clock.scheduler.advance(platform::Fcitx5EngineWatch::pollInterval - 0.1);
    EXPECT_EQ(nameAtOnce(), QStringLiteral("anthy"));
    EXPECT_EQ(changes, 1);
    // The US keyboard, chosen meanwhile, is being described.
    fcitx.current = QStringLiteral("keyboard-us");
    switchWhile("AvailableInputMethods", "/Fcitx/im:Anthy:fcitx-anthy:Katakana:menu,label=ア");
    clock.scheduler.advance(platform::Fcitx5EngineWatch::pollInterval - 0.05);
    EXPECT_EQ(nameAtOnce(), QStringLiteral("anthy"));
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{QStringLiteral("ア"), "Katakana"}));
}

// Fcitx5's tray item lives on a connection of its own, listed by the watcher among other
// programs' items, or registered after the listing. Only the menu of Fcitx5's process is read;
// its first read is where Fcitx5 stands and comes before the menu counts as known; a layout that
// checks no input method is passed over; changes announced while a read is out are read once it
// is in.
TEST(Fcitx5EngineWatchTest, OnlyFcitx5sTrayMenuIsReadAndALayoutWithoutAnInputMethodIsPassedOver) {
    testsupport::ScopedVirtualScheduler clock;
    testsupport::FakeDBusConnection bus;
    const QString trayConnection = QStringLiteral(":1.8");
    bus.setOwner(QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral(":1.2"));
    bus.onCall(QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"), [&](const platform::DBusCall& call) {
        const QString name = call.arguments.value(0).toString();
        return answer(name == kFcitx5Owner || name == trayConnection ? 42u : 7u);
    });
    QStringList listed;
    bus.onCall(QStringLiteral("org.freedesktop.DBus.Properties.Get"), [&](const platform::DBusCall& call) {
        const QVariant value = call.arguments.value(1) != QLatin1String("Menu")
                                   ? QVariant(listed)
                                   : QVariant::fromValue(QDBusObjectPath(call.service == trayConnection ? "/MenuBar" : "/Other"));
        return answer(value);
    });
    const auto item = [](int id, const QVariantMap& properties) { return QVariant(QVariantList{id, properties, QVariantList()}); };
    const auto menu = [&](const char* inputMethod, const char* mode) {
        QVariantList items{item(1, {{"label", "Keyboard - English (US)"}, {"toggle-type", "radio"}, {"toggle-state", 0}})};
        if (inputMethod) items << item(2, {{"label", inputMethod}, {"toggle-type", "radio"}, {"toggle-state", 1}});
        items << item(3, {{"label", QString::fromUtf8(mode)}, {"children-display", "submenu"}});
        return QVariantList{0, QVariantMap(), items};
    };
    QVariantList layout = menu("Anthy", "ア - Katakana");
    QStringList menusRead;
    bus.onCall(QStringLiteral("com.canonical.dbusmenu.GetLayout"), [&](const platform::DBusCall& call) {
        menusRead << call.path;
        const QVariantList shown = call.path == QLatin1String("/MenuBar") ? layout : menu("Other", "A - Latin");
        return DBusReply{DBusReply::Status::ok, {1u, shown}, {}, {}};
    });
    QStringList seen;
    platform::Fcitx5TrayMenu tray(bus);
    const auto follow = [&] {
        tray.start(
            kFcitx5Owner,
            [&](const platform::InputMethodStatus& status, bool first) {
                seen << status.name + QLatin1Char(' ') + (status.mode ? status.mode->label : QString()) + (first ? " first" : "");
            },
            [&] { seen << "known"; });
    };
    const auto layoutUpdated = [&] {
        bus.emitSignal({trayConnection, QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
                        QStringLiteral("LayoutUpdated"), {2u, 0}});
    };

    // No item yet, or another program's alone: known at once; Fcitx5's, registered later, is followed.
    const QString other = QStringLiteral(":1.7/org/ayatana/NotificationItem/other");
    for (const QStringList& items : {QStringList(), QStringList{other}}) {
        listed = items;
        seen.clear();
        follow();
        clock.scheduler.advance(0.1);
        EXPECT_EQ(seen, QStringList{"known"});
    }
    bus.emitSignal({QStringLiteral(":1.2"), QStringLiteral("/StatusNotifierWatcher"), QStringLiteral("org.kde.StatusNotifierWatcher"),
                    QStringLiteral("StatusNotifierItemRegistered"), {trayConnection + QStringLiteral("/StatusNotifierItem")}});
    clock.scheduler.advance(0.1);
    EXPECT_EQ(seen, (QStringList{"known", QStringLiteral("Anthy ア first")}));

    // Another program's item listed first, Fcitx5's second.
    listed = QStringList{other, trayConnection};
    seen.clear();
    menusRead.clear();
    follow();
    clock.scheduler.advance(0.1);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("Anthy ア first"), "known"}));
    EXPECT_EQ(menusRead, QStringList{"/MenuBar"});

    layout = menu(nullptr, "A - Latin");
    layoutUpdated();
    clock.scheduler.advance(0.1);
    EXPECT_EQ(seen.size(), 2);
    layout = menu("Anthy", "あ - Hiragana");
    layoutUpdated();
    layout = menu("Anthy", "A - Latin");
    layoutUpdated();
    clock.scheduler.advance(0.1);
    EXPECT_EQ(seen.mid(2), (QStringList{QStringLiteral("Anthy あ"), "Anthy A"}));
    EXPECT_EQ(menusRead.size(), 4);
}

namespace {

class Fcitx5InputMethodTest : public InputMethodDaemonTest {
protected:
    void SetUp() override {
        if (!QFile::exists(QStringLiteral("/usr/bin/fcitx5"))) QUILLVEX_SERVICE_MISSING("fcitx5 is not installed");
        ASSERT_NO_FATAL_FAILURE(startBus());
        // Two input methods in the one group: the US keyboard and Anthy.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/fcitx5");
        ASSERT_TRUE(QDir().mkpath(config));
        ASSERT_TRUE(testsupport::writeFile(config + QStringLiteral("/profile"),
                                           "[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=keyboard-us\n"
                                           "[Groups/0/Items/0]\nName=keyboard-us\nLayout=\n"
                                           "[Groups/0/Items/1]\nName=anthy\nLayout=\n[GroupOrder]\n0=Default\n"));
        QString error;
        daemon = ServiceProcess::start(QStringLiteral("/usr/bin/fcitx5"), {}, logPath("fcitx5.log"), -1, &error);
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
    QString inputContext;
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
    QString error;
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    auto host = testsupport::DBusMock::startPlain(*sessionBus, watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, &error);
    ASSERT_TRUE(host) << error.toStdString();
    ASSERT_TRUE(host->addProperties(watcher, {{"IsStatusNotifierHostRegistered", true},
                                              {"ProtocolVersion", 0},
                                              {"RegisteredStatusNotifierItems", QStringList()}}));
    ASSERT_TRUE(host->addMethod(watcher, "RegisterStatusNotifierHost", "s", "", ""));
    ASSERT_TRUE(host->addMethod(watcher, "RegisterStatusNotifierItem", "s", "",
                                "self.props['org.kde.StatusNotifierWatcher']['RegisteredStatusNotifierItems'] = [args[0]]; "
                                "self.EmitSignal('org.kde.StatusNotifierWatcher', 'StatusNotifierItemRegistered', 's', [args[0]])"));
    driveAnthysModes("fcitx5:anthy.Japanese.Katakana");
}
