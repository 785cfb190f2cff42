#pragma once

// The calendar permission as a settings tab shows it, for any tab: a controller that keeps the
// state, answers the row's button with the caller's context, and a row slot that redraws a
// PermissionStatusRow when what it shows changes.

#include "calendar_permission.h"
#include "settings_environment.h"

#include "platform/runtime/reactive.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class PermissionStatusRow;
class QVBoxLayout;

// What a PermissionStatusRow shows; the button appears when both its title and action exist.
struct PermissionRowContent {
    QString title;
    QString detail;
    QString badge;
    PermissionTone tone = PermissionTone::secondary;
    std::optional<QString> buttonTitle;
    std::function<void()> action;

    bool sameLook(const PermissionRowContent& other) const {
        return title == other.title && detail == other.detail && badge == other.badge && tone == other.tone &&
               buttonTitle == other.buttonTitle;
    }
};

QColor permissionToneColor(PermissionTone tone, const QWidget* widget);

// One tab's view of the calendar permission. `context` names the tab in every log line
// ("GeneralSettingsTab", "GlanceSettingsTab"); `onGranted` is the tab's own granted handler, run
// once access is granted from the row (or at once when it already was).
class CalendarAccessController {
public:
    CalendarAccessController(SettingsEnvironment environment, QString context, std::function<void()> onGranted);
    CalendarAccessController(const CalendarAccessController&) = delete;  // the store's answers call back into it
    CalendarAccessController& operator=(const CalendarAccessController&) = delete;

    CalendarPermissionState state() const { return state_; }
    // Why the store could not be read at the last refresh, if it could not.
    std::optional<platform::CalendarStoreProblem> problem() const { return problem_; }
    // Reads the state again; `changed` fires when it differs.
    void refresh();
    // The row's button: the privacy settings for the limited, denied and restricted states, the
    // request flow while not determined, the granted handler once granted.
    void handlePrimaryAction();
    // While not determined, a build without a signing team may never see the system's prompt.
    bool showsUnsignedWarning() const;
    // The warning's text: why there are no calendars here.
    QString warningText() const { return CalendarPermission::problemNote(problem_); }

    // The row for this state with the tab's own title and detail.
    PermissionRowContent row(const QString& title, const QString& detail);

    const QString& context() const { return context_; }
    const platform::PassthroughSubject<>& changed() const { return changed_; }

private:
    SettingsEnvironment environment_;
    QString context_;
    std::function<void()> onGranted_;
    CalendarPermissionState state_;
    std::optional<platform::CalendarStoreProblem> problem_;
    platform::PassthroughSubject<> changed_;
    platform::AnyCancellable storeAnswers_;  // the store's answers refresh at once, not at the next tick
};

// Holds one PermissionStatusRow and rebuilds it only when its look changes, so a refresh every
// second leaves an unchanged row alone.
class PermissionRowSlot final : public QWidget {
    Q_OBJECT

public:
    explicit PermissionRowSlot(QWidget* parent = nullptr);
    void show(PermissionRowContent content);
    PermissionStatusRow* row() const { return row_; }
    const PermissionRowContent& content() const { return content_; }
    QColor toneColor() const { return permissionToneColor(content_.tone, this); }

private:
    QVBoxLayout* layout_;
    PermissionStatusRow* row_ = nullptr;
    PermissionRowContent content_;
};
