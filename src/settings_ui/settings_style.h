#pragma once

#include <QColor>
#include <QFont>

class QWidget;

// The colours and fonts every settings tab shares, so the tabs never keep copies of their own.
// Sizes are in points (Qt's device-independent pixels). The fixed system colours match the
// platform's light-appearance values; the palette-derived ones follow light and dark.
class SettingsStyle {
public:
    SettingsStyle() = delete;

    static QColor systemGreen();
    static QColor systemOrange();
    static QColor systemYellow();
    static QColor systemRed();
    static QColor systemGray();
    static QColor systemBlack();

    static QColor accent(const QWidget* widget);
    static QColor primary(const QWidget* widget, double opacity = 1.0);
    static QColor secondary(const QWidget* widget);
    // The secondary colour that goes with the primary colour `primary`.
    static QColor secondaryOf(QColor primary);
    // The fill behind a card.
    static QColor controlBackground(const QWidget* widget);

    // The system font at `size` points and `weight`.
    static QFont systemFont(double size, QFont::Weight weight = QFont::Normal);
};
