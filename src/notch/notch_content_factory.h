#pragma once

// The seam through which the notch container makes the content of each mode. The mini player and
// the expanded notch are made here; the other views live in folders that build on this one, so
// whoever starts the notch features installs them in `standard()` before the container is
// created. A maker left empty gives an empty placeholder view.

#include "core/notch_records.h"

#include <QString>
#include <QWidget>

#include <functional>

// Stands where a mode's own view is not installed: draws nothing.
class NotchPlaceholderView : public QWidget {
    Q_OBJECT

public:
    explicit NotchPlaceholderView(const QString& name, QWidget* parent = nullptr);
    const QString& name() const { return name_; }

private:
    QString name_;
};

struct NotchContentFactory {
    using Maker = std::function<QWidget*(QWidget* parent)>;

    std::function<QWidget*(LiveActivityType type, QWidget* parent)> liveActivity;
    // Hands a new type to the live-activity view in place (it decides how its content changes).
    std::function<void(QWidget* view, LiveActivityType type)> updateLiveActivity;
    Maker miniPlayer;
    Maker expanded;
    Maker glance;
    Maker drop;
    Maker switcher;

    // The process-wide makers: the mini player and the expanded notch; empty for the rest until installed.
    static NotchContentFactory& standard();

    // Each maker, or a placeholder named after the mode where it is empty.
    QWidget* makeLiveActivity(LiveActivityType type, QWidget* parent) const;
    QWidget* makeMiniPlayer(QWidget* parent) const;
    QWidget* makeExpanded(QWidget* parent) const;
    QWidget* makeGlance(QWidget* parent) const;
    QWidget* makeDrop(QWidget* parent) const;
    QWidget* makeSwitcher(QWidget* parent) const;
};
