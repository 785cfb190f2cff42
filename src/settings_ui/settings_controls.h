#pragma once

// The small controls the settings tabs are made of. None of them writes a setting: each reports
// the user's gesture through a callback, and a tab shows a stored value by setting it here,
// which reports nothing.

#include "settings_binding.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QColor>
#include <QScrollArea>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QVBoxLayout;

// A system symbol drawn centred in a frame of fixed width.
class SymbolView final : public QWidget {
    Q_OBJECT

public:
    enum class Tone { accent, secondary };

    SymbolView(const QString& name, double size, Tone tone, int frameWidth, QWidget* parent = nullptr);
    QString symbolName() const { return name_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_;
    double size_;
    Tone tone_;
    int frameWidth_;
};

// A labelled switch: the label at the leading edge, the switch at the trailing edge, stretching
// across the space it is given. Only a click changes it and emits clicked(bool).
class SwitchToggle final : public QAbstractButton {
    Q_OBJECT

public:
    enum class Size { regular, small };

    explicit SwitchToggle(const QString& label, Size size = Size::regular, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // Shows `on` without reporting it.
    void showValue(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSizeF trackSize() const;
    Size size_;
};

// A button in the prominent bordered style: a rounded fill of the accent colour with the title in
// the accent's text colour, both read from the live palette when drawn.
class ProminentButton final : public QPushButton {
    Q_OBJECT

public:
    explicit ProminentButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A segmented picker: one segment per choice, at most one of them selected. Selection is only
// shown (setSelectedIndex); a click reports the segment through onChosen and changes nothing
// by itself, so a value no segment knows can stay unselected.
class SegmentedPicker final : public QWidget {
    Q_OBJECT

public:
    // A swatch shows as a 10-point circle before the title.
    using Segment = SettingsChoice;

    explicit SegmentedPicker(const QString& label, QWidget* parent = nullptr);

    void setLabel(const QString& label);
    QString label() const { return label_; }
    void setSegments(std::vector<Segment> segments);
    const std::vector<Segment>& segments() const { return segments_; }
    void setSelectedIndex(std::optional<int> index);
    std::optional<int> selectedIndex() const { return selected_; }
    QRect segmentRect(int index) const;

    // What the user's click on a segment does.
    std::function<void(int)> onChosen;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int labelWidth() const;
    int segmentWidth() const;

    QString label_;
    std::vector<Segment> segments_;
    std::optional<int> selected_;
};

// A control that a turn of the mouse wheel would change (a slider, a spin box) takes the wheel
// only once the user has focused it, by a click or Tab; otherwise the wheel scrolls the page
// under it, and the page's settings stay as they are. (A segmented picker never takes the wheel.)
void takeWheelOnlyWhenFocused(QWidget* control);

// The page of a settings tab: a vertical scroll view, its indicator shown, around a column
// aligned to the leading edge with 16 points between cards and 20 points of padding.
class SettingsPage : public QScrollArea {
    Q_OBJECT

public:
    explicit SettingsPage(QWidget* parent = nullptr);
    // A card whose content stretches spans the page; any other keeps its own width.
    void addCard(QWidget* card);
    QVBoxLayout* column() const { return column_; }

private:
    QVBoxLayout* column_;
};

// The palette's text colours. A text in one of them follows every palette change (light and dark).
enum class TextTone { primary, secondary };

// Plain texts, shown exactly as given: in a tone of the live palette, or in a fixed colour.
QLabel* makeSettingsText(const QString& text, double size, QFont::Weight weight, TextTone tone,
                         QWidget* parent = nullptr);
QLabel* makeSettingsText(const QString& text, double size, QFont::Weight weight, const QColor& color,
                         QWidget* parent = nullptr);
// A block header: 13 points, semibold.
QLabel* makeBlockHeader(const QString& text, QWidget* parent);
// A note under a control: 11 points, secondary colour.
QLabel* makeNote(const QString& text, QWidget* parent);
QWidget* makeDivider(QWidget* parent);
// A block: a column aligned to the leading edge with 8 points of spacing.
QVBoxLayout* makeBlock(QWidget* block);
