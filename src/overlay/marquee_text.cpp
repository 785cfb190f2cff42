#include "overlay/marquee_text.h"

#include "core/format.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRectF>

#include <algorithm>

double MarqueeText::fontMeasure(const QString& text, const QFont& font) {
    return QFontMetricsF(font).horizontalAdvance(text);
}

MarqueeText::MarqueeText(QString text, QFont font, QColor color, double spacing,
                         platform::Scheduler& scheduler, TextMeasure measure)
    : text_(format::clipped(text, kMaxTextLength)),
      font_(std::move(font)),
      color_(std::move(color)),
      spacing_(spacing),
      scheduler_(scheduler),
      measure_(measure ? std::move(measure) : TextMeasure(&MarqueeText::fontMeasure)),
      offset_(0.0, scheduler) {}

void MarqueeText::setOnChange(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
    offsetChanges_ = onChange_ ? offset_.onChange([this] { changed(); }) : platform::AnyCancellable();
}

void MarqueeText::setText(const QString& fullText) {
    const QString text = format::clipped(fullText, kMaxTextLength);
    if (text == text_) return;
    text_ = text;
    // Snap back at once; whatever the old loop still has scheduled belongs to an old generation.
    ++generation_;
    isScrolling_ = false;
    snapToRest();
    if (!onScreen_) return;  // measured when it comes on screen
    const uint64_t generation = generation_;
    scheduler_.after(kRemeasureDelay, lifetime_.wrap([this, generation] {
        if (generation != generation_ || !onScreen_) return;
        measure();
    }));
}

void MarqueeText::appear() {
    if (onScreen_) return;
    onScreen_ = true;
    measure();
}

void MarqueeText::disappear() {
    if (!onScreen_) return;
    onScreen_ = false;
    ++generation_;
    isScrolling_ = false;
    snapToRest();
}

void MarqueeText::measure() {
    containerWidth_ = availableWidth_;
    textWidth_ = text_.isEmpty() ? 0.0 : measure_(text_, font_);
    checkAndStartScrolling();
}

void MarqueeText::checkAndStartScrolling() {
    if (containerWidth_ < textWidth_) {
        isScrolling_ = true;
        changed();  // the second copy joins the row
        const uint64_t generation = generation_;
        scheduler_.after(kStartDelay, lifetime_.wrap([this, generation] { startScrolling(generation); }));
    } else {
        isScrolling_ = false;
        snapToRest();
    }
}

void MarqueeText::startScrolling(uint64_t generation) {
    if (generation != generation_ || !isScrolling_) return;
    const double distance = textWidth_ + spacing_;
    const double duration = distance / kPointsPerSecond;
    offset_.animate(-distance, platform::Animation::linear(duration));
    scheduler_.after(duration + kHold, lifetime_.wrap([this, generation] {
        if (generation != generation_) return;
        // The first copy takes the place of the second, which looks the same.
        snapToRest();
        scheduler_.after(kRestartDelay, lifetime_.wrap([this, generation] { startScrolling(generation); }));
    }));
}

void MarqueeText::snapToRest() {
    // Never inherits an animation from the caller: the jump back must be invisible.
    platform::withoutAnimation([this] { offset_.set(0.0); });
    changed();
}

void MarqueeText::changed() {
    if (onChange_) onChange_();
}

void MarqueeText::paint(QPainter& painter, const QRectF& frame) const {
    if (text_.isEmpty()) return;
    const QFontMetricsF metrics(font_);
    painter.save();
    painter.setClipRect(QRectF(frame.left(), frame.top(), frame.width(), metrics.height()), Qt::IntersectClip);
    painter.setFont(font_);
    painter.setPen(color_);
    const double baseline = frame.top() + metrics.ascent();
    const double x = frame.left() + offset();
    painter.drawText(QPointF(x, baseline), text_);
    if (isScrolling_) painter.drawText(QPointF(x + textWidth_ + spacing_, baseline), text_);
    painter.restore();
}
