// The input-source service with the desktop's input method frameworks: the real IBus daemon (with
// Anthy) and the real Fcitx5 on a private session bus, each switched the way a user's tools
// switch them; and the identifiers the engines get, from which the activity's glyph comes.

#include "core/event_bus.h"
#include "live_activities/input_source_activity_view.h"
#include "live_activities/input_source_service.h"
#include "live_activities/live_test_helpers.h"
#include "platform/input_source/desktop_input_sources.h"
#include "platform/input_source/input_method_engine.h"
#include "platform/input_source/xkb_input_sources.h"
#include "platform/runtime/qt_scheduler.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QDir>
#include <QFile>
#include <QThreadPool>

#include <memory>

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
    const InputMethodEngine anthy{"ibus", "anthy", "Anthy", "ja", QStringLiteral("あ"), ""};
    EXPECT_EQ(platform::inputSourceFor(anthy).id, QStringLiteral("ibus:anthy.Japanese"));
    EXPECT_EQ(platform::inputSourceFor(anthy).localizedName, QStringLiteral("Anthy"));
    EXPECT_EQ(glyphOf(anthy), QStringLiteral("あ"));
    EXPECT_EQ(glyphOf({"fcitx5", "mozc", "Mozc", "ja", "", ""}), QStringLiteral("あ"));
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
    bool pump(const std::function<bool()>& done, int limitMs = 10000) {
        return testsupport::pumpUntil(scheduler(), done, limitMs);
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
};

}  // namespace

// The switch a Japanese user makes: none, then Anthy, back to the US layout, to Anthy again.
// The daemon's first engine is where it stands; each switch after it is announced.
TEST_F(IBusInputMethodTest, EachGlobalEngineSwitchIsAnnouncedWithItsGlyph) {
    DesktopInputSources sources(noKeyboard(), sessionBus->connection(), scheduler());
    EventBus bus(scheduler());
    InputSourceService service(bus, scheduler(), sources);
    Announcements seen(bus);
    service.start();
    ASSERT_TRUE(pump([&] { return sources.ibus().isSettled(); })) << "IBus's bus was not reached";
    EXPECT_EQ(sources.ibus().engine(), std::nullopt);  // a fresh daemon has no global engine

    ASSERT_TRUE(switchTo("anthy"));
    ASSERT_TRUE(pump([&] { return seen.sources.size() == 1; }));
    EXPECT_EQ(seen.sources[0].id, QStringLiteral("ibus:anthy.Japanese"));
    EXPECT_EQ(seen.sources[0].name, QStringLiteral("Anthy"));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to Anthy (ibus:anthy.Japanese)")));

    ASSERT_TRUE(switchTo("xkb:us::eng"));
    ASSERT_TRUE(pump([&] { return seen.sources.size() == 2; }));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to English (US) (ibus:xkb:us::eng)")));
    ASSERT_TRUE(switchTo("xkb:jp:kana:jpn"));
    ASSERT_TRUE(pump([&] { return seen.sources.size() == 3; }));
    ASSERT_TRUE(switchTo("anthy"));
    ASSERT_TRUE(pump([&] { return seen.sources.size() == 4; }));
    EXPECT_EQ(seen.glyphs(), (QStringList{QStringLiteral("あ"), "abc", QStringLiteral("あ"), QStringLiteral("あ")}));

    // IBus going away takes its engine with it; the keyboard (none here) is the source again.
    daemon->stop();
    ASSERT_TRUE(pump([&] { return !sources.ibus().engine().has_value(); }));
    EXPECT_EQ(sources.currentSource(), std::nullopt);
    service.stop();
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
        const QString path = value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
        ASSERT_TRUE(bus.call({QStringLiteral("org.freedesktop.IBus"), path, QStringLiteral("org.freedesktop.IBus.InputContext"),
                              QStringLiteral("FocusIn"), {}},
                             std::chrono::seconds(5))
                        .ok());
    }
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
    EXPECT_EQ(seen.sources[0].id, QStringLiteral("fcitx5:anthy.Japanese"));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to Anthy (fcitx5:anthy.Japanese)")));
    ASSERT_TRUE(controller("Toggle").ok());
    ASSERT_TRUE(pump([&] { return seen.sources.size() == 2; }));
    EXPECT_EQ(seen.glyphs(), (QStringList{QStringLiteral("あ"), "abc"}));

    // Nobody listening: no more questions to the daemon.
    service.stop();
    EXPECT_FALSE(sources.fcitx5().isPolling());
}
