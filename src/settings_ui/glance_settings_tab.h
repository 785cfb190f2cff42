#pragma once

#include "calendar_access_row.h"
#include "settings_binding.h"
#include "settings_controls.h"
#include "settings_environment.h"

#include <QString>

#include <optional>

class QLabel;
class SettingsCard;
class SettingsKeyValueRow;
class SwitchToggle;

// What the Glance tab shows and does: the three glance switches, the calendar permission with
// its request flow, and where the glance data comes from. The application starts the calendar
// and weather services only with the notch features, so this tab makes its own switches take
// effect: every flip brings both services and their bus channels in line with the settings.
class GlanceSettingsModel {
public:
    static inline const QString context = QStringLiteral("GlanceSettingsTab");
    static constexpr double accessRefreshInterval = 1.0;

    explicit GlanceSettingsModel(const SettingsEnvironment& environment);

    QString glanceCardTitle() const;
    QString glanceCardSubtitle() const;
    QString enableGlanceLabel() const;
    QString showCalendarLabel() const;
    QString showWeatherLabel() const;
    QString glanceCaption() const;
    bool enableGlance() const;
    bool showCalendar() const;
    bool showWeather() const;
    // Each stores its switch, then syncs the services.
    void setEnableGlance(bool on);
    void setShowCalendar(bool on);
    void setShowWeather(bool on);

    QString calendarCardTitle() const;
    QString calendarCardSubtitle() const;
    PermissionRowContent calendarRow();
    QString promptNote() const;
    std::optional<QString> unsignedWarning() const;
    QString meetingNote() const;
    CalendarAccessController& calendar() { return calendar_; }
    void handleCalendarPermissionAction() { calendar_.handlePrimaryAction(); }

    QString sourcesCardTitle() const;
    QString sourcesCardSubtitle() const;
    QString eventsLabel() const;
    QString eventsValue() const;
    QString weatherLabel() const;
    QString weatherValue() const;
    QString sourcesNote() const;

    // Stops what is not wanted (or everything, when forced), starts what is, and clears the
    // channel of each service left stopped so the glance panels do not keep stale data.
    void syncGlanceServices(bool forceRestart);

    // The page came on screen (the permission is read now and every second) or went away.
    void setPageShown(bool shown);
    bool isPageShown() const { return pageShown_; }

    const platform::PassthroughSubject<>& changed() const { return changed_; }

private:
    void setSwitch(const QString& key, bool on);
    void onGranted();

    SettingsEnvironment environment_;
    platform::Defaults& defaults_;
    bool pageShown_ = false;
    // Before everything that hands out callbacks wrapped by it.
    platform::Lifetime lifetime_;
    CalendarAccessController calendar_;
    SettingsKeyWatch watch_;
    platform::PassthroughSubject<> changed_;
    platform::RepeatingTimer accessTimer_;
    platform::CancellableSet subscriptions_;
};

class GlanceSettingsTab final : public SettingsPage {
    Q_OBJECT

public:
    explicit GlanceSettingsTab(const SettingsEnvironment& environment, QWidget* parent = nullptr);
    GlanceSettingsModel& model() { return model_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();

    GlanceSettingsModel model_;
    SettingsCard* glanceCard_;
    SwitchToggle* glanceSwitch_;
    SwitchToggle* calendarSwitch_;
    SwitchToggle* weatherSwitch_;
    QLabel* glanceCaption_;
    SettingsCard* calendarCard_;
    PermissionRowSlot* calendarRow_;
    QLabel* promptNote_;
    QLabel* unsignedWarning_;
    QLabel* meetingNote_;
    SettingsCard* sourcesCard_;
    SettingsKeyValueRow* eventsRow_ = nullptr;
    SettingsKeyValueRow* weatherRow_ = nullptr;
    QLabel* sourcesNote_;
    platform::AnyCancellable subscription_;
};

QWidget* makeGlanceSettingsTab(const SettingsEnvironment& environment);
