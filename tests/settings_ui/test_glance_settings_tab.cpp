#include "calendar_fixture.h"
#include "core/app_settings.h"
#include "glance/weather_service.h"
#include "settings_ui/glance_settings_tab.h"
#include "settings_ui/settings_card.h"
#include "settings_ui/settings_style.h"
#include "support/fake_http_client.h"
#include "support/fake_location_manager.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

using platform::CalendarAuthorizationStatus;
using platform::LogLevel;

class GlanceSettingsTabTest : public CalendarPermissionTest {
protected:
    GlanceSettingsTabTest() : http(scheduler()), weatherService(&location, http, bus, scheduler()) {
        calendarStore.status = CalendarAuthorizationStatus::fullAccess;
        environment.weatherService = &weatherService;
        environment.host = &host;
        subscriptions.insert(bus.calendarEventsSubject.sink([this](const QList<CalendarEvent>& events) {
            sent << (events.isEmpty() ? QStringLiteral("empty events") : QStringLiteral("events"));
        }));
        subscriptions.insert(bus.weatherInfoSubject.sink([this](const std::optional<WeatherInfo>& info) {
            sent << (info ? QStringLiteral("weather") : QStringLiteral("absent weather"));
        }));
    }
    ~GlanceSettingsTabTest() override {
        tab.reset();
        calendarService.stop();
        weatherService.stop();
    }

    GlanceSettingsTab& makeTab() {
        tab = std::make_unique<GlanceSettingsTab>(environment);
        glanceSwitch = find<SwitchToggle>(tab.get(), QStringLiteral("enableGlanceSwitch"));
        calendarSwitch = find<SwitchToggle>(tab.get(), QStringLiteral("showCalendarSwitch"));
        weatherSwitch = find<SwitchToggle>(tab.get(), QStringLiteral("showWeatherSwitch"));
        calendarRow = find<PermissionRowSlot>(tab.get(), QStringLiteral("calendarRow"));
        warning = find<QLabel>(tab.get(), QStringLiteral("unsignedWarning"));
        return *tab;
    }

    // Both services running, as the application leaves them with the glance on; the record of
    // what happened starts after.
    void startBoth() {
        calendarService.start();
        weatherService.start();
        reset();
    }
    void reset() {
        log.clear();
        sent.clear();
    }
    // The services' start and stop lines, in order.
    QStringList serviceSteps() const {
        QStringList steps;
        for (const QString& line : log.texts()) {
            if (line == "CalendarService: Stopped" || line == "CalendarService: Starting" ||
                line == "WeatherService: Stopped" || line == "WeatherService: Starting") {
                steps << line;
            }
        }
        return steps;
    }

    testsupport::FakeLocationManager location;
    testsupport::FakeHttpClient http;
    WeatherService weatherService;
    std::unique_ptr<GlanceSettingsTab> tab;
    SwitchToggle* glanceSwitch = nullptr;
    SwitchToggle* calendarSwitch = nullptr;
    SwitchToggle* weatherSwitch = nullptr;
    PermissionRowSlot* calendarRow = nullptr;
    QLabel* warning = nullptr;
    QStringList sent;
    platform::CancellableSet subscriptions;
};

TEST_F(GlanceSettingsTabTest, FreshSettingsShowTheCardsAndTouchNoService) {
    makeTab();
    EXPECT_TRUE(glanceSwitch->isChecked());
    EXPECT_TRUE(calendarSwitch->isChecked() && calendarSwitch->isEnabled());
    EXPECT_TRUE(weatherSwitch->isChecked() && weatherSwitch->isEnabled());
    EXPECT_EQ(calendarRow->content().badge, "Allowed");
    EXPECT_EQ(calendarRow->toneColor(), SettingsStyle::systemGreen());
    EXPECT_EQ(calendarRow->row()->button(), nullptr);
    EXPECT_TRUE(warning->isHidden());
    const auto cards = tab->findChildren<SettingsCard*>();
    ASSERT_EQ(cards.size(), 3);
    EXPECT_EQ(cards[0]->titleLabel()->text(), "Glance");
    EXPECT_EQ(cards[1]->titleLabel()->text(), "Calendar Integration");
    EXPECT_EQ(cards[2]->titleLabel()->text(), "Data Sources");
    auto* events = find<SettingsKeyValueRow>(tab.get(), QStringLiteral("eventsSourceRow"));
    auto* weather = find<SettingsKeyValueRow>(tab.get(), QStringLiteral("weatherSourceRow"));
    EXPECT_EQ(events->valueLabel()->text(), "Desktop calendars / Evolution Data Server");
    EXPECT_EQ(weather->labelLabel()->text(), "Weather");
    EXPECT_EQ(weather->valueLabel()->text(), "Open-Meteo (current)");
    EXPECT_TRUE(written.isEmpty());
    EXPECT_FALSE(calendarService.isRunning());
    EXPECT_FALSE(weatherService.isRunning());
}

