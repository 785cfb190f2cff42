#include "glance_settings_tab.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "core/log.h"
#include "platform/calendar/calendar_store.h"
#include "settings_card.h"
#include "settings_style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {
constexpr bool kSwitchFallback = true;
}

GlanceSettingsModel::GlanceSettingsModel(const SettingsEnvironment& environment)
    : environment_(environment),
      defaults_(environment.resolvedDefaults()),
      calendar_(environment, context, lifetime_.wrap([this] { onGranted(); })),
      watch_(defaults_, {AppSettings::enableGlanceKey, AppSettings::showCalendarKey, AppSettings::showWeatherKey}) {
    subscriptions_.insert(watch_.changed().sink([this] { changed_.send(); }));
    subscriptions_.insert(calendar_.changed().sink([this] { changed_.send(); }));
}

QString GlanceSettingsModel::glanceCardTitle() const { return L10n::pick(QStringLiteral("Glance"), QStringLiteral("グランス")); }
QString GlanceSettingsModel::glanceCardSubtitle() const {
    return L10n::pick(QStringLiteral("This controls the information panel on the right side of the expanded notch."),
                      QStringLiteral("ノッチ右側の補助情報をまとめる場所です。"));
}
QString GlanceSettingsModel::enableGlanceLabel() const {
    return L10n::pick(QStringLiteral("Enable Glance"), QStringLiteral("グランス機能を有効化"));
}
QString GlanceSettingsModel::showCalendarLabel() const {
    return L10n::pick(QStringLiteral("Show Calendar"), QStringLiteral("カレンダーを表示"));
}
QString GlanceSettingsModel::showWeatherLabel() const {
    return L10n::pick(QStringLiteral("Show Weather"), QStringLiteral("天気を表示"));
}
QString GlanceSettingsModel::glanceCaption() const {
    return L10n::pick(QStringLiteral("Show calendar and weather in notch"), QStringLiteral("カレンダーと天気をノッチに表示"));
}

bool GlanceSettingsModel::enableGlance() const { return boundBool(defaults_, AppSettings::enableGlanceKey, kSwitchFallback); }
bool GlanceSettingsModel::showCalendar() const { return boundBool(defaults_, AppSettings::showCalendarKey, kSwitchFallback); }
bool GlanceSettingsModel::showWeather() const { return boundBool(defaults_, AppSettings::showWeatherKey, kSwitchFallback); }

void GlanceSettingsModel::setSwitch(const QString& key, bool on) {
    // The services follow a change only; the same value again does nothing.
    if (boundBool(defaults_, key, kSwitchFallback) == on) return;
    defaults_.set(key, on);
    syncGlanceServices(false);
}
void GlanceSettingsModel::setEnableGlance(bool on) { setSwitch(AppSettings::enableGlanceKey, on); }
void GlanceSettingsModel::setShowCalendar(bool on) { setSwitch(AppSettings::showCalendarKey, on); }
void GlanceSettingsModel::setShowWeather(bool on) { setSwitch(AppSettings::showWeatherKey, on); }

QString GlanceSettingsModel::calendarCardTitle() const {
    return L10n::pick(QStringLiteral("Calendar Integration"), QStringLiteral("カレンダー連携"));
}
QString GlanceSettingsModel::calendarCardSubtitle() const {
    return L10n::pick(QStringLiteral("Reads your desktop's calendars through Evolution Data Server. No Apple Developer "
                                     "Program is required."),
                      QStringLiteral("デスクトップのカレンダーを Evolution Data Server から読みます。Developer Program "
                                     "は不要です。"));
}
PermissionRowContent GlanceSettingsModel::calendarRow() {
    return calendar_.row(L10n::pick(QStringLiteral("Calendar Access"), QStringLiteral("カレンダーアクセス")),
                         L10n::pick(QStringLiteral("This powers Next Up and Meeting Join."),
                                    QStringLiteral("Next Up と Meeting Join の元データになります")));
}
QString GlanceSettingsModel::promptNote() const {
    return L10n::pick(
        QStringLiteral("No permission prompt appears on Linux: the calendars are read when requested here or the first "
                       "time calendar-backed Glance starts."),
        QStringLiteral("Linux では許可ダイアログは出ません。ここから要求するか、Glance でカレンダーを初めて有効にしたときに"
                       "カレンダーを読みます。"));
}
std::optional<QString> GlanceSettingsModel::unsignedWarning() const {
    if (!calendar_.showsUnsignedWarning()) return std::nullopt;
    return calendar_.warningText();
}
QString GlanceSettingsModel::meetingNote() const {
    return L10n::pick(
        QStringLiteral("Future Meeting Join support will use event URLs, notes, or locations to pick meeting links."),
        QStringLiteral("将来的な Meeting Join では、イベントの URL / メモ / 場所から会議リンクを拾う想定です。"));
}

