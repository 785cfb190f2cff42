#pragma once

// The notch's glance panel: the calendar events on the left, the weather card on the right, in a
// fixed 380 by 200 surface hanging from the notch. It shows only what the bus carries.

#include "core/event_bus.h"
#include "core/glance_records.h"
#include "core/notch_info.h"
#include "notch/notch_aware_shape.h"
#include "notch/notch_drawing.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/screens/screens.h"
#include "platform/storage/defaults.h"

#include <QLocale>
#include <QTimeZone>
#include <QWidget>

#include <functional>
#include <optional>

struct GlanceViewServices {
    EventBus& bus = EventBus::shared();
    platform::Scheduler& scheduler = platform::Scheduler::shared();
    platform::Defaults& defaults = platform::Defaults::standard();
    platform::Screens& screens = platform::Screens::shared();
    // The user's locale and time zone, read at each use; empty: the system's.
    std::function<QLocale()> locale;
    std::function<QTimeZone()> timeZone;
};

// One event: colour bar, title and time line.
struct CalendarEventRow {
    CalendarEvent event;

    // max(bar, title + time) + vertical padding.
    static double height();
    // "All Day", or "09:00 - 10:30" in `zone`.
    QString timeText(const QTimeZone& zone = QTimeZone::systemTimeZone(), const QLocale& locale = QLocale::system()) const;
    DrawList layout(double width, const QTimeZone& zone, const QLocale& locale) const;
};

struct GlancePanelDrawing {
    DrawList surface;      // everything but the event rows
    DrawList eventRows;    // in scroll-content coordinates, moved into place by the scroll offset
    QRectF eventsViewport; // where the rows show; empty without events
    double eventsHeight = 0;
};

class GlanceExpandedView : public QWidget, public NotchOutlinedView {
    Q_OBJECT

public:
    static constexpr double panelWidth = 380;
    static constexpr double panelHeight = 200;
    static constexpr double weatherColumnWidth = 150;

    explicit GlanceExpandedView(QWidget* parent = nullptr, GlanceViewServices services = {});

    const QList<CalendarEvent>& events() const { return events_; }
    const std::optional<WeatherInfo>& weatherInfo() const { return weatherInfo_; }

    // The stored corner radius: missing, zero or less gives 16; then clamped to 8...24.
    static double cornerRadius(platform::Defaults& defaults);
    double cornerRadius() const { return cornerRadius(services_.defaults); }
    // The notch of the first screen (the main one when the list is empty).
    NotchInfo notchInfo() const;
    QPainterPath drawnOutline() const override;
    // Notch height + 4 under a notch, else 8.
    static double topPadding(const NotchInfo& notch) { return notch.height > 0 ? notch.height + 4 : 8; }

    // Every row of the list; with `onlyInSightAt`, only the rows seen at that scroll offset (the
    // others keep their place but are not built).
    GlancePanelDrawing layout(std::optional<double> onlyInSightAt = std::nullopt) const;
    double scrollOffset() const { return scrollOffset_; }
    void scrollBy(double dy);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void subscribe();
    void calendarSection(GlancePanelDrawing& out, const QRectF& column, std::optional<double> onlyInSightAt) const;
    void weatherSection(DrawList& out, const QRectF& column) const;
    QLocale locale() const;
    QTimeZone timeZone() const;

    GlanceViewServices services_;
    QList<CalendarEvent> events_;
    std::optional<WeatherInfo> weatherInfo_;
    bool weatherLocationUnavailable_ = false;
    platform::CancellableSet cancellables_;
    double scrollOffset_ = 0;
};
