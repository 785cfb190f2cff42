#pragma once

// The content of the opened notch: the track's artwork, title, artist and album, the transport
// row, one line of lyrics (or the source application of a browser track), and, when the glance
// feature is on, the calendar and weather panel behind a thin divider. It reads the now-playing
// service, follows the lyrics and glance subjects while it is on screen, and keeps the panel's
// state. The shuffle and repeat buttons show and change the shown player's settings where it has
// them; for any other player they are looks only, and no player is told anything.

#include "notch/glance_side_panel.h"
#include "notch/notch_drawing.h"
#include "notch/notch_view_services.h"
#include "platform/animation/animation.h"

#include <QPainterPath>
#include <QWidget>

#include <map>
#include <optional>

enum class PlayerControl { shuffle, previous, playPause, next, repeat };

struct ExpandedPlayerLayout {
    DrawList drawing;
    QRectF mainColumn;
    std::optional<QRectF> divider;
    std::optional<QRectF> panel;
    std::map<PlayerControl, QRectF> controls;  // shown buttons only
    GlancePanelHitAreas panelHits;             // in player coordinates
};

class ExpandedPlayerView : public QWidget {
    Q_OBJECT

public:
    static constexpr double glancePanelWidth = GlanceSidePanel::glancePanelWidth;
    static constexpr double padding = 16;
    static constexpr double rowSpacing = 14;
    static constexpr double artworkSize = 80;
    static constexpr double bounceScale = 1.3;
    static constexpr double bounceReturnDelay = 0.15;

    explicit ExpandedPlayerView(QWidget* parent = nullptr, NotchViewServices services = {});
    ~ExpandedPlayerView() override;

    // The display name of the application with this bundle identifier: its installed name, else
    // the identifier's last dot-separated part.
    static QString appDisplayName(const QString& bundleIdentifier,
                                  const platform::Workspace& workspace = platform::Workspace::shared());

    bool shouldShowGlancePanel() const;
    bool showCalendar() const;
    bool showWeather() const;

    // What is drawn at the widget's size (or at `size`).
    ExpandedPlayerLayout layout() const { return layout(QSizeF(size())); }
    ExpandedPlayerLayout layout(const QSizeF& size) const;

    // View state, for inspection.
    const std::optional<QString>& currentLyric() const { return currentLyric_; }
    const GlancePanelState& glanceState() const { return glance_; }
    bool isShuffleActive() const { return isShuffleActive_; }
    bool isRepeatActive() const { return isRepeatActive_; }
    const platform::Animated<double>& shuffleScale() const { return shuffleScale_; }
    const platform::Animated<double>& repeatScale() const { return repeatScale_; }
    const platform::Animated<double>& lyricOpacity() const { return lyricOpacity_; }
    const platform::Animated<double>& stripOpacity() const { return stripOpacity_; }
    bool isSubscribed() const { return lyricsCancellable_.has_value(); }
    size_t glanceSubscriptionCount() const { return glanceCancellables_.size(); }

    // The panel's calendar as it stands now (today from the scheduler's clock).
    GlanceSidePanel glancePanel();

    // The user's actions, as the pointer handlers run them.
    void tapControl(PlayerControl control);
    void tapDay(const QDate& day);
    void endStripDrag(double translationX);

    // Set by the expanded notch: the outline to clip to (widget coordinates) and the fade.
    void setSurfaceClip(const std::optional<QPainterPath>& clip);
    void setContentOpacity(double opacity);
    double contentOpacity() const { return contentOpacity_; }

    // Paints the content into `painter` at the widget's size (the surface paints it this way).
    void paintContent(QPainter& painter) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void appear();
    void disappear();
    void subscribeToGlance();
    void receiveLyrics(const std::optional<LyricsInfo>& lyrics);
    // Flips `flag` when given, and bounces the symbol.
    void bounce(bool* flag, platform::Animated<double>& scale);
    QDateTime now() const;
    QLocale locale() const;
    QTimeZone timeZone() const;
    void layoutMainColumn(ExpandedPlayerLayout& out, const QRectF& column) const;
    QColor accentColor() const;

    NotchViewServices services_;

    std::optional<QString> currentLyric_;
    QString displayedLyric_;  // kept while the line fades out
    GlancePanelState glance_;
    std::optional<platform::AnyCancellable> lyricsCancellable_;
    platform::CancellableSet glanceCancellables_;
    bool isShuffleActive_ = false;
    bool isRepeatActive_ = false;
    platform::Animated<double> shuffleScale_;
    platform::Animated<double> repeatScale_;
    platform::Animated<double> lyricOpacity_;
    platform::Animated<double> stripOpacity_;
    std::optional<QPainterPath> surfaceClip_;
    double contentOpacity_ = 1;

    std::optional<QPointF> pressPoint_;
    platform::CancellableSet redraws_;
    platform::Lifetime lifetime_;
};