QString GlanceSettingsModel::sourcesCardTitle() const {
    return L10n::pick(QStringLiteral("Data Sources"), QStringLiteral("データソース"));
}
QString GlanceSettingsModel::sourcesCardSubtitle() const {
    return L10n::pick(QStringLiteral("This shows where each piece of Glance data currently comes from."),
                      QStringLiteral("今どの情報をどこから取っているかを明示します。"));
}
QString GlanceSettingsModel::eventsLabel() const { return L10n::pick(QStringLiteral("Events"), QStringLiteral("予定")); }
QString GlanceSettingsModel::eventsValue() const {
    return L10n::pick(QStringLiteral("Desktop calendars / Evolution Data Server"),
                      QStringLiteral("デスクトップのカレンダー / Evolution Data Server"));
}
QString GlanceSettingsModel::weatherLabel() const { return L10n::pick(QStringLiteral("Weather"), QStringLiteral("天気")); }
QString GlanceSettingsModel::weatherValue() const {
    return L10n::pick(QStringLiteral("Open-Meteo (current)"), QStringLiteral("Open-Meteo（現行）"));
}
QString GlanceSettingsModel::sourcesNote() const {
    return L10n::pick(
        QStringLiteral("WeatherKit does not exist on Linux. Glance keeps the zero-cost weather path: Open-Meteo for the "
                       "location GeoClue gives."),
        QStringLiteral("Linux には WeatherKit はありません。追加コストなしで使える構成を維持し、GeoClue の位置の天気を "
                       "Open-Meteo から取得します。"));
}

void GlanceSettingsModel::syncGlanceServices(bool forceRestart) {
    const AppSettings settings(&defaults_);
    const bool glanceOn = settings.enableNotchFeatures() && enableGlance();
    const bool wantsCalendar = glanceOn && showCalendar();
    const bool wantsWeather = glanceOn && showWeather();
    CalendarService& calendarService = environment_.resolvedCalendarService();
    WeatherService& weatherService = environment_.resolvedWeatherService();
    EventBus& bus = environment_.resolvedBus();

    if (forceRestart || !wantsCalendar) calendarService.stop();
    // The service's own stop also drops replies still in flight, which would otherwise publish
    // weather after the panel was cleared.
    if (forceRestart || !wantsWeather) weatherService.stop();

    if (wantsCalendar) {
        if (platform::CalendarStore::shared().authorizationStatus() == platform::CalendarAuthorizationStatus::fullAccess) {
            calendarService.start();
        } else {
            Log::shared().info(
                QStringLiteral("GlanceSettingsTab: CalendarService remains stopped because calendar access is not granted"));
        }
    } else {
        bus.calendarEventsSubject.send({});
    }

    if (wantsWeather) {
        weatherService.start();
    } else {
        bus.weatherInfoSubject.send(std::nullopt);
    }
}

void GlanceSettingsModel::onGranted() {
    calendar_.refresh();
    syncGlanceServices(true);
    SettingsHost* host = environment_.host;
    environment_.resolvedScheduler().post([host] {
        if (host) host->resumeMonitoringAfterCalendarPermissionFlow();
    });
}

void GlanceSettingsModel::setPageShown(bool shown) {
    if (shown == pageShown_) return;
    pageShown_ = shown;
    if (!shown) {
        accessTimer_.invalidate();
        return;
    }
    calendar_.refresh();
    changed_.send();
    accessTimer_ = environment_.resolvedScheduler().every(accessRefreshInterval,
                                                          lifetime_.wrap([this] { calendar_.refresh(); }));
}

