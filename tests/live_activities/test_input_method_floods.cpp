// An input-method peer flooding IBus's bus: a stand-in daemon on a private bus sends thousands of
// switch notices, or an engine thousands of alternating modes, on the real event loop. The engine
// is read one question at a time, and the service announces where the flood ended, once.

#include "core/event_bus.h"
#include "live_activities/input_source_service.h"
#include "live_activities/live_test_helpers.h"
#include "platform/input_source/desktop_input_sources.h"
#include "platform/input_source/xkb_input_sources.h"
#include "platform/runtime/qt_scheduler.h"
#include "support/fixtures.h"
#include "support/service_fixtures.h"

#include <QFile>

using testsupport::DBusMock;

namespace {

const QString kIBus = QStringLiteral("org.freedesktop.IBus");

// Python for the daemon's values: IBusText, an IBusEngineDesc, and an engine's InputMode
// IBusProperty (the method's code runs as one block: loops, not comprehensions, see its names).
const QString kValues = QStringLiteral(
    "text = lambda s: dbus.Struct(('IBusText', dbus.Dictionary({}, signature='sv'), s, "
    "dbus.Struct(('IBusAttrList', dbus.Dictionary({}, signature='sv'), dbus.Array([], signature='v')), variant_level=1)), variant_level=1)\n"
    "desc = lambda name, lang: dbus.Struct(('IBusEngineDesc', dbus.Dictionary({}, signature='sv'), name, name.title(), '', lang, "
    "'', '', '', 'us', dbus.UInt32(0), '', '', '', ''), variant_level=1)\n"
    "prop = lambda text, symbol: dbus.Struct(('IBusProperty', dbus.Dictionary({}, signature='sv'), 'InputMode', dbus.UInt32(0), "
    "text('Input mode'), '', text(''), True, True, dbus.UInt32(0), dbus.Struct(('IBusPropList', dbus.Dictionary({}, signature='sv'), "
    "dbus.Array([], signature='v')), variant_level=1), text(symbol)), variant_level=1)\n");

class InputMethodFloodTest : public testsupport::QuillvexTest {
protected:
    void SetUp() override {
        QString error;
        sessionBus = testsupport::PrivateBus::start(testsupport::PrivateBus::Kind::session, &error);
        ASSERT_TRUE(sessionBus) << error.toStdString();
        daemon = DBusMock::startPlain(*sessionBus, kIBus, QStringLiteral("/org/freedesktop/IBus"), kIBus, &error);
        ASSERT_TRUE(daemon) << error.toStdString();
        // SwitchTo(name, language, notices): the global engine becomes `name`, announced `notices` times.
        ASSERT_TRUE(daemon->addMethod(kIBus, "SwitchTo", "ssu", "",
                                      kValues + "self.props['org.freedesktop.IBus']['GlobalEngine'] = desc(args[0], args[1])\n"
                                                "for i in range(args[2]):\n"
                                                "    self.EmitSignal('org.freedesktop.IBus', 'GlobalEngineChanged', 's', [args[0]])\n"));
        // Modes(count, first, second): the engine at /Engine/1 publishes `count` modes, alternately.
        ASSERT_TRUE(daemon->addMethod(kIBus, "Modes", "uss", "",
                                      kValues + "path = '/org/freedesktop/IBus/Engine/1'\n"
                                                "objects.get(path) or self.AddObject(path, 'org.freedesktop.IBus.Engine', {}, [])\n"
                                                "modes = [prop(text, args[1]), prop(text, args[2])]\n"
                                                "for i in range(args[0]):\n"
                                                "    objects[path].EmitSignal('org.freedesktop.IBus.Engine', 'UpdateProperty', 'v', [modes[i % 2]])\n"));
        ASSERT_TRUE(switchTo("xkb:us::eng", "en", 1));
    }
    bool switchTo(const char* engine, const char* language, uint notices) {
        return daemon->call("SwitchTo", {QString::fromLatin1(engine), QString::fromLatin1(language), notices}, kIBus).ok();
    }
    bool pump(const std::function<bool()>& done) { return testsupport::pumpUntil(scheduler(), done, 60000); }
    // The engine reads the daemon answered.
    qsizetype engineReads() const {
        QFile file(daemon->logPath());
        if (!file.open(QIODevice::ReadOnly)) return -1;
        return file.read(64 << 20).count("Get /org/freedesktop/IBus org.freedesktop.IBus.GlobalEngine");
    }
    // The stand-in serves the engines itself, as their component.
    platform::IBusEngineWatch::Lookup ibus() const {
        return [address = sessionBus->address()] {
            return platform::IBusEngineWatch::Found{address, {{"xkb:us::eng", kIBus}, {"anthy", kIBus}, {"kkc", kIBus}}};
        };
    }

    platform::QtScheduler realTime;
    std::unique_ptr<testsupport::PrivateBus> sessionBus;
    std::unique_ptr<DBusMock> daemon;
};

}  // namespace

TEST_F(InputMethodFloodTest, AFloodOfSwitchNoticesIsReadOneQuestionAtATime) {
    platform::IBusEngineWatch watch(sessionBus->connection(), realTime, ibus());
    int changes = 0;
    watch.start([&] { ++changes; });
    ASSERT_TRUE(pump([&] { return watch.isSettled(); }));
    const qsizetype before = engineReads();

    const uint flood = 3000;
    ASSERT_TRUE(switchTo("anthy", "ja", flood));
    // The notice after the flood is heard after all of it.
    ASSERT_TRUE(switchTo("kkc", "ja", 1));
    ASSERT_TRUE(pump([&] { return watch.engine() && watch.engine()->name == QLatin1String("kkc"); }));
    const qsizetype reads = engineReads() - before;
    EXPECT_LT(reads, flood / 10) << reads << " reads for " << flood << " notices";
    EXPECT_LE(changes, 2);
    watch.stop();
}

TEST_F(InputMethodFloodTest, AFloodOfAlternatingModesIsAnnouncedOnceItIsOver) {
    platform::DesktopInputSources sources(std::make_unique<platform::XkbInputSources>(QByteArrayLiteral(":9999")),
                                          sessionBus->connection(), realTime, ibus());
    EventBus bus(realTime);
    InputSourceService service(bus, realTime, sources);
    service.start();
    ASSERT_TRUE(pump([&] { return log.contains(QStringLiteral("InputSourceService: Started (current: ibus:xkb:us::eng)")); }));
    ASSERT_TRUE(switchTo("anthy", "ja", 1));
    ASSERT_TRUE(pump([&] { return log.contains(QStringLiteral("InputSourceService: Changed to Anthy (ibus:anthy)")); }));

    const auto changedLines = [&] {
        return std::count_if(log.lines().begin(), log.lines().end(),
                             [](const auto& line) { return line.text.startsWith(QLatin1String("InputSourceService: Changed to")); });
    };
    const auto before = changedLines();
    // Ends in katakana: the last of an odd count.
    ASSERT_TRUE(daemon->call("Modes", {3001u, QStringLiteral("ア"), QStringLiteral("あ")}, kIBus).ok());
    ASSERT_TRUE(pump([&] {
        return log.contains(QStringLiteral("InputSourceService: Changed to Anthy (Katakana) (ibus:anthy.Japanese.Katakana)"));
    }));
    EXPECT_LE(changedLines() - before, 2);

    // Turned off and on, it starts from the engine and the mode it knew.
    service.stop();
    service.start();
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Started (current: ibus:anthy.Japanese.Katakana)")));
    service.stop();
}
