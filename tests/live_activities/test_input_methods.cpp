// The input-source service with the desktop's input method frameworks: the real IBus daemon (with
// Anthy) and the real Fcitx5 on a private session bus, each switched the way a user's tools
// switch them; and the identifiers the engines get, from which the activity's glyph comes.

#include "core/event_bus.h"
#include "live_activities/input_source_activity_view.h"
#include "live_activities/input_source_service.h"
#include "live_activities/live_test_helpers.h"
#include "platform/input_source/desktop_input_sources.h"
#include "platform/input_source/fcitx5_engine_watch.h"
#include "platform/input_source/input_method_engine.h"
#include "platform/input_source/input_method_mode.h"
#include "platform/input_source/xkb_input_sources.h"
#include "platform/runtime/qt_scheduler.h"
#include "support/fake_dbus_connection.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QThreadPool>

#include <memory>
#include <utility>

using platform::DesktopInputSources;
using platform::InputMethodEngine;
using testsupport::PrivateBus;
using testsupport::ScopedEnvironment;
using testsupport::ServiceProcess;

namespace {

QString glyphOf(const InputMethodEngine& engine) {
    return InputSourceActivityView::displayName(platform::inputSourceFor(engine).id.value_or(QString()));
}

// No X display: the keyboard gives no source, so what is announced is the framework's alone.
std::unique_ptr<platform::InputSources> noKeyboard() {
    return std::make_unique<platform::XkbInputSources>(QByteArrayLiteral(":9999"));
}

// Records what the service announces.
struct Announcements {
    explicit Announcements(EventBus& bus) {
        subscriptions.insert(bus.inputSourceSubject.sink([this](const std::optional<InputSourceInfo>& info) {
            if (info) sources.push_back(*info);
        }));
    }
    QStringList glyphs() const {
        QStringList out;
        for (const InputSourceInfo& info : sources) out << InputSourceActivityView::displayName(info.id);
        return out;
    }
    std::vector<InputSourceInfo> sources;
    platform::CancellableSet subscriptions;
};

}  // namespace

TEST(InputMethodEngines, JapaneseKanaAndKatakanaEnginesGiveTheirGlyphsAndEverythingElseAbc) {
    // An input method whose mode is unheard is the engine alone: not hiragana, whatever its label.
    const InputMethodEngine anthy{"ibus", "anthy", "Anthy", "ja", QStringLiteral("あ"), ""};
    EXPECT_EQ(platform::inputSourceFor(anthy).id, QStringLiteral("ibus:anthy"));
    EXPECT_TRUE(platform::inputSourceFor(anthy).modeUnheard);
    EXPECT_EQ(platform::inputSourceFor(anthy).localizedName, QStringLiteral("Anthy"));
    EXPECT_EQ(glyphOf({"fcitx5", "mozc", "Mozc", "ja", "", ""}), "abc");
    EXPECT_FALSE(platform::inputSourceFor({"ibus", "xkb:jp::jpn", "Japanese", "ja", "", ""}).modeUnheard);
    // Katakana by its label, or by its name.
    EXPECT_EQ(glyphOf({"ibus", "kana-input", "Kana", "ja", QStringLiteral("ア"), ""}), QStringLiteral("ア"));
    EXPECT_EQ(glyphOf({"fcitx5", "skk-katakana", "SKK", "ja", "", ""}), QStringLiteral("ア"));
    // Japanese keyboard layouts type Latin letters, unless it is a kana layout.
    EXPECT_EQ(glyphOf({"ibus", "xkb:jp::jpn", "Japanese", "ja", "", ""}), QStringLiteral("abc"));
    EXPECT_EQ(glyphOf({"ibus", "xkb:jp:kana:jpn", "Japanese (Kana)", "ja", "", "kana"}), QStringLiteral("あ"));
    EXPECT_EQ(glyphOf({"fcitx5", "keyboard-jp", "Keyboard - Japanese", "ja", "jp", ""}), QStringLiteral("abc"));
    EXPECT_EQ(glyphOf({"fcitx5", "keyboard-jp-kana", "Keyboard - Japanese (Kana)", "ja", "jp", ""}), QStringLiteral("あ"));
    // Other languages, katakana-looking labels included, are "abc".
    EXPECT_EQ(glyphOf({"ibus", "xkb:us::eng", "English (US)", "en", "", ""}), QStringLiteral("abc"));
    EXPECT_EQ(glyphOf({"fcitx5", "pinyin", "Pinyin", "zh_CN", QStringLiteral("拼"), ""}), QStringLiteral("abc"));
    EXPECT_EQ(glyphOf({"ibus", "hangul", "Hangul", "ko", QStringLiteral("ア"), ""}), QStringLiteral("abc"));
    // A name-only engine is named by its identifier.
    EXPECT_EQ(platform::inputSourceFor({"fcitx5", "unknown", "", "", "", ""}).localizedName, QStringLiteral("unknown"));
}

