#pragma once

// What the glance panel shows: calendar events and the weather.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

struct CalendarEvent {
    struct CalendarColor {
        double red = 0;  // each 0-1
        double green = 0;
        double blue = 0;
        friend bool operator==(const CalendarColor&, const CalendarColor&) = default;
    };

    QString id;  // the calendar store's identifier (a fresh UUID text when it has none)
    QString title;
    QString calendarTitle;
    QDateTime startDate;
    QDateTime endDate;
    bool isAllDay = false;
    CalendarColor calendarColor;
    std::optional<QString> location;

    // Every field counts: a moved end or a new location is a change the panel must show.
    friend bool operator==(const CalendarEvent&, const CalendarEvent&) = default;
};

struct WeatherInfo {
    struct HourlyWeather {
        QUuid id;  // list identity only; a fresh one for each item built
        QDateTime hour;
        double temperature = 0;
        int conditionCode = 0;
        QString iconName;  // system symbol name

        // Forecasts rebuilt for the same hour and temperature are the same forecast.
        friend bool operator==(const HourlyWeather& a, const HourlyWeather& b) {
            return a.hour == b.hour && a.temperature == b.temperature;
        }
    };

    double temperature = 0;
    int conditionCode = 0;
    QString conditionDescription;
    QString iconName;  // system symbol name
    QList<HourlyWeather> hourlyForecast;  // earliest first

    friend bool operator==(const WeatherInfo&, const WeatherInfo&) = default;
};
