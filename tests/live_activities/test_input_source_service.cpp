#include "core/event_bus.h"
#include "live_activities/input_source_service.h"
#include "support/fake_input_sources.h"
#include "live_activities/live_test_helpers.h"
#include "support/fixtures.h"

#include <string>
#include <vector>

using testsupport::FakeInputSources;

namespace {

class InputSourceServiceTest : public testsupport::QuillvexTest {
protected:
    InputSourceServiceTest() {
        subscriptions.insert(bus.inputSourceSubject.sink([this](const std::optional<InputSourceInfo>& info) {
            if (info) seen.push_back("source " + info->id.toStdString() + " " + info->name.toStdString());
        }));
        subscriptions.insert(bus.liveActivityEventSubject.sink(
            [this](const std::optional<LiveActivityType>& t) { seen.push_back("event " + testsupport::requestName(t)); }));
        seen.clear();
    }

    EventBus bus{scheduler()};
    FakeInputSources sources;
    InputSourceService service{bus, scheduler(), sources};
    platform::CancellableSet subscriptions;
    std::vector<std::string> seen;
};

}  // namespace

TEST_F(InputSourceServiceTest, StartsWithTheCurrentSourceOrUnknownAndPublishesNothing) {
    sources.current = FakeInputSources::source(QStringLiteral("us"), QStringLiteral("English (US)"));
    service.start();
    service.start();
    scheduler().drain();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(service.lastSourceID(), QStringLiteral("us"));
    EXPECT_EQ(sources.observerCount(), 1);
    EXPECT_TRUE(log.contains(platform::LogLevel::Info, QStringLiteral("InputSourceService: Started (current: us)")));
    EXPECT_EQ(log.lines().size(), 1u);

    InputSourceService second(bus, scheduler(), sources);
    sources.current.reset();
    second.start();
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Started (current: unknown)")));
}

TEST_F(InputSourceServiceTest, ASwitchPublishesTheSourceThenTheEventAndTheSameSourceNothing) {
    sources.current = FakeInputSources::source(QStringLiteral("com.example.keylayout.ABC"), QStringLiteral("ABC"));
    service.start();
    sources.select(FakeInputSources::source(QStringLiteral("com.example.inputmethod.Japanese"), QStringLiteral("Hiragana")));
    EXPECT_TRUE(seen.empty());  // published once the sources are quiet
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_EQ(seen, (std::vector<std::string>{"source com.example.inputmethod.Japanese Hiragana", "event inputSource"}));
    EXPECT_TRUE(log.contains(platform::LogLevel::Info,
                             QStringLiteral("InputSourceService: Changed to Hiragana (com.example.inputmethod.Japanese)")));

    // The same identifier (even under another name) is no change.
    sources.select(FakeInputSources::source(QStringLiteral("com.example.inputmethod.Japanese"), QStringLiteral("Other")));
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_EQ(seen.size(), 2u);

    // Notices that keep coming put the check off: a source passed through on the way is not announced.
    sources.select(FakeInputSources::source(QStringLiteral("us"), QStringLiteral("English (US)")));
    scheduler().advance(0.15);
    sources.select(FakeInputSources::source(QStringLiteral("de"), QStringLiteral("German")));
    scheduler().advance(0.15);
    EXPECT_EQ(seen.size(), 2u);
    scheduler().advance(0.05);
    EXPECT_EQ(seen, (std::vector<std::string>{"source com.example.inputmethod.Japanese Hiragana", "event inputSource",
                                              "source de German", "event inputSource"}));
}

TEST_F(InputSourceServiceTest, AnEngineStartedInAModeNotYetHeardTakesTheModeItTellsAsWhereItStood) {
    platform::InputSource anthy{QStringLiteral("ibus:anthy"), QStringLiteral("Anthy"), true, false};
    const auto inMode = [](const char* suffix, const char* mode, bool restated) {
        return platform::InputSource{QStringLiteral("ibus:anthy") + QLatin1String(suffix),
                                     QStringLiteral("Anthy (%1)").arg(QLatin1String(mode)), false, restated};
    };
    sources.current = anthy;
    service.start();
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Started (current: ibus:anthy)")));
    // The engine registering its properties again (re-selected, focused) tells katakana: no switch.
    sources.select(inMode(".Japanese.Katakana", "Katakana", true));
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(service.lastSourceID(), QStringLiteral("ibus:anthy.Japanese.Katakana"));
    // The user's next change is announced with its mode, and so is any after, however told.
    sources.select(inMode(".Japanese", "Hiragana", false));
    scheduler().advance(InputSourceService::quietDelay);
    sources.select(inMode(".Japanese.Katakana", "Katakana", true));
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_EQ(seen, (std::vector<std::string>{"source ibus:anthy.Japanese Anthy (Hiragana)", "event inputSource",
                                              "source ibus:anthy.Japanese.Katakana Anthy (Katakana)", "event inputSource"}));

    // Started unheard, the first mode heard as a change is the user's switch.
    service.stop();
    InputSourceService second(bus, scheduler(), sources);
    sources.current = anthy;
    second.start();
    sources.select(inMode(".Roman", "Latin", false));
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_EQ(seen.size(), 6u);
}

TEST_F(InputSourceServiceTest, AnUnreadableIdentifierIsPublishedEmptyOnceAndAMissingNameIsAQuestionMark) {
    sources.current = FakeInputSources::source(QStringLiteral("us"), QStringLiteral("English (US)"));
    service.start();
    sources.select(platform::InputSource{std::nullopt, std::nullopt});
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_EQ(seen, (std::vector<std::string>{"source  ?", "event inputSource"}));
    EXPECT_TRUE(log.contains(QStringLiteral("InputSourceService: Changed to ? ()")));
    sources.notify();
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_EQ(seen.size(), 2u);
    // No source at all reads the same as an unreadable identifier.
    sources.select(std::nullopt);
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(InputSourceServiceTest, AfterStopNothingIsAnnouncedAndASwitchMeanwhileIsNever) {
    sources.current = FakeInputSources::source(QStringLiteral("us"), QStringLiteral("English (US)"));
    service.start();
    sources.select(FakeInputSources::source(QStringLiteral("de"), QStringLiteral("German")));
    service.stop();  // the change was waiting for quiet: it is dropped
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(sources.observerCount(), 0);
    service.inputSourceChanged();
    service.stop();
    EXPECT_EQ(std::count_if(log.lines().begin(), log.lines().end(),
                            [](const auto& l) { return l.text == QStringLiteral("InputSourceService: Stopped"); }),
              2);

    sources.current = FakeInputSources::source(QStringLiteral("fr"), QStringLiteral("French"));
    service.start();
    EXPECT_EQ(service.lastSourceID(), QStringLiteral("fr"));
    sources.notify();
    scheduler().advance(InputSourceService::quietDelay);
    EXPECT_TRUE(seen.empty());
}
