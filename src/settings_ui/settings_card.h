#pragma once

// The building blocks of every settings tab: a titled card and two kinds of row. They show the
// texts they are given as they are (the tab has already chosen the language) and hold no state.

#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QVBoxLayout;

// A rounded panel with a symbol, a title, an optional subtitle and content below, indented so it
// lines up with the title.
class SettingsCard final : public QWidget {
    Q_OBJECT

public:
    static constexpr int spacing = 12;
    static constexpr int padding = 16;
    static constexpr int headerSpacing = 10;
    static constexpr int symbolFrameWidth = 20;
    static constexpr int contentIndent = symbolFrameWidth + headerSpacing;
    static constexpr double cornerRadius = 14;

    SettingsCard(const QString& title, const std::optional<QString>& subtitle, const QString& icon,
                 QWidget* parent = nullptr);

    // Where the content goes: a column aligned to the leading edge, 12 points apart.
    QVBoxLayout* body() const { return body_; }
    void addContent(QWidget* widget);

    QLabel* titleLabel() const { return title_; }
    // Absent when the subtitle was absent or empty.
    QLabel* subtitleLabel() const { return subtitle_; }
    // Replaces the texts (a language change); an empty subtitle removes the line.
    void setTexts(const QString& title, const std::optional<QString>& subtitle);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* titles_;
    QLabel* title_;
    QLabel* subtitle_ = nullptr;
    QVBoxLayout* body_;
};

// One line stating a permission or a service: title and detail, a coloured badge, and a button
// only when both its title and its action are given.
class PermissionStatusRow final : public QWidget {
    Q_OBJECT

public:
    PermissionStatusRow(const QString& title, const QString& detail, const QString& badge, const QColor& tone,
                        const std::optional<QString>& buttonTitle = std::nullopt,
                        std::function<void()> action = nullptr, QWidget* parent = nullptr);

    QWidget* badge() const { return badge_; }
    QPushButton* button() const { return button_; }

private:
    QWidget* badge_;
    QPushButton* button_ = nullptr;
};

// A dim label at the leading edge and a slightly bold value at the trailing edge.
class SettingsKeyValueRow final : public QWidget {
    Q_OBJECT

public:
    SettingsKeyValueRow(const QString& label, const QString& value, QWidget* parent = nullptr);

    QLabel* labelLabel() const { return label_; }
    QLabel* valueLabel() const { return value_; }

private:
    QLabel* label_;
    QLabel* value_;
};
