#pragma once

// The card that shows one weather record: symbol, rounded temperature, condition and, when there
// are any, up to three coming hours. It has no frame of its own: it fills what it is given. The
// glance panel draws it into its own surface; the widget is for showing it alone.

#include "core/glance_records.h"
#include "notch/notch_drawing.h"

#include <QLocale>
#include <QSizeF>
#include <QTimeZone>
#include <QWidget>

class WeatherCardView : public QWidget {
    Q_OBJECT

public:
    explicit WeatherCardView(WeatherInfo weather, QWidget* parent = nullptr);

    const WeatherInfo& weather() const { return weather_; }

    // The card at `size`, in its own coordinates. Hours are labelled in `zone`.
    static DrawList layout(const WeatherInfo& weather, const QSizeF& size,
                           const QTimeZone& zone = QTimeZone::systemTimeZone(),
                           const QLocale& locale = QLocale::system());
    // 21.5 -> "22°", -0.4 -> "0°", -2.5 -> "-3°".
    static QString temperatureText(double temperature);
    // "9:05", "0:00".
    static QString hourText(const QDateTime& hour, const QTimeZone& zone = QTimeZone::systemTimeZone(),
                            const QLocale& locale = QLocale::system());

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    WeatherInfo weather_;
};
