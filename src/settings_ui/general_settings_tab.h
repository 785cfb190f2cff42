#pragma once

#include "calendar_access_row.h"
#include "settings_binding.h"
#include "settings_controls.h"
#include "settings_environment.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class SettingsCard;

// What the General tab shows and does: the access status of the three permissions (refreshed
// once a second while the page is shown), language, detection source, display duration and
// screen, and the test notifications. Controls write their key the moment the user acts; the
// duration field writes only when its text is committed.
class GeneralSettingsModel {
public:
    static inline const QString context = QStringLiteral("GeneralSettingsTab");
    static constexpr double timeoutMin = 0.1;
    static constexpr double timeoutMax = 60.0;
    static constexpr double timeoutStep = 0.1;
    static constexpr double accessRefreshInterval = 1.0;

    explicit GeneralSettingsModel(const SettingsEnvironment& environment);

    // Clamped to the range and rounded to the step (halves away from zero).
    static double normalizedTimeout(double value);
    // "%.1f" of the normalised value.
    static QString formattedTimeout(double value);
    // A decimal number in the C locale that is the whole text; exponents and infinities pass,
    // not-a-number does not.
    static std::optional<double> parseTimeout(const QString& text);

    // Access status.
    QString accessTitle() const;
    QString accessSubtitle() const;
    PermissionRowContent accessibilityRow();
    PermissionRowContent fullDiskAccessRow();
    PermissionRowContent calendarRow();
    QString calendarNote() const;
    std::optional<QString> unsignedWarning() const;
    bool isAXTrusted() const { return isAXTrusted_; }
    bool hasFullDiskAccess() const { return hasFullDiskAccess_; }
    CalendarAccessController& calendar() { return calendar_; }

    void refreshAccessStates();
    // The page came on screen (refreshes now, then every second) or went away (no more probes).
    void setPageShown(bool shown);
    bool isPageShown() const { return pageShown_; }

    // Language and detection.
    QString detectionCardTitle() const;
    QString detectionCardSubtitle() const;
    QString languageHeader() const;
    std::vector<SettingsChoice> languageChoices() const;
    std::optional<int> selectedLanguageIndex() const;
    void chooseLanguage(int index);
    QString detectionHeader() const;
    std::vector<SettingsChoice> detectionChoices() const;
    std::optional<int> selectedDetectionIndex() const;
    void chooseDetection(int index);
    QString detectionNote() const;

    // Display and behaviour.
    QString displayCardTitle() const;
    QString displayCardSubtitle() const;
    QString durationHeader() const;
    QString stepNote() const;
    double storedTimeout() const;
    // Writes the normalised value (what the stepper does).
    void setTimeout(double value);
    void stepTimeout(int steps);
    const QString& timeoutText() const { return timeoutText_; }
    // What the user typed; only typed text is ever committed.
    void setTimeoutText(const QString& text) {
        timeoutText_ = text;
        typed_ = true;
    }
    bool isTimeoutFieldEditing() const { return editing_; }
    // Editing ends: the text is committed.
    void setTimeoutFieldEditing(bool editing);
    // Stores the typed text when it parses; either way the field then shows what is stored. Without
    // typing nothing is stored, so a value out of range written elsewhere stays as it is.
    void commitTimeoutText();
    QString screenHeader() const;
    std::vector<SettingsChoice> screenChoices() const;
    std::optional<int> selectedScreenIndex() const;
    void chooseScreen(int index);
    std::optional<QString> screenNote() const;

    // Test notifications.
    QString testCardTitle() const;
    QString testCardSubtitle() const;
    QString genericButtonTitle() const;
    QString messageButtonTitle() const;
    QString faceTimeButtonTitle() const;
    void fireGenericTest();
    void fireMessageTest();
    void fireFaceTimeTest();
    void fireTestNotification(const QString& sourceHint, const std::optional<QString>& message,
                              const std::optional<QString>& bundleId, bool isCallAlert);

    // Anything shown may have changed (a key, the language, an access state, the duration text).
    const platform::PassthroughSubject<>& changed() const { return changed_; }

private:
    void onGranted();
    std::optional<int> indexOf(const QString& key, const QString& fallback,
                               const std::vector<SettingsChoice>& choices) const;
    void choose(const QString& key, const std::vector<SettingsChoice>& choices, int index);

    SettingsEnvironment environment_;
    platform::Defaults& defaults_;
    QString timeoutText_ = QStringLiteral("2.0");
    bool editing_ = false;
    bool typed_ = false;
    bool isAXTrusted_ = false;
    bool hasFullDiskAccess_ = false;
    bool pageShown_ = false;
    // Before everything that hands out callbacks wrapped by it.
    platform::Lifetime lifetime_;
    CalendarAccessController calendar_;
    SettingsKeyWatch watch_;
    platform::PassthroughSubject<> changed_;
    platform::RepeatingTimer accessTimer_;
    platform::CancellableSet subscriptions_;
};

// Two small arrows stepping a value up or down.
class SettingsStepper final : public QWidget {
    Q_OBJECT

public:
    explicit SettingsStepper(QWidget* parent = nullptr);
    std::function<void(int)> onStep;
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

private:
    QToolButton* up_;
    QToolButton* down_;
};

class GeneralSettingsTab final : public SettingsPage {
    Q_OBJECT

public:
    explicit GeneralSettingsTab(const SettingsEnvironment& environment, QWidget* parent = nullptr);
    GeneralSettingsModel& model() { return model_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();

    GeneralSettingsModel model_;
    SettingsCard* accessCard_;
    PermissionRowSlot* accessibilityRow_;
    PermissionRowSlot* fullDiskAccessRow_;
    PermissionRowSlot* calendarRow_;
    QLabel* calendarNote_;
    QLabel* unsignedWarning_;
    SettingsCard* detectionCard_;
    QLabel* languageHeader_;
    SegmentedPicker* languagePicker_;
    QLabel* detectionHeader_;
    SegmentedPicker* detectionPicker_;
    QLabel* detectionNote_;
    SettingsCard* displayCard_;
    QLabel* durationHeader_;
    QLineEdit* timeoutField_;
    SettingsStepper* stepper_;
    QLabel* stepNote_;
    QLabel* screenHeader_;
    SegmentedPicker* screenPicker_;
    QLabel* screenNote_;
    SettingsCard* testCard_;
    QPushButton* genericButton_;
    QPushButton* messageButton_;
    QPushButton* faceTimeButton_;
    platform::AnyCancellable subscription_;
};

QWidget* makeGeneralSettingsTab(const SettingsEnvironment& environment);
