// Fcitx5's engine watch and tray menu on a scripted bus, on the virtual clock: what Fcitx5 answers,
// tells its panels and the owners of its input contexts, and in which order.

#include "platform/input_source/fcitx5_engine_watch.h"
#include "platform/input_source/fcitx5_tray_menu.h"
#include "platform/input_source/input_method_mode.h"
#include "support/fake_dbus_connection.h"
#include "support/fixtures.h"
#include "support/log_capture.h"

#include <QDBusObjectPath>

#include <functional>
#include <optional>
#include <utility>

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

// Fcitx5 on a scripted bus, with the US keyboard and Anthy, on the virtual clock, and a watch of
// it. CurrentInputMethod names `current` as it stands when asked; `whileAsked`, once set, runs
// after the controller question it names was asked and before its answer comes back.
struct ScriptedFcitx5 {
    ScriptedFcitx5() {
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
    QString engineName() const { return watch.engine().value_or(platform::InputMethodEngine{}).name; }

    testsupport::ScopedVirtualScheduler clock;
    testsupport::FakeDBusConnection bus;
    platform::Fcitx5EngineWatch watch{bus, clock.scheduler};
    QString current;
    std::optional<std::pair<QString, std::function<void()>>> whileAsked;
};

}  // namespace

// Before any input context had the focus Fcitx5 names no input method, and after a pause it
// names the one it named before: each is where it stands, so the start waits no longer.
TEST(Fcitx5EngineWatchTest, NoInputMethodYetOrTheSameAfterAPauseIsAnAnswer) {
    ScriptedFcitx5 fcitx;
    auto& watch = fcitx.watch;
    auto& clock = fcitx.clock.scheduler;
    int answers = 0;
    watch.start([] {}, [&] { ++answers; });
    clock.advance(0.1);
    EXPECT_EQ(watch.engine(), std::nullopt);
    EXPECT_TRUE(watch.hasAnswered());
    EXPECT_EQ(answers, 1);

    fcitx.current = QStringLiteral("anthy");
    clock.advance(platform::Fcitx5EngineWatch::pollInterval);
    ASSERT_TRUE(watch.engine().has_value());
    watch.pause();
    watch.start([] {}, [&] { ++answers; });
    EXPECT_FALSE(watch.hasAnswered());
    clock.advance(0.1);
    EXPECT_TRUE(watch.hasAnswered());
    EXPECT_EQ(answers, 2);
}

// A panel that shows a switch while Fcitx5 is being asked, about where it stood or about the
// input method it named: that answer may be older than the switch, so Fcitx5 is asked again as
// soon as it is in, well within the time the service waits for quiet, not at the next poll.
TEST(Fcitx5EngineWatchTest, ASwitchShownWhileFcitx5IsAskedIsAskedAboutAtOnce) {
    ScriptedFcitx5 fcitx;
    auto& watch = fcitx.watch;
    auto& clock = fcitx.clock.scheduler;
    fcitx.current = QStringLiteral("keyboard-us");
    int changes = 0;
    watch.start([&] { ++changes; });
    clock.advance(0.1);
    ASSERT_EQ(fcitx.engineName(), QStringLiteral("keyboard-us"));

    // The user switches to Anthy once the question is on its way, and the panel shows it.
    const auto switchWhile = [&](const char* question, const char* property) {
        fcitx.whileAsked.emplace(QString::fromLatin1(question), [&, property = QString::fromUtf8(property)] {
            fcitx.current = QStringLiteral("anthy");
            fcitx.bus.emitSignal({kFcitx5Owner, QStringLiteral("/kimpanel"), QStringLiteral("org.kde.kimpanel.inputmethod"),
                                  QStringLiteral("UpdateProperty"), {property}});
        });
    };
    const auto nameAtOnce = [&] {
        clock.advance(0.05);
        return fcitx.engineName();
    };
    // The poll's answer names the US keyboard, the engine known.
    switchWhile("CurrentInputMethod", "/Fcitx/im:Anthy:fcitx-anthy:Hiragana:menu,label=あ");
    clock.advance(platform::Fcitx5EngineWatch::pollInterval - 0.1);
    EXPECT_EQ(nameAtOnce(), QStringLiteral("anthy"));
    EXPECT_EQ(changes, 1);
    // The US keyboard, chosen meanwhile, is being described.
    fcitx.current = QStringLiteral("keyboard-us");
    switchWhile("AvailableInputMethods", "/Fcitx/im:Anthy:fcitx-anthy:Katakana:menu,label=ア");
    clock.advance(platform::Fcitx5EngineWatch::pollInterval - 0.05);
    EXPECT_EQ(nameAtOnce(), QStringLiteral("anthy"));
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{QStringLiteral("ア"), "Katakana"}));
}

