#pragma once

#include "settings_binding.h"
#include "settings_controls.h"
#include "settings_environment.h"
#include "core/app_settings.h"
#include "updater/app_updater.h"

#include <QLocale>
#include <QTimeZone>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class SettingsCard;
class SettingsKeyValueRow;
class SwitchToggle;

// What the Updates tab shows and does. Every text is chosen in the language in force when read;
// the updater's state is read at each redraw; the two settings are written the moment they change.
class UpdatesSettingsModel {
public:
    // `locale` and `zone` place the last-check date (the system's, not the application language).
    UpdatesSettingsModel(AppUpdater& updater, platform::Defaults& defaults,
                         std::function<QLocale()> locale = [] { return QLocale::system(); },
                         QTimeZone zone = QTimeZone::systemTimeZone());

    QString softwareUpdatesTitle() const;
    QString softwareUpdatesSubtitle() const;
    QString currentVersionLabel() const;
    QString currentVersion() const { return updater_.currentVersionSummary(); }
    QString lastCheckedLabel() const;
    // The last successful check, medium date and short time, or "Not checked yet".
    QString lastCheckedText() const;
    QString automaticChecksLabel() const;
    QString automaticChecksNote() const;

    QString feedCardTitle() const;
    QString feedCardSubtitle() const;
    QString feedNote() const;
    // The stored text as typed (the built-in address while the key was never written).
    QString feedURLText() const;
    QString feedPlaceholder() const { return AppSettings::builtInUpdateFeedURL; }

    QString statusCardTitle() const;
    QString statusSubtitle() const { return updater_.statusDescription(); }
    // Present exactly while an update is known.
    std::optional<QString> updateLine() const;
    QString releaseNotesHeading() const;
    // Present while an update with non-empty notes is known.
    std::optional<QString> releaseNotes() const;
    // Present while the last failure left a non-empty message.
    std::optional<QString> errorLine() const;
    QString checkButtonTitle() const;
    QString installButtonTitle() const;
    bool isInstallEnabled() const { return updater_.availableUpdate().has_value(); }

    bool automaticChecks() const;
    void setAutomaticChecks(bool on);
    void setFeedURL(const QString& text);
    void checkForUpdates() { updater_.checkForUpdatesInteractively(); }
    void installUpdate() { updater_.installAvailableUpdate(); }

    // The updater, one of the two settings, or the language changed.
    const platform::PassthroughSubject<>& changed() const { return changed_; }

private:
    AppUpdater& updater_;
    platform::Defaults& defaults_;
    std::function<QLocale()> locale_;
    QTimeZone zone_;
    SettingsKeyWatch watch_;
    platform::PassthroughSubject<> changed_;
    platform::AnyCancellable watchSubscription_;
    platform::AnyCancellable updaterSubscription_;
};

class UpdatesSettingsTab final : public SettingsPage {
    Q_OBJECT

public:
    UpdatesSettingsTab(const SettingsEnvironment& environment, AppUpdater& updater, QWidget* parent = nullptr,
                       std::function<QLocale()> locale = [] { return QLocale::system(); },
                       QTimeZone zone = QTimeZone::systemTimeZone());
    UpdatesSettingsModel& model() { return model_; }

private:
    void refresh();

    UpdatesSettingsModel model_;
    SettingsCard* softwareCard_;
    SettingsKeyValueRow* versionRow_;
    SettingsKeyValueRow* lastCheckedRow_;
    SwitchToggle* automaticSwitch_;
    QLabel* automaticNote_;
    SettingsCard* feedCard_;
    QLineEdit* feedField_;
    QLabel* feedNote_;
    SettingsCard* statusCard_;
    QLabel* updateLine_;
    QWidget* notesBlock_;
    QLabel* notesHeading_;
    QLabel* notes_;
    QLabel* errorLine_;
    QPushButton* checkButton_;
    QPushButton* installButton_;
    platform::AnyCancellable subscription_;
};
