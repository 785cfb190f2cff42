// The input-source service with the desktop's input method frameworks: the identifiers the
// engines get, from which the activity's glyph comes, and the real IBus daemon (with Anthy) on a
// private session bus, switched the way a user's tools switch it. Fcitx5's are in
// test_fcitx5_engine_watch.cpp and test_fcitx5_input_methods.cpp.

#include "input_method_daemon_test.h"
#include "live_activities/input_source_service.h"
#include "platform/input_source/desktop_input_sources.h"
#include "platform/input_source/fcitx5_engine_watch.h"
#include "platform/input_source/ibus_engine_watch.h"
#include "platform/input_source/input_method_engine.h"
#include "platform/input_source/input_method_mode.h"
#include "platform/runtime/qt_scheduler.h"

#include <QDBusObjectPath>
#include <QFile>

#include <memory>

#include <signal.h>

using platform::DesktopInputSources;
using platform::InputMethodEngine;
using testsupport::ServiceProcess;

namespace {

QString glyphOf(const InputMethodEngine& engine) {
    return InputSourceActivityView::displayName(platform::inputSourceFor(engine).id.value_or(QString()));
}

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

// What a framework tells goes on into the input source's name and the log: a text longer than
// any framework's own, or of another type, is no input method, mode or label of theirs.
TEST(InputMethodModes, OversizedOrMistypedTextsAreNoFrameworksOwn) {
    const QString huge(platform::maxInputMethodText + 1, QLatin1Char('a'));
    EXPECT_EQ(platform::kimpanelInputMethod("/Fcitx/im:" + huge + ":fcitx-anthy:Hiragana:menu,label=あ"), std::nullopt);
    EXPECT_EQ(platform::kimpanelInputMethod("/Fcitx/im:Anthy:fcitx-anthy:" + huge + ":menu,label=あ"), std::nullopt);
    EXPECT_EQ(platform::ibusInputMode(ibusProperty("InputMode", QString(platform::maxInputMethodText + 1, QChar(0x3042)))),
              std::nullopt);
    const auto item = [](const QVariant& label, const char* toggle) {
        return QVariant(QVariantList{1, QVariantMap{{"label", label}, {"toggle-type", toggle}, {"toggle-state", 1}}, QVariantList()});
    };
    for (const QVariant& label : {QVariant(huge), QVariant(7)})
        EXPECT_EQ(platform::trayMenuInputMethod(QVariantList{0, QVariantMap(), QVariantList{item(label, "radio")}}), std::nullopt);

    QVariantList anthy{"IBusEngineDesc", QVariantMap(), "anthy", "Anthy", "", "ja", "", "", "", "", 99u, "", QStringLiteral("あ")};
    for (const QVariant& name : {QVariant(huge), QVariant(2)}) {
        anthy[3] = name;
        EXPECT_EQ(platform::IBusEngineWatch::engineFromDescription(anthy), std::nullopt);
    }
    for (const QVariant& name : {QVariant(huge), QVariant(2)})
        EXPECT_EQ(platform::Fcitx5EngineWatch::engineFromAvailable(
                      QVariantList{QVariantList{"anthy", name, "", "fcitx-anthy", QStringLiteral("あ"), "ja", true}}, "anthy"),
                  std::nullopt);
}

namespace {

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
    // A client of IBus's bus of its own sends an engine's `member` (UpdateProperty or
    // RegisterProperties) from /Engine/9, naming the mode `symbol`; the daemon has read it when
    // this returns.
    static bool forge(const char* member, const QString& symbol) {
        static const char* const forger = R"(
import sys
from gi.repository import Gio, GLib
address, member, symbol = sys.argv[1:4]
bus = Gio.DBusConnection.new_for_address_sync(address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
                                              Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
text = lambda s: GLib.Variant('(sa{sv}sv)', ('IBusText', {}, s, GLib.Variant('(sa{sv}av)', ('IBusAttrList', {}, []))))
mode = GLib.Variant('(sa{sv}suvsvbbuvv)', ('IBusProperty', {}, 'InputMode', 3, text('Input mode'), '', text(''), True, True, 0,
                                           GLib.Variant('(sa{sv}av)', ('IBusPropList', {}, [])), text(symbol)))
value = mode if member == 'UpdateProperty' else GLib.Variant('(sa{sv}av)', ('IBusPropList', {}, [mode]))
bus.emit_signal(None, '/org/freedesktop/IBus/Engine/9', 'org.freedesktop.IBus.Engine', member, GLib.Variant('(v)', (value,)))
bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'GetId', None, None, 0, -1, None)
)";
        return testsupport::runTool(QStringLiteral("/usr/bin/python3"),
                                    {QStringLiteral("-c"), QString::fromLatin1(forger), platform::IBusEngineWatch::runIBusAddress(),
                                     QString::fromLatin1(member), symbol}) == 0;
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

// Another client of IBus's bus names a mode as Anthy would, by an update and by registering an
// instance of its own: only the connection of the engine's component is heard, so the next mode
// told is Anthy's own, also from Anthy's component started anew. On the real clock.
TEST_F(IBusInputMethodTest, OnlyTheEngineInUseIsHeardNamingItsMode) {
    platform::QtScheduler realTime;
    platform::IBusEngineWatch watch(sessionBus->connection(), realTime);
    QStringList told;  // the mode at each change told
    watch.start([&] { told << (watch.mode() ? watch.mode()->label : QString()); });
    ASSERT_TRUE(pump([&] { return watch.isSettled(); })) << "IBus's bus was not reached";
    ASSERT_NO_FATAL_FAILURE(focusATextField());
    ASSERT_TRUE(switchTo("anthy"));
    ASSERT_TRUE(pump([&] { return told.endsWith(QStringLiteral("_A")); })) << told.join(' ').toStdString();

    told.clear();
    ASSERT_TRUE(forge("UpdateProperty", QStringLiteral("ア")));
    ASSERT_TRUE(forge("RegisterProperties", QStringLiteral("あ")));
    ASSERT_NO_FATAL_FAILURE(pressControl(',', 59));
    ASSERT_TRUE(pump([&] { return !told.empty(); }));
    EXPECT_EQ(told, QStringList{QStringLiteral("Ａ")});

    // Anthy's component ends; the daemon starts it anew, on a connection of its own.
    ASSERT_TRUE(switchTo("xkb:us::eng"));
    pid_t anthy = 0;
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(daemon->pid()));
    ASSERT_TRUE(children.open(QIODevice::ReadOnly));
    for (const QByteArray& child : children.readAll().split(' ')) {
        QFile command(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(child.trimmed())));
        if (command.open(QIODevice::ReadOnly) && command.readAll().contains("anthy")) anthy = child.trimmed().toInt();
    }
    ASSERT_GT(anthy, 0);
    ASSERT_EQ(::kill(anthy, SIGTERM), 0);
    ASSERT_TRUE(pump([&] { return !QFile::exists(QStringLiteral("/proc/%1").arg(anthy)); }));
    told.clear();
    ASSERT_TRUE(switchTo("anthy"));
    ASSERT_TRUE(pump([&] { return told.endsWith(QStringLiteral("_A")); })) << told.join(' ').toStdString();
    watch.stop();
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
    // Python helpers for the daemon's values: IBusText, IBusEngineDesc and an engine's InputMode
    // IBusProperty (given `text`: a lambda in a method's code sees none of the code's names), and
    // an engine's signal naming one (UpdateProperty when `update`, else RegisterProperties); then
    // the object of the engine args[0].
    const QString values = QStringLiteral(
        "text = lambda s: dbus.Struct(('IBusText', dbus.Dictionary({}, signature='sv'), s, "
        "dbus.Struct(('IBusAttrList', dbus.Dictionary({}, signature='sv'), dbus.Array([], signature='v')), variant_level=1)), variant_level=1); "
        "desc = lambda name, lang, symbol: dbus.Struct(('IBusEngineDesc', dbus.Dictionary({}, signature='sv'), name, name.title(), '', lang, "
        "'', '', '', 'us', dbus.UInt32(0), '', symbol, '', ''), variant_level=1); "
        "prop = lambda text, symbol: dbus.Struct(('IBusProperty', dbus.Dictionary({}, signature='sv'), 'InputMode', dbus.UInt32(0), "
        "text('Input mode'), '', text(''), True, True, dbus.UInt32(0), dbus.Struct(('IBusPropList', dbus.Dictionary({}, signature='sv'), "
        "dbus.Array([], signature='v')), variant_level=1), text(symbol)), variant_level=1); "
        "emit = lambda engine, update, p: engine.EmitSignal('org.freedesktop.IBus.Engine', 'UpdateProperty', 'v', [p]) if update else "
        "engine.EmitSignal('org.freedesktop.IBus.Engine', 'RegisterProperties', 'v', "
        "[dbus.Struct(('IBusPropList', dbus.Dictionary({}, signature='sv'), dbus.Array([p], signature='v')), variant_level=1)]); ");
    const QString engine = QStringLiteral("path = '/org/freedesktop/IBus/Engine/' + args[0]; "
                                          "objects.get(path) or self.AddObject(path, 'org.freedesktop.IBus.Engine', {}, []); ");
    ASSERT_TRUE(daemon->addMethod(ibus, "SwitchTo", "ss", "",
                                  values + "self.props['org.freedesktop.IBus']['GlobalEngine'] = desc(args[0], args[1], ''); "
                                           "self.EmitSignal('org.freedesktop.IBus', 'GlobalEngineChanged', 's', [args[0]])"));
    ASSERT_TRUE(daemon->addMethod(
        ibus, "RegisterModeThenSwitchTo", "sssb", "",
        values + engine + "self.props['org.freedesktop.IBus']['GlobalEngine'] = desc(args[0], args[1], ''); "
                 "emit(objects[path], args[3], prop(text, args[2])); "
                 "self.EmitSignal('org.freedesktop.IBus', 'GlobalEngineChanged', 's', [args[0]])"));
    // Publish(engine, symbol, update): the engine names a mode, no switch.
    ASSERT_TRUE(daemon->addMethod(ibus, "Publish", "ssb", "", values + engine + "emit(objects[path], args[2], prop(text, args[1]))"));
    ASSERT_TRUE(daemon->call("SwitchTo", {QStringLiteral("xkb:us::eng"), QStringLiteral("en")}, ibus).ok());

