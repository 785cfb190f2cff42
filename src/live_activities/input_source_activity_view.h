#pragma once

// The activity after the keyboard input source changes: a globe left of the notch and a short
// glyph for the new source right of it ("ア" katakana, "あ" Japanese kana, "abc" otherwise).

#include "core/system_event_records.h"
#include "live_activities/live_activity_view.h"
#include "platform/animation/animation.h"

#include <QRectF>
#include <QString>

class InputSourceActivityView : public LiveActivityView {
    Q_OBJECT

public:
    static constexpr double iconFontSize = 14;
    static constexpr double glyphFontSize = 13;
    static constexpr double recordAnimationDuration = 0.2;

    explicit InputSourceActivityView(QWidget* parent = nullptr, const LiveActivityEnvironment& environment = {});

    // The glyph for a source's identifier.
    static QString displayName(const QString& sourceID);

    struct ViewModel {
        QString symbolName;
        QRectF iconFrame;  // band coordinates, before scale
        double iconScale = 0;
        QString glyph;
        // How far a new source's glyph has faded in over the one before it.
        double glyphFade = 1;
        QString previousGlyph;
    };
    ViewModel viewModel() const;

    const InputSourceInfo& inputSource() const { return inputSource_; }
    const platform::Animated<double>& iconScale() const { return iconScale_; }

protected:
    void paintCells(QPainter& painter) const override;
    void didAppear() override;
    void didDismiss() override;
    void didComeOnScreen() override;
    void didLeaveScreen() override;

private:
    void syncInfo();
    void takeRecord(const InputSourceInfo& info);

    InputSourceInfo inputSource_;
    platform::Animated<double> iconScale_;
    InputSourceInfo previousSource_;
    platform::Animated<double> glyphFade_;
    platform::AnyCancellable sourceSubscription_;
};
