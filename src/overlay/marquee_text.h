#pragma once

#include "platform/animation/animation.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <functional>

class QPainter;
class QRectF;

// One line of text that stands still when it fits its container and otherwise scrolls left in an
// endless loop: a 1.5 s wait, one linear pass at 30 points per second that brings a second copy
// into the place of the first, a 1.0 s hold, an invisible reset and 0.1 s later the next pass.
//
// The owning view paints it and tells it when it comes on screen, leaves it, and how wide its
// container is. Every delayed step carries the generation it was scheduled in; a text change or
// leaving the screen starts a new generation, so steps of an older loop never act and two loops
// can never interleave.
class MarqueeText {
public:
    // Natural width of `text` in `font`; injectable so timing does not depend on installed fonts.
    using TextMeasure = std::function<double(const QString& text, const QFont& font)>;
    static double fontMeasure(const QString& text, const QFont& font);

    static constexpr double kPointsPerSecond = 30.0;
    static constexpr double kStartDelay = 1.5;
    static constexpr double kHold = 1.0;
    static constexpr double kRestartDelay = 0.1;
    static constexpr double kRemeasureDelay = 0.1;
    // Longer texts are cut (on a character boundary): minutes of scrolling, and measuring and
    // drawing cost no more whatever the caller hands in.
    static constexpr qsizetype kMaxTextLength = 2000;

    MarqueeText(QString text, QFont font, QColor color, double spacing,
                platform::Scheduler& scheduler = platform::Scheduler::shared(),
                TextMeasure measure = &MarqueeText::fontMeasure);
    MarqueeText(const MarqueeText&) = delete;
    MarqueeText& operator=(const MarqueeText&) = delete;

    // A different text snaps the row back, drops the second copy and measures again 0.1 s later.
    void setText(const QString& text);
    void setFont(const QFont& font) { font_ = font; }
    void setColor(const QColor& color) { color_ = color; }
    // The width offered now; read only when measuring (a later change alone does not re-measure).
    void setAvailableWidth(double width) { availableWidth_ = width; }

    // Coming on screen measures at once; leaving it ends the loop and rests the row.
    void appear();
    void disappear();

    const QString& text() const { return text_; }
    const QFont& font() const { return font_; }
    const QColor& color() const { return color_; }
    double spacing() const { return spacing_; }
    double textWidth() const { return textWidth_; }
    double containerWidth() const { return containerWidth_; }
    bool isScrolling() const { return isScrolling_; }
    // Horizontal shift of the row at the scheduler's current time; 0 at rest, negative in a pass.
    double offset() const { return offset_.value(); }
    // A pass is moving the row now.
    bool isAnimating() const { return offset_.isAnimating(); }
    const platform::Animated<double>& animatedOffset() const { return offset_; }

    // Called after every change that alters what is drawn, and every frame while a pass runs (or
    // only on the frames where the offset reaches another of the owner's drawn steps).
    void setOnChange(std::function<void()> onChange);
    // The owner draws the row at round(offset / step + grid); frames that would draw it in the
    // same place are skipped.
    void setVisibleGrid(double step, double grid) { offset_.setVisibleGrid(step, grid); }
    void clearVisibleStep() { offset_.clearVisibleStep(); }
    // Any other rule: whether a row drawn at offset `heard` would look the same at `value`.
    void setLooksSame(std::function<bool(double value, double heard)> same) { offset_.setLooksSame(std::move(same)); }

    // Draws the row with its top-left at `frame`'s top-left, clipped to the container width.
    void paint(QPainter& painter, const QRectF& frame) const;

private:
    void measure();
    void checkAndStartScrolling();
    void startScrolling(uint64_t generation);
    void snapToRest();
    void changed();

    QString text_;
    QFont font_;
    QColor color_;
    double spacing_;
    platform::Scheduler& scheduler_;
    TextMeasure measure_;

    double availableWidth_ = 0;
    double textWidth_ = 0;
    double containerWidth_ = 0;
    bool isScrolling_ = false;
    bool onScreen_ = false;
    uint64_t generation_ = 0;

    platform::Animated<double> offset_;
    std::function<void()> onChange_;
    platform::AnyCancellable offsetChanges_;
    platform::Lifetime lifetime_;
};