    // The stand-in serves Anthy's, Mozc's and SKK's engines itself, as their component; the layouts'
    // component is not running.
    const QString layouts = QStringLiteral("org.freedesktop.IBus.Simple");
    platform::IBusEngineWatch watch(sessionBus->connection(), scheduler(), [address = sessionBus->address(), ibus, layouts] {
        return platform::IBusEngineWatch::Found{address, {{"xkb:us::eng", layouts}, {"kkc", layouts}, {"anthy", ibus}, {"mozc", ibus}, {"skk", ibus}}};
    });
    int changes = 0;
    watch.start([&] { ++changes; });
    ASSERT_TRUE(pump([&] { return watch.isSettled(); }));
    ASSERT_EQ(watch.engine().value_or(platform::InputMethodEngine{}).name, QStringLiteral("xkb:us::eng"));

    ASSERT_TRUE(daemon->call("RegisterModeThenSwitchTo", {QStringLiteral("anthy"), QStringLiteral("ja"), "_A", false}, ibus).ok());
    ASSERT_TRUE(pump([&] { return watch.engine() && watch.engine()->name == QLatin1String("anthy"); }));
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{"_A", "Latin"}));
    EXPECT_EQ(changes, 1);

    // Anthy's instance registers again, as when a text field is focused, in another mode: that
    // is where it stands now.
    ASSERT_TRUE(daemon->call("Publish", {QStringLiteral("anthy"), QStringLiteral("あ"), false}, ibus).ok());
    ASSERT_TRUE(pump([&] { return changes == 2; }));
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{QStringLiteral("あ"), "Hiragana"}));

    // The next engine, which publishes no mode, does not inherit Anthy's, not even the one Anthy's
    // own instance named just before the switch.
    ASSERT_TRUE(daemon->call("Publish", {QStringLiteral("anthy"), QStringLiteral("ア"), true}, ibus).ok());
    ASSERT_TRUE(daemon->call("SwitchTo", {QStringLiteral("kkc"), QStringLiteral("ja")}, ibus).ok());
    ASSERT_TRUE(pump([&] { return watch.engine() && watch.engine()->name == QLatin1String("kkc"); }));
    EXPECT_EQ(watch.mode(), std::nullopt);
    EXPECT_EQ(changes, 4);
    // Anthy's component, no longer in use, names a mode from an engine of it that never registered:
    // it is neither kkc's nor the next engine's, which is of another component.
    ASSERT_TRUE(daemon->call("Publish", {QStringLiteral("mozc"), QStringLiteral("ア"), true}, ibus).ok());
    ASSERT_TRUE(daemon->call("SwitchTo", {QStringLiteral("xkb:us::eng"), QStringLiteral("en")}, ibus).ok());
    ASSERT_TRUE(pump([&] { return watch.engine() && watch.engine()->name == QLatin1String("xkb:us::eng"); }));
    EXPECT_EQ(watch.mode(), std::nullopt);
    EXPECT_EQ(changes, 5);

    // An engine that publishes its mode as it is made, before the daemon switches to it: the mode
    // is the new engine's too.
    ASSERT_TRUE(daemon->call("RegisterModeThenSwitchTo", {QStringLiteral("mozc"), QStringLiteral("ja"), QStringLiteral("ア"), true}, ibus).ok());
    ASSERT_TRUE(pump([&] { return watch.engine() && watch.engine()->name == QLatin1String("mozc"); }));
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{QStringLiteral("ア"), "Katakana"}));
    // So is the mode of an engine of the same component made anew, named as long before the switch
    // as counts (from a whole second, so the clock's seconds subtract exactly).
    scheduler().advance(static_cast<double>(1'000'000 - scheduler().monotonicMicros() % 1'000'000) / 1e6);
    ASSERT_TRUE(daemon->call("Publish", {QStringLiteral("skk"), QStringLiteral("あ"), true}, ibus).ok());
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return watch.mode() && watch.mode()->label == QStringLiteral("あ"); }));
    scheduler().advance(platform::IBusEngineWatch::earlyModeWindow);
    ASSERT_TRUE(daemon->call("SwitchTo", {QStringLiteral("skk"), QStringLiteral("ja")}, ibus).ok());
    ASSERT_TRUE(testsupport::pumpUntil(scheduler(), [&] { return watch.engine() && watch.engine()->name == QLatin1String("skk"); }));
    EXPECT_EQ(watch.mode(), (platform::InputMethodMode{QStringLiteral("あ"), "Hiragana"}));
    watch.stop();
    EXPECT_EQ(watch.engine(), std::nullopt);

    // Started again, as when the feature is turned back on, it follows the daemon anew.
    watch.start([&] { ++changes; });
    ASSERT_TRUE(pump([&] { return watch.isSettled(); }));
    EXPECT_EQ(watch.engine().value_or(platform::InputMethodEngine{}).name, QStringLiteral("skk"));
    watch.stop();
}
