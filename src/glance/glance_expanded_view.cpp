#include "glance/glance_expanded_view.h"

#include "core/app_settings.h"
#include "core/l10n.h"
#include "glance/weather_card_view.h"
#include "notch/notch_aware_shape.h"
#include "platform/dates/date_format.h"

#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

namespace {

constexpr double horizontalPadding = 12;
constexpr double bottomPadding = 12;
constexpr double topLineInset = 6;
constexpr double rowSpacing = 4;

}  // namespace

double CalendarEventRow::height() {
    const double texts = lineHeight(notchFont(11, QFont::Medium)) + 1 + lineHeight(notchFont(9, QFont::Normal));
    return std::max(24.0, texts) + 4;
}

QString CalendarEventRow::timeText(const QTimeZone& zone, const QLocale& locale) const {
    if (event.isAllDay) return L10n::pick(QStringLiteral("All Day"), QStringLiteral("終日"));
    const QString pattern = QStringLiteral("HH:mm");
    return platform::DateFormat::formatPattern(event.startDate, pattern, locale, zone) + QStringLiteral(" - ") +
           platform::DateFormat::formatPattern(event.endDate, pattern, locale, zone);
}

DrawList CalendarEventRow::layout(double width, const QTimeZone& zone, const QLocale& locale) const {
    DrawList out;
    const double h = height();
    out.add(fillItem(QStringLiteral("row.background"), QRectF(0, 0, width, h), whiteAt(0.05), 4));
    const auto& c = event.calendarColor;
    out.add(fillItem(QStringLiteral("row.bar"), QRectF(4, (h - 24) / 2, 3, 24),
                     QColor::fromRgbF(static_cast<float>(std::clamp(c.red, 0.0, 1.0)),
                                      static_cast<float>(std::clamp(c.green, 0.0, 1.0)),
                                      static_cast<float>(std::clamp(c.blue, 0.0, 1.0))),
                     2));
    const QFont titleFont = notchFont(11, QFont::Medium);
    const QFont timeFont = notchFont(9, QFont::Normal);
    const double textX = 4 + 3 + 6;
    const double textW = std::max(0.0, width - textX - 4);
    const double textsH = lineHeight(titleFont) + 1 + lineHeight(timeFont);
    const double y = (h - textsH) / 2;
    out.add(textItem(QStringLiteral("row.title"), event.title, QRectF(textX, y, textW, lineHeight(titleFont)), titleFont,
                     QColor(Qt::white), Qt::AlignLeft | Qt::AlignVCenter));
    out.add(textItem(QStringLiteral("row.time"), timeText(zone, locale),
                     QRectF(textX, y + lineHeight(titleFont) + 1, textW, lineHeight(timeFont)), timeFont, whiteAt(0.5),
                     Qt::AlignLeft | Qt::AlignVCenter));
    return out;
}

GlanceExpandedView::GlanceExpandedView(QWidget* parent, GlanceViewServices services)
    : QWidget(parent), services_(std::move(services)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(static_cast<int>(panelWidth), static_cast<int>(panelHeight));
}

double GlanceExpandedView::cornerRadius(platform::Defaults& defaults) {
    return AppSettings(&defaults).dynamicIslandCornerRadius();
}

NotchInfo GlanceExpandedView::notchInfo() const {
    const std::vector<platform::ScreenInfo> screens = services_.screens.screens();
    if (!screens.empty()) return NotchInfo::detect(screens.front());
    if (const auto main = services_.screens.mainScreen()) return NotchInfo::detect(*main);
    return {};
}

QLocale GlanceExpandedView::locale() const { return services_.locale ? services_.locale() : QLocale::system(); }
QTimeZone GlanceExpandedView::timeZone() const {
    return services_.timeZone ? services_.timeZone() : QTimeZone::systemTimeZone();
}

void GlanceExpandedView::subscribe() {
    if (!cancellables_.empty()) return;
    cancellables_.insert(services_.bus.calendarEventsSubject.receiveOnMain(&services_.scheduler)
                             .sink([this](const QList<CalendarEvent>& events) {
                                 events_ = events;
                                 scrollBy(0);
                                 update();
                             }));
    cancellables_.insert(services_.bus.weatherInfoSubject.receiveOnMain(&services_.scheduler)
                             .sink([this](const std::optional<WeatherInfo>& weather) {
                                 weatherInfo_ = weather;
                                 update();
                             }));
    cancellables_.insert(services_.bus.weatherLocationUnavailableSubject.receiveOnMain(&services_.scheduler)
                             .sink([this](bool unavailable) {
                                 weatherLocationUnavailable_ = unavailable;
                                 update();
                             }));
}

void GlanceExpandedView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    subscribe();
}