TEST(InputMethodEngines, DescriptionsAsTheFrameworksSendThem) {
    const QVariantList anthy{"IBusEngineDesc", QVariantMap(), "anthy", "Anthy", "Anthy Input Method", "ja", "GPL",
                             "", "ibus-anthy", "default", 99u, "", QStringLiteral("あ"), "", "", "", "1.5", "", "InputMode"};
    const auto engine = platform::IBusEngineWatch::engineFromDescription(anthy);
    ASSERT_TRUE(engine.has_value());
    EXPECT_EQ(*engine, (InputMethodEngine{"ibus", "anthy", "Anthy", "ja", QStringLiteral("あ"), ""}));
    EXPECT_EQ(platform::IBusEngineWatch::engineFromDescription(QVariantList{"IBusComponent", QVariantMap()}), std::nullopt);
    EXPECT_EQ(platform::IBusEngineWatch::engineFromDescription(QStringLiteral("anthy")), std::nullopt);

    const QVariantList available{QVariantList{"keyboard-us", "Keyboard - English (US)", "", "input-keyboard", "us", "en", false},
                                 QVariantList{"anthy", "Anthy", "", "fcitx-anthy", QStringLiteral("あ"), "ja", true}};
    EXPECT_EQ(platform::Fcitx5EngineWatch::engineFromAvailable(available, "anthy"),
              (InputMethodEngine{"fcitx5", "anthy", "Anthy", "ja", QStringLiteral("あ"), ""}));
    EXPECT_EQ(platform::Fcitx5EngineWatch::engineFromAvailable(available, "mozc"), std::nullopt);
}

namespace {

QVariantList ibusText(const QString& text) { return {"IBusText", QVariantMap(), text, QVariantList{"IBusAttrList", QVariantMap(), QVariantList()}}; }

// An IBusProperty as the bus library hands it over once unwrapped.
QVariantList ibusProperty(const QString& key, const QString& symbol) {
    return {"IBusProperty", QVariantMap(), key, "", ibusText(QStringLiteral("Input mode (%1)").arg(symbol)),
            ibusText("Switch input mode"), true, true, 1u, 0u, QVariantList{"IBusPropList", QVariantMap(), QVariantList()},
            ibusText(symbol)};
}

}  // namespace