GlanceSettingsTab::GlanceSettingsTab(const SettingsEnvironment& environment, QWidget* parent)
    : SettingsPage(parent), model_(environment) {
    setObjectName(QStringLiteral("GlanceSettingsTab"));

    glanceCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("calendar.badge.clock"));
    glanceCard_->setObjectName(QStringLiteral("glanceCard"));
    glanceSwitch_ = new SwitchToggle(QString());
    glanceSwitch_->setObjectName(QStringLiteral("enableGlanceSwitch"));
    connect(glanceSwitch_, &SwitchToggle::clicked, this, [this](bool on) { model_.setEnableGlance(on); });
    calendarSwitch_ = new SwitchToggle(QString());
    calendarSwitch_->setObjectName(QStringLiteral("showCalendarSwitch"));
    connect(calendarSwitch_, &SwitchToggle::clicked, this, [this](bool on) { model_.setShowCalendar(on); });
    weatherSwitch_ = new SwitchToggle(QString());
    weatherSwitch_->setObjectName(QStringLiteral("showWeatherSwitch"));
    connect(weatherSwitch_, &SwitchToggle::clicked, this, [this](bool on) { model_.setShowWeather(on); });
    glanceCaption_ = makeNote(QString(), glanceCard_);
    glanceCard_->addContent(glanceSwitch_);
    glanceCard_->addContent(makeDivider(glanceCard_));
    glanceCard_->addContent(calendarSwitch_);
    glanceCard_->addContent(weatherSwitch_);
    glanceCard_->addContent(glanceCaption_);
    addCard(glanceCard_);

    calendarCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("calendar"));
    calendarCard_->setObjectName(QStringLiteral("calendarCard"));
    calendarRow_ = new PermissionRowSlot(calendarCard_);
    calendarRow_->setObjectName(QStringLiteral("calendarRow"));
    promptNote_ = makeNote(QString(), calendarCard_);
    promptNote_->setObjectName(QStringLiteral("promptNote"));
    unsignedWarning_ = makeSettingsText(QString(), 11, QFont::Normal, SettingsStyle::systemOrange(), calendarCard_);
    unsignedWarning_->setObjectName(QStringLiteral("unsignedWarning"));
    meetingNote_ = makeNote(QString(), calendarCard_);
    meetingNote_->setObjectName(QStringLiteral("meetingNote"));
    calendarCard_->addContent(calendarRow_);
    calendarCard_->addContent(promptNote_);
    calendarCard_->addContent(unsignedWarning_);
    calendarCard_->addContent(meetingNote_);
    addCard(calendarCard_);

    sourcesCard_ = new SettingsCard(QString(), std::nullopt, QStringLiteral("tray.full"));
    sourcesCard_->setObjectName(QStringLiteral("dataSourcesCard"));
    eventsRow_ = new SettingsKeyValueRow(QString(), QString());
    eventsRow_->setObjectName(QStringLiteral("eventsSourceRow"));
    weatherRow_ = new SettingsKeyValueRow(QString(), QString());
    weatherRow_->setObjectName(QStringLiteral("weatherSourceRow"));
    sourcesNote_ = makeNote(QString(), sourcesCard_);
    sourcesNote_->setObjectName(QStringLiteral("sourcesNote"));
    sourcesCard_->addContent(eventsRow_);
    sourcesCard_->addContent(weatherRow_);
    sourcesCard_->addContent(sourcesNote_);
    addCard(sourcesCard_);

    refresh();
    subscription_ = model_.changed().sink([this] { refresh(); });
}

void GlanceSettingsTab::showEvent(QShowEvent* event) {
    SettingsPage::showEvent(event);
    model_.setPageShown(true);
}

void GlanceSettingsTab::hideEvent(QHideEvent* event) {
    SettingsPage::hideEvent(event);
    model_.setPageShown(false);
}

void GlanceSettingsTab::refresh() {
    glanceCard_->setTexts(model_.glanceCardTitle(), model_.glanceCardSubtitle());
    const bool glanceOn = model_.enableGlance();
    glanceSwitch_->setText(model_.enableGlanceLabel());
    glanceSwitch_->showValue(glanceOn);
    calendarSwitch_->setText(model_.showCalendarLabel());
    calendarSwitch_->showValue(model_.showCalendar());
    calendarSwitch_->setEnabled(glanceOn);
    weatherSwitch_->setText(model_.showWeatherLabel());
    weatherSwitch_->showValue(model_.showWeather());
    weatherSwitch_->setEnabled(glanceOn);
    glanceCaption_->setText(model_.glanceCaption());

    calendarCard_->setTexts(model_.calendarCardTitle(), model_.calendarCardSubtitle());
    calendarRow_->show(model_.calendarRow());
    promptNote_->setText(model_.promptNote());
    const auto warning = model_.unsignedWarning();
    unsignedWarning_->setText(warning.value_or(QString()));
    unsignedWarning_->setVisible(warning.has_value());
    meetingNote_->setText(model_.meetingNote());

    sourcesCard_->setTexts(model_.sourcesCardTitle(), model_.sourcesCardSubtitle());
    eventsRow_->labelLabel()->setText(model_.eventsLabel());
    eventsRow_->valueLabel()->setText(model_.eventsValue());
    weatherRow_->labelLabel()->setText(model_.weatherLabel());
    weatherRow_->valueLabel()->setText(model_.weatherValue());
    sourcesNote_->setText(model_.sourcesNote());
}

QWidget* makeGlanceSettingsTab(const SettingsEnvironment& environment) { return new GlanceSettingsTab(environment); }
