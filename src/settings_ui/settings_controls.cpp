#include "settings_controls.h"

#include "platform/symbols/symbols.h"
#include "settings_style.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kSegmentHeight = 22;
constexpr int kSegmentPadding = 12;
constexpr int kSwatchSize = 10;
constexpr int kSwatchSpacing = 6;
constexpr int kPickerLabelSpacing = 8;
constexpr double kSegmentFontSize = 12;
constexpr double kLabelFontSize = 13;
constexpr int kSwitchSpacing = 12;

// A label whose colour is a tone of its parent's palette, taken again whenever that palette
// changes (its own WindowText is set, so it no longer inherits that role by itself).
class ToneLabel final : public QLabel {
public:
    ToneLabel(const QString& text, TextTone tone, QWidget* parent) : QLabel(text, parent), tone_(tone) { applyTone(); }

protected:
    void changeEvent(QEvent* event) override {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) applyTone();
    }

private:
    void applyTone() {
        QColor color = parentWidget() ? parentWidget()->palette().color(QPalette::WindowText)
                                      : QApplication::palette(this).color(QPalette::WindowText);
        if (tone_ == TextTone::secondary) color = SettingsStyle::secondaryOf(color);
        if (palette().color(QPalette::WindowText) == color) return;  // also ends the change event it sends
        QPalette own = palette();
        own.setColor(QPalette::WindowText, color);
        setPalette(own);
    }

    TextTone tone_;
};

QLabel* styleText(QLabel* label, double size, QFont::Weight weight) {
    label->setTextFormat(Qt::PlainText);
    label->setFont(SettingsStyle::systemFont(size, weight));
    label->setWordWrap(true);
    return label;
}

}  // namespace

SymbolView::SymbolView(const QString& name, double size, Tone tone, int frameWidth, QWidget* parent)
    : QWidget(parent), name_(name), size_(size), tone_(tone), frameWidth_(frameWidth) {
    setFixedWidth(frameWidth_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    setAccessibleName(name_);
}

QSize SymbolView::sizeHint() const { return {frameWidth_, static_cast<int>(size_ + 4)}; }

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = tone_ == Tone::accent ? SettingsStyle::accent(this) : SettingsStyle::secondary(this);
    const QRectF glyph((width() - size_) / 2.0, (height() - size_) / 2.0, size_, size_);
    platform::Symbols::draw(painter, name_, glyph, color);
}

SwitchToggle::SwitchToggle(const QString& label, Size size, QWidget* parent) : QAbstractButton(parent), size_(size) {
    setText(label);
    setCheckable(true);
    setFont(SettingsStyle::systemFont(size_ == Size::small ? 12 : kLabelFontSize));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
}

QSizeF SwitchToggle::trackSize() const { return size_ == Size::small ? QSizeF(26, 15) : QSizeF(32, 18); }

QSize SwitchToggle::sizeHint() const {
    const QFontMetrics metrics(font());
    const QSizeF track = trackSize();
    return {metrics.horizontalAdvance(text()) + kSwitchSpacing + static_cast<int>(track.width()),
            std::max(metrics.height(), static_cast<int>(track.height())) + 2};
}

QSize SwitchToggle::minimumSizeHint() const { return sizeHint(); }

void SwitchToggle::showValue(bool on) {
    // setChecked never emits clicked(), the one signal the tabs listen to.
    setChecked(on);
}

void SwitchToggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSizeF track = trackSize();
    painter.setPen(SettingsStyle::primary(this));
    painter.drawText(QRectF(0, 0, width() - track.width() - kSwitchSpacing, height()),
                     Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text());

    const QRectF trackRect(width() - track.width(), (height() - track.height()) / 2.0, track.width(),
                           track.height());
    const double radius = track.height() / 2.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? SettingsStyle::accent(this) : SettingsStyle::primary(this, 0.15));
    painter.drawRoundedRect(trackRect, radius, radius);
    const double knob = track.height() - 2;
    const double knobX = isChecked() ? trackRect.right() - 1 - knob : trackRect.left() + 1;
    painter.setBrush(Qt::white);
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.drawEllipse(QRectF(knobX, trackRect.top() + 1, knob, knob));
}

