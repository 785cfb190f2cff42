#include "drop/drop_action_picker.h"

#include "core/enum_cases.h"
#include "drop/drop_service.h"

#include <QMouseEvent>
#include <QPainter>

DropActionPicker::DropActionPicker(QList<QUrl> urls, QWidget* parent, Perform perform, platform::Scheduler& scheduler)
    : QWidget(parent), urls_(std::move(urls)), perform_(std::move(perform)), scheduler_(scheduler) {
    if (!perform_) perform_ = [](DropAction action, const QList<QUrl>& list) { DropService::shared().perform(action, list); };
    setAttribute(Qt::WA_TranslucentBackground);
    for (auto& value : reveal_) {
        value = std::make_unique<platform::Animated<double>>(0.0, scheduler_);
        redraws_.push_back(value->onChange([this] { update(); }));
    }
}

QString DropActionPicker::symbolName(DropAction action) {
    switch (action) {
    case DropAction::airdrop: return QStringLiteral("airplayaudio");
    case DropAction::copyToFolder: return QStringLiteral("folder.badge.plus");
    case DropAction::convertImage: return QStringLiteral("photo");
    case DropAction::convertVideo: return QStringLiteral("film");
    }
    return {};
}

int DropActionPicker::indexOf(DropAction action) {
    const auto cases = allCases<DropAction>();
    for (int i = 0; i < static_cast<int>(cases.size()); ++i)
        if (cases[static_cast<size_t>(i)] == action) return i;
    return 0;
}

QRectF DropActionPicker::buttonFrame(DropAction action) const {
    const int index = indexOf(action);
    const double columnWidth = (width() - 2 * horizontalPadding - columnSpacing) / 2;
    const double x = horizontalPadding + (index % 2) * (columnWidth + columnSpacing);
    const double y = topSpacer + (index / 2) * (buttonHeight + rowSpacing);
    return {x, y, std::max(0.0, columnWidth), buttonHeight};
}

double DropActionPicker::buttonScale(DropAction action) const {
    return 0.6 + 0.4 * reveal_[static_cast<size_t>(indexOf(action))]->value();
}

double DropActionPicker::buttonOpacity(DropAction action) const {
    return std::clamp(reveal_[static_cast<size_t>(indexOf(action))]->value(), 0.0, 1.0);
}

DrawList DropActionPicker::buttonLayout(DropAction action) const {
    const QRectF frame = buttonFrame(action);
    const QString key = QStringLiteral("picker.") + rawValue(action);
    DrawList out;
    DrawItem background;
    background.kind = DrawItem::Kind::fill;
    background.key = key + QStringLiteral(".background");
    background.frame = frame;
    background.color = whiteAt(0.12);
    background.cornerRadius = 10;
    out.add(background);

    const QFont titleFont = notchFont(11, QFont::Medium);
    const double symbolSize = 20;
    const double titleHeight = lineHeight(titleFont);
    const double stackHeight = symbolSize + 6 + titleHeight;
    const double top = frame.top() + (frame.height() - stackHeight) / 2;

    DrawItem icon;
    icon.kind = DrawItem::Kind::symbol;
    icon.key = key + QStringLiteral(".symbol");
    icon.symbol = symbolName(action);
    icon.frame = QRectF(frame.center().x() - symbolSize / 2, top, symbolSize, symbolSize);
    icon.color = Qt::white;
    out.add(icon);

    DrawItem label;
    label.kind = DrawItem::Kind::text;
    label.key = key + QStringLiteral(".title");
    label.text = title(action);
    label.font = titleFont;
    label.color = whiteAt(0.9);
    label.alignment = Qt::AlignHCenter | Qt::AlignVCenter;
    label.frame = QRectF(frame.left() + 4, top + symbolSize + 6, frame.width() - 8, titleHeight);
    label.maxLines = 1;
    out.add(label);
    return out;
}

void DropActionPicker::staggerAppearance() {
    int index = 0;
    for (DropAction action : allCases<DropAction>()) {
        visibleItems_.insert(action);
        reveal_[static_cast<size_t>(index)]->animate(
            1.0, platform::Animation::spring(0.35, 0.7, 0).delay(revealStep * index));
        ++index;
    }
}

void DropActionPicker::tap(const QPointF& point) {
    for (DropAction action : allCases<DropAction>()) {
        if (buttonFrame(action).contains(point)) {
            perform_(action, urls_);
            return;
        }
    }
}

void DropActionPicker::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    staggerAppearance();
}

void DropActionPicker::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) tap(event->position());
}

void DropActionPicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (DropAction action : allCases<DropAction>()) {
        const double opacity = buttonOpacity(action);
        if (opacity <= 0) continue;
        const QPointF centre = buttonFrame(action).center();
        const double scale = buttonScale(action);
        painter.save();
        painter.setOpacity(opacity);
        painter.translate(centre);
        painter.scale(scale, scale);
        painter.translate(-centre);
        buttonLayout(action).paint(painter);
        painter.restore();
    }
}