void GlanceExpandedView::calendarSection(GlancePanelDrawing& out, const QRectF& column,
                                         std::optional<double> onlyInSightAt) const {
    const QFont headerFont = notchFont(10, QFont::Medium);
    const double headerH = lineHeight(headerFont);
    out.surface.add(symbolItem(QStringLiteral("glance.events.icon"), QStringLiteral("calendar"),
                               QRectF(column.left(), column.top() + (headerH - 10) / 2, 10, 10), whiteAt(0.6)));
    out.surface.add(textItem(QStringLiteral("glance.events.title"), L10n::pick(QStringLiteral("Events"), QStringLiteral("予定")),
                             QRectF(column.left() + 14, column.top(), column.width() - 14, headerH), headerFont, whiteAt(0.6),
                             Qt::AlignLeft | Qt::AlignVCenter));
    const double listTop = column.top() + headerH + 2 + rowSpacing;
    const QRectF list(column.left(), listTop, column.width(), std::max(0.0, column.bottom() - listTop));

    if (events_.isEmpty()) {
        const QFont font = notchFont(12, QFont::Normal);
        out.surface.add(textItem(QStringLiteral("glance.events.empty"), L10n::pick(QStringLiteral("No events"), QStringLiteral("予定なし")),
                                 QRectF(list.left(), list.center().y() - lineHeight(font) / 2, list.width(), lineHeight(font)),
                                 font, whiteAt(0.4), Qt::AlignCenter));
        return;
    }
    out.eventsViewport = list;
    const QTimeZone zone = timeZone();
    const QLocale loc = locale();
    const double rowH = CalendarEventRow::height();
    double y = 0;
    for (qsizetype i = 0; i < events_.size(); ++i) {
        const bool inSight = !onlyInSightAt || (y + rowH > *onlyInSightAt && y < *onlyInSightAt + list.height());
        if (!inSight) {
            y += rowH + (i + 1 < events_.size() ? rowSpacing : 0);
            continue;
        }
        DrawList row = CalendarEventRow{events_[i]}.layout(list.width(), zone, loc);
        for (DrawItem& item : row.items) item.key = QStringLiteral("glance.event.%1.").arg(i) + item.key;
        out.eventRows.append(row, 0, y);
        y += rowH + (i + 1 < events_.size() ? rowSpacing : 0);
    }
    out.eventsHeight = y;
}

void GlanceExpandedView::weatherSection(DrawList& out, const QRectF& column) const {
    if (weatherInfo_) {
        out.append(WeatherCardView::layout(*weatherInfo_, column.size(), timeZone(), locale()), column.left(),
                   column.top());
        return;
    }
    const QFont font = notchFont(10, QFont::Normal);
    const double contentH = 24 + 8 + lineHeight(font);
    const double y = column.center().y() - contentH / 2;
    out.add(symbolItem(QStringLiteral("glance.weather.placeholderIcon"), QStringLiteral("cloud.fill"),
                       QRectF(column.center().x() - 12, y, 24, 24), whiteAt(0.3)));
    // No location can come: say so rather than wait for ever.
    const QString text = weatherLocationUnavailable_
                             ? L10n::pick(QStringLiteral("Location unavailable"), QStringLiteral("現在地を取得できません"))
                             : L10n::pick(QStringLiteral("Loading..."), QStringLiteral("取得中..."));
    out.add(textItem(QStringLiteral("glance.weather.loading"), text,
                     QRectF(column.left(), y + 24 + 8, column.width(), lineHeight(font)), font, whiteAt(0.3), Qt::AlignCenter));
}

GlancePanelDrawing GlanceExpandedView::layout(std::optional<double> onlyInSightAt) const {
    GlancePanelDrawing out;
    const QRectF content(horizontalPadding, topPadding(notchInfo()), panelWidth - 2 * horizontalPadding,
                         std::max(0.0, panelHeight - topPadding(notchInfo()) - bottomPadding));
    const double calendarW = std::max(0.0, content.width() - 1 - weatherColumnWidth);
    calendarSection(out, QRectF(content.left(), content.top(), std::max(0.0, calendarW - 8), content.height()),
                    onlyInSightAt);
    out.surface.add(fillItem(QStringLiteral("glance.divider"),
                             QRectF(content.left() + calendarW, content.top() + 12, 1, std::max(0.0, content.height() - 24)),
                             whiteAt(0.15), 0));
    weatherSection(out.surface, QRectF(content.right() - weatherColumnWidth + 8, content.top(), weatherColumnWidth - 8,
                                       content.height()));
    return out;
}

void GlanceExpandedView::scrollBy(double dy) {
    const GlancePanelDrawing drawing = layout(scrollOffset_);
    const double maxOffset = std::max(0.0, drawing.eventsHeight - drawing.eventsViewport.height());
    scrollOffset_ = std::clamp(scrollOffset_ + dy, 0.0, maxOffset);
}

void GlanceExpandedView::wheelEvent(QWheelEvent* event) {
    const double before = scrollOffset_;
    const QPoint pixels = event->pixelDelta();
    scrollBy(pixels.isNull() ? -event->angleDelta().y() / 4.0 : -pixels.y());
    if (scrollOffset_ != before) update();
    event->accept();
}

QPainterPath GlanceExpandedView::drawnOutline() const {
    return NotchAwareShape{cornerRadius(), notchInfo()}.drawnArea(QRectF(0, 0, panelWidth, panelHeight), topLineInset);
}

void GlanceExpandedView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(0, 0, panelWidth, panelHeight);
    QPainterPath outline = NotchAwareShape{cornerRadius(), notchInfo()}.path(bounds);
    outline.setFillRule(Qt::WindingFill);
    painter.save();
    painter.setClipPath(outline);
    painter.fillRect(bounds, Qt::black);
    // The heads-up material seen through at 0.3: a faint lift of the black.
    painter.fillRect(bounds, QColor::fromRgbF(0.12f, 0.12f, 0.13f, 0.3f));
    const GlancePanelDrawing drawing = layout(scrollOffset_);
    drawing.surface.paint(painter);
    if (!drawing.eventsViewport.isEmpty()) {
        painter.save();
        painter.setClipRect(drawing.eventsViewport, Qt::IntersectClip);
        painter.translate(drawing.eventsViewport.left(), drawing.eventsViewport.top() - scrollOffset_);
        drawing.eventRows.paint(painter);
        painter.restore();
    }
    painter.restore();
    painter.fillRect(QRectF(topLineInset, 0, panelWidth - 2 * topLineInset, 1), Qt::black);
}