ProminentButton::ProminentButton(QWidget* parent) : QPushButton(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::ArrowCursor);
}

QSize ProminentButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * 12, std::max(metrics.height() + 2 * 5, 24)};
}

void ProminentButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = SettingsStyle::accent(this);
    if (!isEnabled()) fill.setAlphaF(0.4f);
    else if (isDown()) fill = fill.darker(120);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    if (hasFocus()) {
        painter.setPen(QPen(fill.lighter(140), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 5, 5);
    }
    painter.setPen(palette().color(QPalette::HighlightedText));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

namespace {

// Turns a wheel event away from a control the user has not focused: ignored, it goes on to the
// control's parents, up to the page that scrolls. Focus the user gives (a click, Tab, a shortcut)
// counts; focus moved there by a window's activation or a tab's switch does not.
class WheelWhenFocused final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            noteFocus(event->type() == QEvent::FocusIn, static_cast<QFocusEvent*>(event)->reason());
            return false;
        case QEvent::Wheel:
            if (userFocused_ && static_cast<QWidget*>(watched)->hasFocus()) return false;
            event->ignore();
            return true;
        default:
            return false;
        }
    }

private:
    void noteFocus(bool in, Qt::FocusReason reason) {
        switch (reason) {
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
            userFocused_ = in;
            break;
        case Qt::ActiveWindowFocusReason:
        case Qt::PopupFocusReason:
        case Qt::MenuBarFocusReason:
            break;  // the window comes and goes; whoever focused the control still did
        default:
            userFocused_ = false;
            break;
        }
    }

    bool userFocused_ = false;
};

}  // namespace

void takeWheelOnlyWhenFocused(QWidget* control) {
    // Focused by a click or Tab, never by the wheel itself.
    control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(new WheelWhenFocused(control));
}

SegmentedPicker::SegmentedPicker(const QString& label, QWidget* parent) : QWidget(parent), label_(label) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(label_);
}

void SegmentedPicker::setLabel(const QString& label) {
    if (label == label_) return;
    label_ = label;
    setAccessibleName(label_);
    updateGeometry();
    update();
}

void SegmentedPicker::setSegments(std::vector<Segment> segments) {
    segments_ = std::move(segments);
    if (selected_ && *selected_ >= static_cast<int>(segments_.size())) selected_.reset();
    updateGeometry();
    update();
}

void SegmentedPicker::setSelectedIndex(std::optional<int> index) {
    if (index && (*index < 0 || *index >= static_cast<int>(segments_.size()))) index.reset();
    if (index == selected_) return;
    selected_ = index;
    update();
}

int SegmentedPicker::labelWidth() const {
    if (label_.isEmpty()) return 0;
    return QFontMetrics(SettingsStyle::systemFont(kLabelFontSize)).horizontalAdvance(label_) + kPickerLabelSpacing;
}

int SegmentedPicker::segmentWidth() const {
    const QFontMetrics metrics(SettingsStyle::systemFont(kSegmentFontSize));
    int widest = 0;
    for (const auto& segment : segments_) {
        int width = metrics.horizontalAdvance(segment.title);
        if (segment.swatch) width += kSwatchSize + kSwatchSpacing;
        widest = std::max(widest, width);
    }
    return widest + 2 * kSegmentPadding;
}

QSize SegmentedPicker::sizeHint() const {
    return {labelWidth() + segmentWidth() * static_cast<int>(segments_.size()), kSegmentHeight};
}

QRect SegmentedPicker::segmentRect(int index) const {
    const int count = static_cast<int>(segments_.size());
    if (index < 0 || index >= count) return {};
    // The segments share the width left after the label, equally.
    const int left = labelWidth();
    const int available = std::max(width() - left, segmentWidth() * count);
    const int each = available / count;
    return {left + index * each, 0, each, kSegmentHeight};
}

void SegmentedPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!label_.isEmpty()) {
        painter.setFont(SettingsStyle::systemFont(kLabelFontSize));
        painter.setPen(SettingsStyle::primary(this));
        painter.drawText(QRect(0, 0, labelWidth(), kSegmentHeight), Qt::AlignVCenter | Qt::AlignLeft, label_);
    }
    if (segments_.empty()) return;
    const QRectF track = QRectF(segmentRect(0).topLeft(), segmentRect(static_cast<int>(segments_.size()) - 1).bottomRight())
                             .adjusted(0.5, 0.5, 0.5, 0.5);
    painter.setPen(QPen(SettingsStyle::primary(this, 0.12), 1));
    painter.setBrush(SettingsStyle::primary(this, 0.05));
    painter.drawRoundedRect(track, 6, 6);

    painter.setFont(SettingsStyle::systemFont(kSegmentFontSize));
    for (int i = 0; i < static_cast<int>(segments_.size()); ++i) {
        const QRectF cell = QRectF(segmentRect(i)).adjusted(1.5, 1.5, -1.5, -1.5);
        if (selected_ == i) {
            painter.setPen(QPen(SettingsStyle::primary(this, 0.15), 0.5));
            painter.setBrush(SettingsStyle::controlBackground(this));
            painter.drawRoundedRect(cell, 5, 5);
        } else if (i > 0 && selected_ != i - 1) {
            painter.setPen(QPen(SettingsStyle::primary(this, 0.12), 1));
            painter.drawLine(QPointF(cell.left() - 1.5, cell.top() + 4), QPointF(cell.left() - 1.5, cell.bottom() - 4));
        }
        const auto& segment = segments_[i];
        const QFontMetrics metrics(painter.font());
        int contentWidth = metrics.horizontalAdvance(segment.title);
        if (segment.swatch) contentWidth += kSwatchSize + kSwatchSpacing;
        double x = cell.center().x() - contentWidth / 2.0;
        if (segment.swatch) {
            painter.setPen(QPen(SettingsStyle::primary(this, 0.2), 0.5));
            painter.setBrush(*segment.swatch);
            painter.drawEllipse(QRectF(x, cell.center().y() - kSwatchSize / 2.0, kSwatchSize, kSwatchSize));
            x += kSwatchSize + kSwatchSpacing;
        }
        painter.setPen(SettingsStyle::primary(this));
        painter.drawText(QRectF(x, cell.top(), cell.right() - x, cell.height()), Qt::AlignVCenter | Qt::AlignLeft,
                         segment.title);
    }
}

void SegmentedPicker::mousePressEvent(QMouseEvent* event) {
    for (int i = 0; i < static_cast<int>(segments_.size()); ++i) {
        if (segmentRect(i).contains(event->position().toPoint())) {
            if (onChosen) onChosen(i);
            event->accept();
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

SettingsPage::SettingsPage(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("SettingsPageContent"));
    column_ = new QVBoxLayout(content);
    column_->setSpacing(16);
    column_->setContentsMargins(20, 20, 20, 20);
    column_->addStretch(1);
    setWidget(content);
}

void SettingsPage::addCard(QWidget* card) {
    card->setParent(widget());
    const bool stretches = card->layout() && (card->layout()->expandingDirections() & Qt::Horizontal);
    // Before the trailing stretch, which keeps the cards at the top.
    column_->insertWidget(column_->count() - 1, card, 0, stretches ? Qt::Alignment() : Qt::AlignLeft);
}

QLabel* makeSettingsText(const QString& text, double size, QFont::Weight weight, TextTone tone, QWidget* parent) {
    return styleText(new ToneLabel(text, tone, parent), size, weight);
}

QLabel* makeSettingsText(const QString& text, double size, QFont::Weight weight, const QColor& color,
                         QWidget* parent) {
    auto* label = styleText(new QLabel(text, parent), size, weight);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

QLabel* makeBlockHeader(const QString& text, QWidget* parent) {
    return makeSettingsText(text, 13, QFont::DemiBold, TextTone::primary, parent);
}

QLabel* makeNote(const QString& text, QWidget* parent) { return makeSettingsText(text, 11, QFont::Normal, TextTone::secondary, parent); }

QWidget* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, SettingsStyle::primary(parent, 0.15));
    line->setPalette(palette);
    return line;
}

QVBoxLayout* makeBlock(QWidget* block) {
    auto* layout = new QVBoxLayout(block);
    layout->setSpacing(8);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}
