#include "drop/drop_zone_view.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "notch/notch_aware_shape.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

namespace {

constexpr double topLineInset = 6;
const QColor systemBlue = QColor::fromRgbF(0.0f, 0.478f, 1.0f);

QColor mix(const QColor& from, const QColor& to, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * t),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * t),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * t),
                            static_cast<float>(from.alphaF() + (to.alphaF() - from.alphaF()) * t));
}

}  // namespace

DropZoneView::DropZoneView(QWidget* parent, DropZoneServices services)
    : QWidget(parent),
      services_(std::move(services)),
      entrance_(0.0, services_.scheduler),
      iconHighlight_(0.0, services_.scheduler),
      borderHighlight_(0.0, services_.scheduler) {
    setFixedSize(static_cast<int>(zoneWidth), static_cast<int>(zoneHeight));
    setAttribute(Qt::WA_TranslucentBackground);
    setAcceptDrops(true);
    for (auto* value : {&entrance_, &iconHighlight_, &borderHighlight_})
        redraws_.push_back(value->onChange([this] { update(); }));
}

double DropZoneView::cornerRadius(const platform::Defaults& defaults) {
    double radius = defaults.doubleValue(AppSettings::dynamicIslandCornerRadiusKey).value_or(0);
    if (!(radius > 0)) radius = 16;
    return std::min(std::max(radius, 8.0), 24.0);
}

NotchInfo DropZoneView::notchInfo() const {
    const std::vector<platform::ScreenInfo> screens = services_.screens.screens();
    if (!screens.empty()) return NotchInfo::detect(screens.front());
    if (const auto main = services_.screens.mainScreen()) return NotchInfo::detect(*main);
    // No screen at all: no notch to hug.
    return {};
}

QList<QUrl> DropZoneView::acceptableFileURLs(const QMimeData* mime, Qt::DropActions possible) {
    QList<QUrl> files;
    if (!mime || !(possible & Qt::CopyAction) || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) files.append(url);
    return files;
}

DrawList DropZoneView::targetLayout() const {
    DrawList out;
    const double icon = iconHighlight_.value();
    const double border = borderHighlight_.value();

    const QFont labelFont = notchFont(14, QFont::Medium);
    const double iconSize = 36;
    DrawItem symbol;
    symbol.kind = DrawItem::Kind::symbol;
    symbol.key = QStringLiteral("drop.icon");
    symbol.symbol = QStringLiteral("arrow.down.doc.fill");
    symbol.frame = QRectF((zoneWidth - iconSize) / 2, 24, iconSize, iconSize);
    symbol.color = mix(whiteAt(0.7), systemBlue, icon);
    symbol.scale = 1.0 + 0.2 * icon;
    out.add(symbol);

    DrawItem label;
    label.kind = DrawItem::Kind::text;
    label.key = QStringLiteral("drop.label");
    label.text = L10n::pick(QStringLiteral("Drop files here"), QStringLiteral("ここにファイルをドロップ"));
    label.font = labelFont;
    label.color = whiteAt(0.8);
    label.alignment = Qt::AlignHCenter | Qt::AlignVCenter;
    label.frame = QRectF(0, 24 + iconSize + 12, zoneWidth, lineHeight(labelFont));
    out.add(label);

    DrawItem dashed;
    dashed.kind = DrawItem::Kind::stroke;
    dashed.key = QStringLiteral("drop.border");
    // Stroked inside the 16-point inset: the line's centre runs half its width further in.
    dashed.frame = QRectF(16, 16, zoneWidth - 32, zoneHeight - 32).adjusted(1, 1, -1, -1);
    dashed.lineWidth = 2;
    dashed.cornerRadius = 12;
    dashed.color = mix(whiteAt(0.3), systemBlue, border);
    out.add(dashed);
    return out;
}

void DropZoneView::setTargeted(bool targeted) {
    if (isTargeted_ == targeted) return;
    isTargeted_ = targeted;
    iconHighlight_.animate(targeted ? 1.0 : 0.0, platform::Animation::spring(0.3, 0.6, 0));
    borderHighlight_.animate(targeted ? 1.0 : 0.0, platform::Animation::easeInOut(0.2));
    update();
}

void DropZoneView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (appeared_) return;
    appeared_ = true;
    entrance_.animate(1.0, platform::Animation::spring(0.4, 0.7, 0));
}

void DropZoneView::dragEnterEvent(QDragEnterEvent* event) {
    if (picker_ || acceptableFileURLs(event->mimeData(), event->possibleActions()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    setTargeted(true);
}

void DropZoneView::dragMoveEvent(QDragMoveEvent* event) {
    if (picker_ || acceptableFileURLs(event->mimeData(), event->possibleActions()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropZoneView::dragLeaveEvent(QDragLeaveEvent* event) {
    setTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void DropZoneView::dropEvent(QDropEvent* event) {
    setTargeted(false);
    const QList<QUrl> files = picker_ ? QList<QUrl>() : acceptableFileURLs(event->mimeData(), event->possibleActions());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    // Always a copy: the source keeps its files.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    handleDrop(files);
}

void DropZoneView::handleDrop(const QList<QUrl>& urls) {
    droppedURLs_ = urls;
    services_.bus.dropEventSubject.send(urls);
    picker_ = new DropActionPicker(droppedURLs_, this, services_.perform, services_.scheduler);
    picker_->setGeometry(rect());
    setAcceptDrops(false);
    picker_->show();
    update();
}

QPainterPath DropZoneView::drawnOutline() const {
    if (entranceOpacity() <= 0) return {};
    const QRectF bounds(0, 0, zoneWidth, zoneHeight);
    const QPainterPath outline = NotchAwareShape{cornerRadius(), notchInfo()}.drawnArea(bounds, topLineInset);
    // As the entrance draws it, scaled about the centre.
    const QPointF centre = bounds.center();
    const double scale = entranceScale();
    return QTransform().translate(centre.x(), centre.y()).scale(scale, scale).translate(-centre.x(), -centre.y()).map(outline);
}

void DropZoneView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(0, 0, zoneWidth, zoneHeight);
    const QPointF centre = bounds.center();
    const double scale = entranceScale();
    painter.setOpacity(entranceOpacity());
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);

    QPainterPath outline = NotchAwareShape{cornerRadius(), notchInfo()}.path(bounds);
    outline.setFillRule(Qt::WindingFill);
    painter.save();
    painter.setClipPath(outline);
    painter.fillRect(bounds, Qt::black);
    if (!picker_) {
        DrawList layout = targetLayout();
        DrawItem border = *layout.find(QStringLiteral("drop.border"));
        layout.items.erase(std::remove_if(layout.items.begin(), layout.items.end(),
                                          [](const DrawItem& item) { return item.key == QLatin1String("drop.border"); }),
                           layout.items.end());
        layout.paint(painter);
        QPen pen(border.color, border.lineWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
        // Qt counts dashes in line widths: 8 on, 4 off in points.
        pen.setDashPattern({8 / border.lineWidth, 4 / border.lineWidth});
        pen.setMiterLimit(10);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(border.frame, border.cornerRadius, border.cornerRadius);
    }
    painter.restore();
    // The black line over the top edge hides the seam against the menu bar.
    painter.fillRect(QRectF(topLineInset, 0, zoneWidth - 2 * topLineInset, 1), Qt::black);
}
