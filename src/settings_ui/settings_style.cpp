#include "settings_style.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

QColor SettingsStyle::systemGreen() { return QColor(52, 199, 89); }
QColor SettingsStyle::systemOrange() { return QColor(255, 149, 0); }
QColor SettingsStyle::systemYellow() { return QColor(255, 204, 0); }
QColor SettingsStyle::systemRed() { return QColor(255, 59, 48); }
QColor SettingsStyle::systemGray() { return QColor(142, 142, 147); }
QColor SettingsStyle::systemBlack() { return QColor(0, 0, 0); }

QColor SettingsStyle::accent(const QWidget* widget) { return widget->palette().color(QPalette::Highlight); }

QColor SettingsStyle::primary(const QWidget* widget, double opacity) {
    QColor color = widget->palette().color(QPalette::WindowText);
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

QColor SettingsStyle::secondary(const QWidget* widget) { return primary(widget, 0.55); }

QColor SettingsStyle::secondaryOf(QColor primary) {
    primary.setAlphaF(static_cast<float>(primary.alphaF() * 0.55));
    return primary;
}

QColor SettingsStyle::controlBackground(const QWidget* widget) { return widget->palette().color(QPalette::Base); }

QFont SettingsStyle::systemFont(double size, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(static_cast<int>(size));
    font.setWeight(weight);
    return font;
}
