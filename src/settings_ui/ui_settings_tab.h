#pragma once

#include "settings_binding.h"
#include "settings_controls.h"
#include "settings_environment.h"

#include <optional>
#include <vector>

class QLabel;
class QSlider;
class SettingsCard;
class SwitchToggle;

// What the UI tab shows and does: overlay style and tint, the notch corner radius with its
// preview, and whether the overlay names the posting application. Every read goes to the store
// and follows a change made anywhere; only the user's gestures write.
class UISettingsModel {
public:
    static constexpr double cornerRadiusMin = 8.0;
    static constexpr double cornerRadiusMax = 24.0;

    explicit UISettingsModel(platform::Defaults& defaults);

    QString appearanceTitle() const;
    QString appearanceSubtitle() const;
    QString styleHeader() const;
    QString styleNote() const;
    QString tintHeader() const;
    QString shapeTitle() const;
    QString shapeSubtitle() const;
    QString cornerRadiusHeader() const;
    QString previewNote() const;
    QString contentTitle() const;
    QString contentSubtitle() const;
    QString showAppNameLabel() const;
    QString appNameNote() const;

    std::vector<SettingsChoice> styleChoices() const;
    std::vector<SettingsChoice> tintChoices() const;
    // The segment of the stored raw text; none for a text no segment knows.
    std::optional<int> selectedStyleIndex() const;
    std::optional<int> selectedTintIndex() const;
    void chooseStyle(int index);
    void chooseTint(int index);

    bool showAppName() const;
    void setShowAppName(bool on);

    // The stored radius as the header and the preview use it, unclamped; a value that is not a
    // finite number of integer range shows as the radius the notch surfaces would use.
    double cornerRadius() const;
    // Where the slider stands: the radius within the slider's range, to the nearest step.
    int sliderPosition() const;
    void setCornerRadius(double radius);

    // A key this tab shows (or the language) was written.
    const platform::PassthroughSubject<>& changed() const { return watch_.changed(); }

private:
    void choose(const QString& key, const std::vector<SettingsChoice>& choices, int index);
    std::optional<int> selectedIndex(const QString& key, const QString& fallback,
                                     const std::vector<SettingsChoice>& choices) const;

    platform::Defaults& defaults_;
    SettingsKeyWatch watch_;
};

// The small picture of the notch surface during music playback at the current radius.
class RadiusPreview final : public QWidget {
    Q_OBJECT

public:
    static constexpr int rowWidth = 180;
    static constexpr int rowHeight = 28;
    static constexpr int verticalPadding = 8;

    explicit RadiusPreview(QWidget* parent = nullptr);
    void setRadius(double radius);
    double radius() const { return radius_; }
    QSize sizeHint() const override { return {rowWidth, rowHeight + 2 * verticalPadding}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double radius_ = 16;
};

class UISettingsTab final : public SettingsPage {
    Q_OBJECT

public:
    explicit UISettingsTab(const SettingsEnvironment& environment, QWidget* parent = nullptr);
    UISettingsModel& model() { return model_; }

private:
    void refresh();

    UISettingsModel model_;
    SettingsCard* appearanceCard_;
    QLabel* styleHeader_;
    SegmentedPicker* stylePicker_;
    QLabel* styleNote_;
    QLabel* tintHeader_;
    SegmentedPicker* tintPicker_;
    SettingsCard* shapeCard_;
    QLabel* radiusHeader_;
    QSlider* radiusSlider_;
    RadiusPreview* preview_;
    QLabel* previewNote_;
    SettingsCard* contentCard_;
    SwitchToggle* appNameSwitch_;
    QLabel* appNameNote_;
    platform::AnyCancellable subscription_;
};

QWidget* makeUISettingsTab(const SettingsEnvironment& environment);