// Each mode a Japanese engine announces gives the glyph of what it types, and names the mode.
TEST(InputMethodModes, TheModeOfAJapaneseEngineDecidesItsIdentifierAndName) {
    const InputMethodEngine anthy{"fcitx5", "anthy", "Anthy", "ja", QStringLiteral("あ"), ""};
    const auto source = [&](const QString& label, const QString& name = {}) {
        return platform::inputSourceFor(anthy, platform::InputMethodMode{label, name});
    };
    const auto glyph = [&](const QString& label) { return InputSourceActivityView::displayName(source(label).id.value_or(QString())); };
    EXPECT_EQ(source(QStringLiteral("あ"), "Hiragana").id, QStringLiteral("fcitx5:anthy.Japanese"));
    EXPECT_EQ(source(QStringLiteral("ア"), "Katakana").id, QStringLiteral("fcitx5:anthy.Japanese.Katakana"));
    EXPECT_EQ(source(QStringLiteral("ア"), "Katakana").localizedName, QStringLiteral("Anthy (Katakana)"));
    EXPECT_EQ(source("A", "Direct input").id, QStringLiteral("fcitx5:anthy.Roman"));
    EXPECT_EQ(source("A", "Direct input").localizedName, QStringLiteral("Anthy (Direct input)"));
    // Without a name from the framework, the mode's own.
    EXPECT_EQ(source(QStringLiteral("_ｱ")).localizedName, QStringLiteral("Anthy (Half width katakana)"));
    EXPECT_EQ(glyph(QStringLiteral("あ")), QStringLiteral("あ"));
    EXPECT_EQ(glyph(QStringLiteral("ア")), QStringLiteral("ア"));
    EXPECT_EQ(glyph(QStringLiteral("ｱ")), QStringLiteral("ア"));
    EXPECT_EQ(glyph(QStringLiteral("_ｱ")), QStringLiteral("ア"));
    EXPECT_EQ(glyph("A"), "abc");
    EXPECT_EQ(glyph("_A"), "abc");
    EXPECT_EQ(glyph(QStringLiteral("Ａ")), "abc");
    // Each mode is a source of its own, so a switch between any two is announced.
    QStringList ids;
    for (const QString& label : {QStringLiteral("あ"), QStringLiteral("ア"), QStringLiteral("ｱ"), QStringLiteral("A"), QStringLiteral("Ａ")})
        ids << source(label).id.value_or(QString());
    ids.removeDuplicates();
    EXPECT_EQ(ids.size(), 5);

    // A label that names no Japanese mode, or a mode of another language, leaves the engine's own.
    EXPECT_EQ(source(QStringLiteral("拼")).id, QStringLiteral("fcitx5:anthy"));
    EXPECT_EQ(source("").localizedName, QStringLiteral("Anthy"));
    const InputMethodEngine pinyin{"fcitx5", "pinyin", "Pinyin", "zh_CN", QStringLiteral("拼"), ""};
    EXPECT_EQ(platform::inputSourceFor(pinyin, platform::InputMethodMode{"A", "English"}).id, QStringLiteral("fcitx5:pinyin"));
}

TEST(InputMethodModes, ModesAsTheFrameworksBroadcastThem) {
    const auto anthy = platform::kimpanelInputMethod(QStringLiteral("/Fcitx/im:Anthy:fcitx-anthy:Half width katakana:menu,label=ｱ"));
    ASSERT_TRUE(anthy.has_value());
    EXPECT_EQ(anthy->name, "Anthy");
    EXPECT_EQ(anthy->mode, (platform::InputMethodMode{QStringLiteral("ｱ"), "Half width katakana"}));
    // A keyboard layout has no mode; a name may hold a colon.
    const auto us = platform::kimpanelInputMethod("/Fcitx/im:Keyboard - English (US):input-keyboard-symbolic::menu,label=en");
    ASSERT_TRUE(us.has_value());
    EXPECT_EQ(us->name, "Keyboard - English (US)");
    EXPECT_EQ(us->mode, std::nullopt);
    EXPECT_EQ(platform::kimpanelInputMethod("/Fcitx/im:A:B:x:Direct input:menu,label=A")->name, "A:B");
    EXPECT_EQ(platform::kimpanelInputMethod("/Fcitx/anthy-typing-method:Romaji:icon:tip:menu"), std::nullopt);
    EXPECT_EQ(platform::kimpanelInputMethod("/Fcitx/im:Anthy"), std::nullopt);

    EXPECT_EQ(platform::ibusInputMode(ibusProperty("InputMode", QStringLiteral("ア"))),
              (platform::InputMethodMode{QStringLiteral("ア"), "Katakana"}));
    EXPECT_EQ(platform::ibusInputMode(ibusProperty("InputMode", "_A")), (platform::InputMethodMode{"_A", "Latin"}));
    EXPECT_EQ(platform::ibusInputMode(ibusProperty("TypingMode", "R")), std::nullopt);
    EXPECT_EQ(platform::ibusInputMode(ibusProperty("InputMode", "")), std::nullopt);
    EXPECT_EQ(platform::ibusInputMode(QVariantList{"IBusText", QVariantMap(), "InputMode"}), std::nullopt);
    EXPECT_EQ(platform::ibusInputMode(QStringLiteral("InputMode")), std::nullopt);
}