// The input method each input context takes, as Fcitx5 tells its owner, comes in Fcitx5's own
// order, before any poll that asks after it: the first one after Fcitx5 appeared is where it
// stands, the next a switch. What was told of a Fcitx5 that went away is no part of the next one.
TEST(Fcitx5EngineWatchTest, TheInputMethodsInputContextsTakeAreTakenInFcitx5sOrder) {
    ScriptedFcitx5 fcitx;
    auto& watch = fcitx.watch;
    auto& clock = fcitx.clock.scheduler;
    int changes = 0;
    watch.start([&] { ++changes; });
    clock.advance(0.1);
    QString fcitxOwner = kFcitx5Owner;
    const auto took = [&](const char* inputMethod) {
        fcitx.current = QString::fromLatin1(inputMethod);
        fcitx.bus.emitSignal({fcitxOwner, QStringLiteral("/org/freedesktop/portal/inputcontext/1"),
                              QStringLiteral("org.fcitx.Fcitx.InputContext1"), QStringLiteral("CurrentIM"),
                              {QString(), fcitx.current, QString()}});
    };
    const auto owner = [&](const QString& from, const QString& to) {
        fcitxOwner = to;
        fcitx.bus.setOwner(QStringLiteral("org.fcitx.Fcitx5"), to);
        fcitx.bus.emitSignal({QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                              QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"),
                              {QStringLiteral("org.fcitx.Fcitx5"), from, to}});
    };
    took("keyboard-us");
    took("anthy");
    clock.advance(0.1);
    EXPECT_EQ(fcitx.engineName(), QStringLiteral("anthy"));
    EXPECT_EQ(changes, 1);

    // Fcitx5 replaced while the US keyboard, told last, is being described.
    took("keyboard-us");
    took("anthy");
    fcitx.current.clear();
    owner(kFcitx5Owner, QStringLiteral(":1.9"));
    clock.advance(0.1);
    EXPECT_EQ(watch.engine(), std::nullopt);
    took("keyboard-us");
    clock.advance(0.1);
    EXPECT_EQ(fcitx.engineName(), QStringLiteral("keyboard-us"));
    EXPECT_EQ(changes, 2);  // the switch, and Fcitx5 going with its engine: none since
}

// Anyone may send a signal named CurrentIM, and Fcitx5's name may change hands: only the
// connection that owns the name now, as the bus itself tells, names an input method, and only one
// Fcitx5 offers, by a name of a plausible length, in arguments of the signal's own types.
TEST(Fcitx5EngineWatchTest, OnlyFcitx5sOwnWordOnAnInputMethodItOffersCounts) {
    ScriptedFcitx5 fcitx;
    auto& watch = fcitx.watch;
    auto& clock = fcitx.clock.scheduler;
    int changes = 0;
    watch.start([&] { ++changes; });
    fcitx.current = QStringLiteral("keyboard-us");
    clock.advance(0.1);
    ASSERT_EQ(fcitx.engineName(), QStringLiteral("keyboard-us"));
    const auto told = [&](const QString& sender, const QVariantList& arguments) {
        fcitx.bus.setOwner(QStringLiteral("org.fcitx.Fcitx5"), sender);  // past whatever the bus would filter
        fcitx.bus.emitSignal({sender, QStringLiteral("/inputcontext/1"), QStringLiteral("org.fcitx.Fcitx.InputContext1"),
                              QStringLiteral("CurrentIM"), arguments});
        clock.advance(0.01);  // well within a poll's interval: only the signal can have moved it
        return fcitx.engineName();
    };
    const auto ownerChanged = [&](const QString& sender, const QString& to) {
        fcitx.bus.emitSignal({sender, QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
                              QStringLiteral("NameOwnerChanged"), {QStringLiteral("org.fcitx.Fcitx5"), kFcitx5Owner, to}});
    };
    const QString anthy = QStringLiteral("anthy");
    EXPECT_EQ(told(QStringLiteral(":1.66"), {QString(), anthy, QString()}), "keyboard-us");
    EXPECT_EQ(told(kFcitx5Owner, {1, 2, 3}), "keyboard-us");
    EXPECT_EQ(told(kFcitx5Owner, {QString(), anthy}), "keyboard-us");
    EXPECT_EQ(told(kFcitx5Owner, {QString(), anthy, 3}), "keyboard-us");
    EXPECT_EQ(told(kFcitx5Owner, {QString(), QStringLiteral("fake-im"), QString()}), "keyboard-us");
    EXPECT_EQ(told(kFcitx5Owner, {QString(), QString(1 << 20, QLatin1Char('a')), QString()}), "keyboard-us");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(told(kFcitx5Owner, {QString(), anthy, QString()}), anthy);
    EXPECT_EQ(changes, 1);

    // Only the bus says who owns the name now; a Fcitx5 just started names no input method yet.
    ownerChanged(kFcitx5Owner, QStringLiteral(":1.66"));
    clock.advance(0.01);
    EXPECT_EQ(fcitx.engineName(), anthy);
    fcitx.current.clear();
    ownerChanged(QStringLiteral("org.freedesktop.DBus"), QStringLiteral(":1.9"));
    clock.advance(0.01);
    EXPECT_EQ(watch.engine(), std::nullopt);
    EXPECT_EQ(told(kFcitx5Owner, {QString(), anthy, QString()}), QString());
    EXPECT_EQ(told(QStringLiteral(":1.9"), {QString(), anthy, QString()}), anthy);
}

// A bus that lets nobody overhear (dbus-broker) says so once, however often the watch starts.
TEST(Fcitx5EngineWatchTest, ABusThatRefusesOverhearingIsLoggedOnce) {
    testsupport::LogCapture log;
    ScriptedFcitx5 fcitx;
    fcitx.bus.refuseEavesdropping(QStringLiteral("org.freedesktop.DBus.Error.MatchRuleInvalid"));
    for (int i = 0; i < 2; ++i) {
        fcitx.watch.start([] {});
        fcitx.clock.scheduler.advance(0.1);
        fcitx.watch.stop();
    }
    EXPECT_EQ(log.matching(QStringLiteral("Fcitx5: ")),
              QStringList{QStringLiteral("Fcitx5: The session bus refused to let the input method a text field takes be "
                                         "overheard (org.freedesktop.DBus.Error.MatchRuleInvalid): switches are known "
                                         "from Fcitx5's answers alone")});
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
