#pragma once

// The display- and keyboard-brightness activities: a symbol left of the notch and the level bar,
// yellow for the display, white for the keyboard.

#include "live_activities/level_activity_view.h"

class BrightnessActivityView : public LevelActivityView {
    Q_OBJECT

public:
    const BrightnessInfo& brightnessInfo() const { return brightnessInfo_; }

protected:
    BrightnessActivityView(const platform::CurrentValueSubject<std::optional<BrightnessInfo>>& subject,
                           const LiveActivityEnvironment& environment, QWidget* parent);

    double targetLevel() const override { return brightnessInfo_.level; }
    platform::AnyCancellable followRecords() override;

    BrightnessInfo brightnessInfo_{0.5f};

private:
    const platform::CurrentValueSubject<std::optional<BrightnessInfo>>& subject_;
};

class DisplayBrightnessActivityView final : public BrightnessActivityView {
    Q_OBJECT

public:
    // The standard yellow on a dark surface.
    static QColor yellow() { return QColor(255, 214, 10); }

    explicit DisplayBrightnessActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});
    static QString brightnessIconName(float level);

protected:
    QString symbolName() const override { return brightnessIconName(brightnessInfo_.level); }
    QColor symbolColor() const override { return yellow(); }
    QColor barColor() const override { return yellow(); }
};

class KeyboardBrightnessActivityView final : public BrightnessActivityView {
    Q_OBJECT

public:
    explicit KeyboardBrightnessActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});

protected:
    QString symbolName() const override { return QStringLiteral("light.max"); }
    QColor symbolColor() const override { return Qt::white; }
    QColor barColor() const override { return Qt::white; }
};