namespace {

// A private session bus and HOME for one framework's daemon. The daemons' engines are Python
// programs that need the system's python3 with its GObject bindings.
class InputMethodDaemonTest : public testsupport::QuillvexTest {
protected:
    void startBus() {
        env.set("PATH", "/usr/bin:/bin");
        env.unset("DISPLAY");
        env.unset("WAYLAND_DISPLAY");
        env.unset("IBUS_ADDRESS");
        QString error;
        sessionBus = PrivateBus::start(PrivateBus::Kind::session, &error);
        ASSERT_TRUE(sessionBus) << error.toStdString();
        busEnv = sessionBus->exportAddress();
    }
    QString logPath(const char* name) const { return home.path() + QLatin1Char('/') + QLatin1String(name); }
    // Virtual time keeps pace with the daemons' own, so what waits for quiet comes.
    bool pump(const std::function<bool()>& done, int limitMs = 10000) {
        QElapsedTimer real;
        real.start();
        qint64 passed = 0;
        return testsupport::pumpUntil(scheduler(), [&] {
            const qint64 now = real.nsecsElapsed();
            scheduler().advance(static_cast<double>(now - std::exchange(passed, now)) / 1e9);
            return done();
        }, limitMs);
    }

    ScopedEnvironment env;
    testsupport::ScopedServiceHome home;
    std::unique_ptr<PrivateBus> sessionBus;
    std::unique_ptr<ScopedEnvironment> busEnv;
    std::unique_ptr<ServiceProcess> daemon;
};

class IBusInputMethodTest : public InputMethodDaemonTest {
protected:
    void SetUp() override {
        if (!QFile::exists(QStringLiteral("/usr/bin/ibus-daemon")) || !QFile::exists(QStringLiteral("/usr/libexec/ibus-engine-anthy")))
            QUILLVEX_SERVICE_MISSING("ibus and ibus-anthy are not installed");
        ASSERT_NO_FATAL_FAILURE(startBus());
        QString error;
        daemon = ServiceProcess::start(QStringLiteral("/usr/bin/ibus-daemon"),
                                       // Its flags take no value: "--daemonize=false" would detach it.
                                       {QStringLiteral("--single"), QStringLiteral("--panel=disable"),
                                        QStringLiteral("--emoji-extension=disable")},
                                       logPath("ibus.log"), -1, &error);
        ASSERT_TRUE(daemon) << error.toStdString();
        ASSERT_TRUE(sessionBus->waitForName(QStringLiteral("org.freedesktop.IBus"), std::chrono::seconds(20)));
    }
    // What `ibus engine NAME` does: IBus's global engine becomes NAME.
    static bool switchTo(const char* engine) {
        QString output;
        testsupport::runTool(QStringLiteral("/usr/bin/ibus"), {QStringLiteral("engine"), QString::fromLatin1(engine)}, &output);
        testsupport::runTool(QStringLiteral("/usr/bin/ibus"), {QStringLiteral("engine")}, &output);
        return output.trimmed() == QLatin1String(engine);
    }
    // A text field of another application focused on IBus's own bus, as a toolkit's IBus module
    // makes one; it asks for the engine's properties, as a panel-less application does.
    void focusATextField() {
        ibusClient = std::make_unique<platform::QtDBusConnection>(platform::IBusEngineWatch::runIBusAddress(),
                                                                  QStringLiteral("quillvex-test-ibus-client"));
        ASSERT_TRUE(ibusClient->isConnected());
        const auto created = ibusClient->call({QStringLiteral("org.freedesktop.IBus"), QStringLiteral("/org/freedesktop/IBus"),
                                               QStringLiteral("org.freedesktop.IBus"), QStringLiteral("CreateInputContext"),
                                               {QStringLiteral("quillvex-test")}},
                                              std::chrono::seconds(5));
        ASSERT_TRUE(created.ok()) << created.errorMessage.toStdString();
        inputContext = created.value().value<QDBusObjectPath>().path();
        const unsigned focusAndProperties = 8u | 16u;
        ASSERT_TRUE(inputContextCall("SetCapabilities", {focusAndProperties}).ok());
        ASSERT_TRUE(inputContextCall("FocusIn").ok());
    }
    platform::DBusReply inputContextCall(const char* method, const QVariantList& arguments = {}) {
        return ibusClient->call({QStringLiteral("org.freedesktop.IBus"), inputContext,
                                 QStringLiteral("org.freedesktop.IBus.InputContext"), QString::fromLatin1(method), arguments},
                                std::chrono::seconds(5));
    }
    // Control and a key, pressed and released in the text field (IBus's key codes are X's less 8).
    void pressControl(unsigned keyval, unsigned xKeycode) {
        const unsigned control = 1u << 2, release = 1u << 30;
        for (const unsigned state : {control, control | release})
            ASSERT_TRUE(inputContextCall("ProcessKeyEvent", {keyval, xKeycode - 8, state}).ok());
    }
    std::unique_ptr<platform::QtDBusConnection> ibusClient;
    QString inputContext;
};

}  // namespace

