#include "settings_card.h"

#include "settings_controls.h"
#include "settings_style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

bool hasText(const std::optional<QString>& text) { return text && !text->isEmpty(); }

// The badge: the text in its tone on a faint capsule of the same tone.
class Badge final : public QWidget {
public:
    Badge(const QString& text, const QColor& tone, QWidget* parent) : QWidget(parent), text_(text), tone_(tone) {
        setFont(SettingsStyle::systemFont(11, QFont::DemiBold));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        setObjectName(QStringLiteral("badge"));
        setAccessibleName(text_);
    }
    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text_) + 2 * 10, metrics.height() + 2 * 4};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds = rect();
        QColor fill = tone_;
        fill.setAlphaF(static_cast<float>(tone_.alphaF() * 0.12));
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(bounds, bounds.height() / 2, bounds.height() / 2);
        painter.setPen(tone_);
        painter.drawText(bounds, Qt::AlignCenter, text_);
    }

private:
    QString text_;
    QColor tone_;
};

}  // namespace

SettingsCard::SettingsCard(const QString& title, const std::optional<QString>& subtitle, const QString& icon,
                           QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("SettingsCard"));
    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(spacing);
    stack->setContentsMargins(padding, padding, padding, padding);

    auto* header = new QHBoxLayout();
    header->setSpacing(headerSpacing);
    header->setContentsMargins(0, 0, 0, 0);
    auto* symbol = new SymbolView(icon, 15, SymbolView::Tone::accent, symbolFrameWidth, this);
    symbol->setObjectName(QStringLiteral("cardSymbol"));
    header->addWidget(symbol, 0, Qt::AlignTop);
    titles_ = new QVBoxLayout();
    titles_->setSpacing(4);
    titles_->setContentsMargins(0, 0, 0, 0);
    title_ = makeSettingsText(title, 14, QFont::DemiBold, TextTone::primary, this);
    title_->setObjectName(QStringLiteral("cardTitle"));
    titles_->addWidget(title_);
    header->addLayout(titles_, 1);
    stack->addLayout(header);

    body_ = new QVBoxLayout();
    body_->setSpacing(spacing);
    body_->setContentsMargins(contentIndent, 0, 0, 0);
    stack->addLayout(body_);

    setTexts(title, subtitle);
}

void SettingsCard::setTexts(const QString& title, const std::optional<QString>& subtitle) {
    title_->setText(title);
    if (!hasText(subtitle)) {
        delete subtitle_;
        subtitle_ = nullptr;
        return;
    }
    if (!subtitle_) {
        subtitle_ = makeSettingsText(QString(), 11, QFont::Normal, TextTone::secondary, this);
        subtitle_->setObjectName(QStringLiteral("cardSubtitle"));
        titles_->addWidget(subtitle_);
    }
    subtitle_->setText(*subtitle);
}

void SettingsCard::addContent(QWidget* widget) {
    widget->setParent(this);
    // Items of a fixed width stay at the leading edge; the others take the card's width (a wrapped
    // note then wraps at the card's edge, not at its own preferred width).
    const bool fixed = widget->sizePolicy().horizontalPolicy() == QSizePolicy::Fixed;
    body_->addWidget(widget, 0, fixed ? Qt::AlignLeft : Qt::Alignment());
}

void SettingsCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setBrush(SettingsStyle::controlBackground(this));
    painter.setPen(QPen(SettingsStyle::primary(this, 0.06), 1));
    painter.drawRoundedRect(bounds, cornerRadius, cornerRadius);
}

PermissionStatusRow::PermissionStatusRow(const QString& title, const QString& detail, const QString& badge,
                                         const QColor& tone, const std::optional<QString>& buttonTitle,
                                         std::function<void()> action, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("PermissionStatusRow"));
    auto* row = new QHBoxLayout(this);
    row->setSpacing(12);
    row->setContentsMargins(0, 0, 0, 0);

    auto* texts = new QVBoxLayout();
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    auto* titleLabel = makeSettingsText(title, 13, QFont::DemiBold, TextTone::primary, this);
    titleLabel->setObjectName(QStringLiteral("rowTitle"));
    auto* detailLabel = makeSettingsText(detail, 11, QFont::Normal, TextTone::secondary, this);
    detailLabel->setObjectName(QStringLiteral("rowDetail"));
    texts->addWidget(titleLabel);
    texts->addWidget(detailLabel);
    // The texts take the room the row has (a detail without spaces, as in Japanese, would
    // otherwise wrap at the label's own preferred width); the spacer keeps its 12 points.
    row->addLayout(texts, 1);
    row->addSpacerItem(new QSpacerItem(12, 0, QSizePolicy::Fixed, QSizePolicy::Minimum));

    badge_ = new Badge(badge, tone, this);
    row->addWidget(badge_, 0, Qt::AlignVCenter);
    if (buttonTitle && action) {
        button_ = new QPushButton(*buttonTitle, this);
        button_->setObjectName(QStringLiteral("rowButton"));
        button_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        connect(button_, &QPushButton::clicked, button_, [action = std::move(action)] { action(); });
        row->addWidget(button_, 0, Qt::AlignVCenter);
    }
}

SettingsKeyValueRow::SettingsKeyValueRow(const QString& label, const QString& value, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("SettingsKeyValueRow"));
    auto* row = new QHBoxLayout(this);
    row->setSpacing(12);
    row->setContentsMargins(0, 0, 0, 0);
    label_ = makeSettingsText(label, 12, QFont::Normal, TextTone::secondary, this);
    label_->setWordWrap(false);
    value_ = makeSettingsText(value, 12, QFont::Medium, TextTone::primary, this);
    value_->setWordWrap(false);
    // Same size, top-aligned: the first baselines meet.
    row->addWidget(label_, 0, Qt::AlignTop);
    row->addStretch(1);
    row->addWidget(value_, 0, Qt::AlignTop);
}