TEST_F(GlanceSettingsTabTest, GlanceOffStopsCalendarThenWeatherAndClearsBothChannels) {
    startBoth();
    makeTab();
    glanceSwitch->click();
    EXPECT_EQ(written, QStringList({AppSettings::enableGlanceKey}));
    EXPECT_EQ(serviceSteps(), QStringList({"CalendarService: Stopped", "WeatherService: Stopped"}));
    EXPECT_EQ(sent, QStringList({"empty events", "absent weather"}));
    EXPECT_FALSE(calendarService.isRunning());
    EXPECT_FALSE(weatherService.isRunning());
    EXPECT_FALSE(location.updating);
    // The other two grey out and keep their values.
    EXPECT_FALSE(calendarSwitch->isEnabled());
    EXPECT_FALSE(weatherSwitch->isEnabled());
    EXPECT_TRUE(calendarSwitch->isChecked() && weatherSwitch->isChecked());

    reset();
    glanceSwitch->click();
    EXPECT_EQ(serviceSteps(), QStringList({"CalendarService: Starting", "WeatherService: Starting"}));
    EXPECT_FALSE(sent.contains("absent weather"));
    EXPECT_TRUE(calendarSwitch->isEnabled());
}

TEST_F(GlanceSettingsTabTest, WeatherOffAloneStopsOnlyTheWeather) {
    startBoth();
    makeTab();
    weatherSwitch->click();
    EXPECT_EQ(serviceSteps(), QStringList({"WeatherService: Stopped"}));
    EXPECT_EQ(sent, QStringList({"absent weather"}));
    EXPECT_TRUE(calendarService.isRunning());
    EXPECT_FALSE(weatherService.isRunning());

    reset();
    calendarSwitch->click();
    EXPECT_EQ(serviceSteps(), QStringList({"CalendarService: Stopped", "WeatherService: Stopped"}));
    EXPECT_EQ(sent, QStringList({"empty events", "absent weather"}));
}

TEST_F(GlanceSettingsTabTest, WithNotchFeaturesOffAnyFlipClearsBoth) {
    startBoth();
    defaults().set(AppSettings::enableNotchFeaturesKey, false);
    makeTab();
    reset();
    calendarSwitch->click();  // off
    EXPECT_EQ(sent, QStringList({"empty events", "absent weather"}));
    reset();
    calendarSwitch->click();  // on again: still nothing may run
    EXPECT_EQ(serviceSteps(), QStringList({"CalendarService: Stopped", "WeatherService: Stopped"}));
    EXPECT_EQ(sent, QStringList({"empty events", "absent weather"}));
    EXPECT_FALSE(calendarService.isRunning());
    EXPECT_FALSE(weatherService.isRunning());
}

TEST_F(GlanceSettingsTabTest, AReplyInFlightWhenTheTabStopsTheWeatherIsDropped) {
    weatherService.start();
    location.deliver(35.0, 139.0);
    ASSERT_EQ(http.pendingCount(), 1u);
    makeTab();
    weatherSwitch->click();
    scheduler().drain();  // the calendar's own first fetch
    reset();
    http.respondOk(R"({"current_weather":{"temperature":-3.25,"weathercode":0,"is_day":0}})");
    scheduler().drain();
    EXPECT_TRUE(sent.isEmpty());
    EXPECT_FALSE(bus.weatherInfoSubject.value());
}

TEST_F(GlanceSettingsTabTest, CalendarWantedWithoutAccessStartsNothing) {
    calendarStore.status = CalendarAuthorizationStatus::notDetermined;
    makeTab();
    EXPECT_EQ(calendarRow->row()->button()->text(), "Request Access");
    EXPECT_FALSE(warning->isHidden());
    EXPECT_EQ(warning->text(), "Linux shows no Calendar permission prompt: the calendars are read once Evolution Data "
                               "Server can be reached.");
    calendarSwitch->click();
    reset();
    calendarSwitch->click();
    EXPECT_TRUE(log.contains(LogLevel::Info,
                             "GlanceSettingsTab: CalendarService remains stopped because calendar access is not granted"));
    EXPECT_FALSE(log.contains("CalendarService: Starting"));
    EXPECT_FALSE(calendarService.isRunning());
    EXPECT_FALSE(sent.contains("empty events"));
}