// The switch a Japanese user makes: none, then Anthy, back to the US layout, to Anthy again.
// The daemon's first engine is where it stands; each switch after it is announced. Anthy
// publishes its mode as it becomes the engine: Latin input, where ibus-anthy starts.
TEST_F(IBusInputMethodTest, EachGlobalEngineSwitchIsAnnouncedWithItsGlyph) {
    DesktopInputSources sources(noKeyboard(), sessionBus->connection(), scheduler());
    EventBus bus(scheduler());
    InputSourceService service(bus, scheduler(), sources);
    Announcements seen(bus);
    service.start();
    ASSERT_TRUE(pump([&] { return sources.ibus().isSettled(); })) << "IBus's bus was not reached";
    EXPECT_EQ(sources.ibus().engine(), std::nullopt);  // a fresh daemon has no global engine
    const auto reaches = [&](const char* id, const char* glyph) {
        const bool reached = pump([&] { return !seen.sources.empty() && seen.sources.back().id == QLatin1String(id); });
        if (!reached) return ::testing::AssertionFailure() << (seen.sources.empty() ? "nothing" : seen.sources.back().id.toStdString());
        if (seen.glyphs().back() != QString::fromUtf8(glyph)) return ::testing::AssertionFailure() << seen.glyphs().back().toStdString();
        return ::testing::AssertionSuccess();
    };

    ASSERT_TRUE(switchTo("anthy"));
    ASSERT_TRUE(reaches("ibus:anthy.Roman", "abc"));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to Anthy (Latin) (ibus:anthy.Roman)")));
    ASSERT_TRUE(switchTo("xkb:us::eng"));
    ASSERT_TRUE(reaches("ibus:xkb:us::eng", "abc"));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to English (US) (ibus:xkb:us::eng)")));
    ASSERT_TRUE(switchTo("xkb:jp:kana:jpn"));
    ASSERT_TRUE(reaches("ibus:xkb:jp:kana:jpn.Japanese", "あ"));
    ASSERT_TRUE(switchTo("anthy"));
    ASSERT_TRUE(reaches("ibus:anthy.Roman", "abc"));

    // IBus going away takes its engine with it; the keyboard (none here) is the source again.
    daemon->stop();
    ASSERT_TRUE(pump([&] { return !sources.ibus().engine().has_value(); }));
    EXPECT_EQ(sources.currentSource(), std::nullopt);
    service.stop();
}

// Anthy's own key in a focused text field: Control+comma steps the input mode (Latin, wide Latin,
// hiragana, katakana, half-width katakana, Latin again). Each mode the engine publishes is heard
// by eavesdropping on IBus's bus, with no panel of ours, and announced at once; on the real clock.
TEST_F(IBusInputMethodTest, AnthysInputModesAreAnnouncedAsTheEnginePublishesThem) {
    platform::QtScheduler realTime;
    DesktopInputSources sources(noKeyboard(), sessionBus->connection(), realTime);
    EventBus bus(realTime);
    InputSourceService service(bus, realTime, sources);
    Announcements seen(bus);
    service.start();
    ASSERT_TRUE(pump([&] { return sources.ibus().isSettled(); })) << "IBus's bus was not reached";
    ASSERT_NO_FATAL_FAILURE(focusATextField());
    const auto lastID = [&] { return seen.sources.empty() ? QString() : seen.sources.back().id; };

    // ibus-anthy starts in Latin input.
    ASSERT_TRUE(switchTo("anthy"));
    ASSERT_TRUE(pump([&] { return lastID() == QLatin1String("ibus:anthy.Roman"); })) << lastID().toStdString();
    EXPECT_EQ(seen.sources.back().name, QStringLiteral("Anthy (Latin)"));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to Anthy (Latin) (ibus:anthy.Roman)")));
    ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
    ASSERT_TRUE(pump([&] { return lastID() == QLatin1String("ibus:anthy.FullWidthRoman"); })) << lastID().toStdString();
    ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
    ASSERT_TRUE(pump([&] { return lastID() == QLatin1String("ibus:anthy.Japanese"); })) << lastID().toStdString();
    const qsizetype hiragana = seen.sources.size() - 1;
    ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
    ASSERT_TRUE(pump([&] { return lastID() == QLatin1String("ibus:anthy.Japanese.Katakana"); })) << lastID().toStdString();
    EXPECT_EQ(seen.sources.back().name, QStringLiteral("Anthy (Katakana)"));
    ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
    ASSERT_TRUE(pump([&] { return lastID() == QLatin1String("ibus:anthy.Japanese.HalfWidthKatakana"); })) << lastID().toStdString();
    ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
    ASSERT_TRUE(pump([&] { return lastID() == QLatin1String("ibus:anthy.Roman"); })) << lastID().toStdString();
    EXPECT_EQ(seen.glyphs().mid(hiragana), (QStringList{QStringLiteral("あ"), QStringLiteral("ア"), QStringLiteral("ア"), "abc"}));

    // Another engine forgets Anthy's mode.
    ASSERT_TRUE(switchTo("xkb:us::eng"));
    ASSERT_TRUE(pump([&] { return lastID() == QLatin1String("ibus:xkb:us::eng"); })) << lastID().toStdString();
    EXPECT_EQ(sources.ibus().mode(), std::nullopt);
    service.stop();
}

