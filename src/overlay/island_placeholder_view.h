#pragma once

// A plain stand-in content for overlay panels: a black capsule inset by the render padding. The
// window controller hosts it until it is given the real overlay view.

#include <QWidget>

class IslandPlaceholderView : public QWidget {
    Q_OBJECT

public:
    explicit IslandPlaceholderView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
