#pragma once

// The notch's content in drop mode: a target for files dragged onto the notch. A drop that brings
// at least one file goes on the bus once and is replaced, for good, by the action picker.

#include "core/event_bus.h"
#include "core/notch_info.h"
#include "drop/drop_action_picker.h"
#include "notch/notch_aware_shape.h"
#include "notch/notch_drawing.h"
#include "platform/animation/animation.h"
#include "platform/runtime/dispatch.h"
#include "platform/screens/screens.h"
#include "platform/storage/defaults.h"

#include <QList>
#include <QUrl>
#include <QWidget>

class QMimeData;

struct DropZoneServices {
    EventBus& bus = EventBus::shared();
    platform::Scheduler& scheduler = platform::Scheduler::shared();
    platform::Defaults& defaults = platform::Defaults::standard();
    platform::Screens& screens = platform::Screens::shared();
    // What the picker's taps do; empty: the shared drop service.
    DropActionPicker::Perform perform;
};

class DropZoneView : public QWidget, public NotchOutlinedView {
    Q_OBJECT

public:
    static constexpr double zoneWidth = 340;
    static constexpr double zoneHeight = 180;

    explicit DropZoneView(QWidget* parent = nullptr, DropZoneServices services = {});

    bool isTargeted() const { return isTargeted_; }
    const QList<QUrl>& droppedURLs() const { return droppedURLs_; }
    bool showActionPicker() const { return picker_ != nullptr; }
    DropActionPicker* picker() const { return picker_; }
    bool appeared() const { return appeared_; }
    double entranceScale() const { return 0.85 + 0.15 * entrance_.value(); }
    double entranceOpacity() const { return std::clamp(entrance_.value(), 0.0, 1.0); }

    // The stored corner radius: missing, zero or less gives 16; then clamped to 8...24.
    static double cornerRadius(const platform::Defaults& defaults);
    double cornerRadius() const { return cornerRadius(services_.defaults); }
    NotchInfo notchInfo() const;
    QPainterPath drawnOutline() const override;

    // The file URLs a drag offers, when it may be copied; empty otherwise (a source that only
    // lets its files be moved would delete them after the drop).
    static QList<QUrl> acceptableFileURLs(const QMimeData* mime, Qt::DropActions possible);
    // The drop target's drawing (icon, label, dashed border) at the current highlight.
    DrawList targetLayout() const;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void setTargeted(bool targeted);
    void handleDrop(const QList<QUrl>& urls);

    DropZoneServices services_;
    bool isTargeted_ = false;
    bool appeared_ = false;
    QList<QUrl> droppedURLs_;
    DropActionPicker* picker_ = nullptr;
    platform::Animated<double> entrance_;
    platform::Animated<double> iconHighlight_;
    platform::Animated<double> borderHighlight_;
    std::vector<platform::AnyCancellable> redraws_;
};