// Anthy already in katakana when the service starts: IBus tells no bystander the mode in use, so
// it is unheard, not hiragana; Anthy re-selected (nothing changes) tells katakana, which is where
// the user stood; the user's next change is announced with its mode. On the real clock.
TEST_F(IBusInputMethodTest, AModeInUseBeforeTheStartIsNoSwitchWhenTheEngineTellsIt) {
    platform::QtScheduler realTime;
    ASSERT_NO_FATAL_FAILURE(focusATextField());
    ASSERT_TRUE(switchTo("anthy"));
    {
        // Another watcher follows the user into katakana: Latin, wide Latin, hiragana, katakana.
        DesktopInputSources before(noKeyboard(), sessionBus->connection(), realTime);
        const auto observing = before.observeSelectionChanges([] {});
        ASSERT_TRUE(pump([&] { return before.ibus().isSettled(); }));
        for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
        ASSERT_TRUE(pump([&] { return before.ibus().mode() && before.ibus().mode()->label == QStringLiteral("ア"); }));
    }
    DesktopInputSources sources(noKeyboard(), sessionBus->connection(), realTime);
    EventBus bus(realTime);
    InputSourceService service(bus, realTime, sources);
    Announcements seen(bus);
    service.start();
    ASSERT_TRUE(pump([&] { return service.isStarted(); }));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Started (current: ibus:anthy)")));

    ASSERT_TRUE(switchTo("anthy"));
    ASSERT_TRUE(pump([&] { return service.lastSourceID() == QStringLiteral("ibus:anthy.Japanese.Katakana"); }))
        << service.lastSourceID().value_or("none").toStdString();
    ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
    ASSERT_TRUE(pump([&] { return !seen.sources.empty(); }));
    EXPECT_EQ(seen.sources.front().id, QStringLiteral("ibus:anthy.Japanese.HalfWidthKatakana"));
    service.stop();
}