TEST_F(GlanceSettingsTabTest, GrantingFromTheRowRestartsBothAndResumesTheDelegate) {
    calendarStore.status = CalendarAuthorizationStatus::notDetermined;
    weatherService.start();
    makeTab();
    reset();
    calendarRow->row()->button()->click();
    EXPECT_EQ(log.matching(CalendarPermission::prefix("GlanceSettingsTab")).value(0),
              "CalendarPermission[GlanceSettingsTab]: primary action tapped (state=notDetermined)");
    scheduler().advance(0.2);
    EXPECT_EQ(calendarRow->content().badge, "Allowed");
    EXPECT_EQ(serviceSteps(), QStringList({"CalendarService: Stopped", "WeatherService: Stopped",
                                           "CalendarService: Starting", "WeatherService: Starting"}));
    EXPECT_TRUE(sent.isEmpty() || !sent.contains("absent weather"));
    scheduler().drain();
    EXPECT_EQ(host.resumes, 1);

    // Already granted with the glance off: both stop, both channels clear, the resume still comes.
    defaults().set(AppSettings::enableGlanceKey, false);
    reset();
    tab->model().handleCalendarPermissionAction();
    EXPECT_TRUE(log.contains("CalendarPermission[GlanceSettingsTab]: already granted"));
    EXPECT_EQ(serviceSteps(), QStringList({"CalendarService: Stopped", "WeatherService: Stopped"}));
    EXPECT_EQ(sent, QStringList({"empty events", "absent weather"}));
    scheduler().drain();
    EXPECT_EQ(host.resumes, 2);
}

TEST_F(GlanceSettingsTabTest, ThePermissionIsReadEverySecondOnlyWhileThePageIsShown) {
    calendarStore.status = CalendarAuthorizationStatus::denied;
    makeTab();
    tab->show();
    EXPECT_EQ(calendarRow->row()->button()->text(), "Open Settings");
    calendarStore.status = CalendarAuthorizationStatus::fullAccess;
    scheduler().advance(1.0);
    EXPECT_EQ(calendarRow->row()->button(), nullptr);

    tab->hide();
    const int reads = calendarStore.statusReads;
    scheduler().advance(5.0);
    EXPECT_EQ(calendarStore.statusReads, reads);
}

// The texts that name where the data comes from name what Linux has, in both languages.
TEST_F(GlanceSettingsTabTest, TheSourcesNamedAreTheDesktopsInBothLanguages) {
    makeTab();
    using Text = QString (GlanceSettingsModel::*)() const;
    const std::vector<std::tuple<Text, QString, QString>> texts{
        {&GlanceSettingsModel::calendarCardSubtitle,
         "Reads your desktop's calendars through Evolution Data Server. No Apple Developer Program is required.",
         "デスクトップのカレンダーを Evolution Data Server から読みます。Developer Program は不要です。"},
        {&GlanceSettingsModel::promptNote,
         "No permission prompt appears on Linux: the calendars are read when requested here or the first time "
         "calendar-backed Glance starts.",
         "Linux では許可ダイアログは出ません。ここから要求するか、Glance でカレンダーを初めて有効にしたときに"
         "カレンダーを読みます。"},
        {&GlanceSettingsModel::eventsValue, "Desktop calendars / Evolution Data Server",
         "デスクトップのカレンダー / Evolution Data Server"},
        {&GlanceSettingsModel::sourcesNote,
         "WeatherKit does not exist on Linux. Glance keeps the zero-cost weather path: Open-Meteo for the location "
         "GeoClue gives.",
         "Linux には WeatherKit はありません。追加コストなしで使える構成を維持し、GeoClue の位置の天気を Open-Meteo "
         "から取得します。"},
    };
    for (const auto& [text, english, japanese] : texts) EXPECT_EQ((tab->model().*text)(), english);
    useJapanese();
    for (const auto& [text, english, japanese] : texts) EXPECT_EQ((tab->model().*text)(), japanese);
    EXPECT_EQ(glanceSwitch->text(), "グランス機能を有効化");
    EXPECT_EQ(find<QLabel>(tab.get(), QStringLiteral("sourcesNote"))->text(), std::get<2>(texts[3]));
    EXPECT_EQ(calendarRow->content().title, "カレンダーアクセス");
    // The row's detail takes the row's room: no early wrap of a text without spaces.
    tab->resize(700, 900);
    tab->show();
    QApplication::sendPostedEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::sendPostedEvents();
    auto* detail = calendarRow->row()->findChild<QLabel*>("rowDetail");
    EXPECT_LT(detail->height(), 2 * QFontMetrics(detail->font()).lineSpacing()) << detail->text().toStdString();
}