// Signals of two senders keep no order between them: the new engine's RegisterProperties may come
// before the daemon's GlobalEngineChanged, the daemon already switched; its UpdateProperty, sent as
// it is made, comes before. A stand-in daemon on a
// plain bus sends them in that order, so the race is the same every run; the mode still goes to
// the engine it came with.
TEST_F(InputMethodDaemonTest, AModeRegisteredBeforeTheEngineSwitchIsAnnouncedBelongsToTheNewEngine) {
    ASSERT_NO_FATAL_FAILURE(startBus());
    QString error;
    const QString ibus = QStringLiteral("org.freedesktop.IBus");
    auto daemon = testsupport::DBusMock::startPlain(*sessionBus, ibus, QStringLiteral("/org/freedesktop/IBus"), ibus, &error);
    ASSERT_TRUE(daemon) << error.toStdString();
    // Python helpers for the daemon's values: IBusText, IBusEngineDesc and an IBusPropList.
    const QString values = QStringLiteral(
        "text = lambda s: dbus.Struct(('IBusText', dbus.Dictionary({}, signature='sv'), s, "
        "dbus.Struct(('IBusAttrList', dbus.Dictionary({}, signature='sv'), dbus.Array([], signature='v')), variant_level=1)), variant_level=1); "
        "desc = lambda name, lang, symbol: dbus.Struct(('IBusEngineDesc', dbus.Dictionary({}, signature='sv'), name, name.title(), '', lang, "
        "'', '', '', 'us', dbus.UInt32(0), '', symbol, '', ''), variant_level=1); ");
    ASSERT_TRUE(daemon->addMethod(ibus, "SwitchTo", "ss", "",
                                  values + "self.props['org.freedesktop.IBus']['GlobalEngine'] = desc(args[0], args[1], ''); "
                                           "self.EmitSignal('org.freedesktop.IBus', 'GlobalEngineChanged', 's', [args[0]])"));
    ASSERT_TRUE(daemon->addMethod(
        ibus, "RegisterModeThenSwitchTo", "sssb", "",
        values + "path = '/org/freedesktop/IBus/Engine/' + args[0]; "
                 "objects.get(path) or self.AddObject(path, 'org.freedesktop.IBus.Engine', {}, []); "
                 "prop = dbus.Struct(('IBusProperty', dbus.Dictionary({}, signature='sv'), 'InputMode', dbus.UInt32(0), text('Input mode'), "
                 "'', text(''), True, True, dbus.UInt32(0), dbus.Struct(('IBusPropList', dbus.Dictionary({}, signature='sv'), "
                 "dbus.Array([], signature='v')), variant_level=1), text(args[2])), variant_level=1); "
                 "self.props['org.freedesktop.IBus']['GlobalEngine'] = desc(args[0], args[1], ''); "
                 "objects[path].EmitSignal('org.freedesktop.IBus.Engine', 'UpdateProperty', 'v', [prop]) if args[3] else "
                 "objects[path].EmitSignal('org.freedesktop.IBus.Engine', 'RegisterProperties', 'v', "
                 "[dbus.Struct(('IBusPropList', dbus.Dictionary({}, signature='sv'), dbus.Array([prop], signature='v')), variant_level=1)]); "
                 "self.EmitSignal('org.freedesktop.IBus', 'GlobalEngineChanged', 's', [args[0]])"));
    ASSERT_TRUE(daemon->call("SwitchTo", {QStringLiteral("xkb:us::eng"), QStringLiteral("en")}, ibus).ok());

    platform::IBusEngineWatch watch(sessionBus->connection(), scheduler(), [address = sessionBus->address()] { return address; });
    int changes = 0;
    watch.start([&] { ++changes; });
    ASSERT_TRUE(pump([&] { return watch.isSettled(); }));
    ASSERT_EQ(watch.engine().value_or(platform::InputMethodEngine{}).name, QStringLiteral("xkb:us::eng"));

    ASSERT_TRUE(daemon->call("RegisterModeThenSwitchTo", {QStringLiteral("anthy"), QStringLiteral("ja"), "_A", false}, ibus).ok());
    ASSERT_TRUE(pump([&] { return watch.engine() && watch.engine()->name == QLatin1String("anthy"); }));
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{"_A", "Latin"}));
    EXPECT_EQ(changes, 1);

    // The next engine, which publishes no mode, does not inherit Anthy's.
    ASSERT_TRUE(daemon->call("SwitchTo", {QStringLiteral("kkc"), QStringLiteral("ja")}, ibus).ok());
    ASSERT_TRUE(pump([&] { return watch.engine() && watch.engine()->name == QLatin1String("kkc"); }));
    EXPECT_EQ(watch.mode(), std::nullopt);
    EXPECT_EQ(changes, 2);

    // An engine that publishes its mode as it is made, before the daemon switches to it: the mode
    // is the new engine's too.
    ASSERT_TRUE(daemon->call("RegisterModeThenSwitchTo", {QStringLiteral("mozc"), QStringLiteral("ja"), QStringLiteral("ア"), true}, ibus).ok());
    ASSERT_TRUE(pump([&] { return watch.engine() && watch.engine()->name == QLatin1String("mozc"); }));
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{QStringLiteral("ア"), "Katakana"}));
    watch.stop();
}

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
