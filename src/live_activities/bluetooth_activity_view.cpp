#include "live_activities/bluetooth_activity_view.h"

#include "core/format.h"
#include "core/log.h"
#include "notch/notch_drawing.h"
#include "platform/symbols/symbols.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

BluetoothActivityView::BluetoothActivityView(QWidget* parent, const LiveActivityEnvironment& environment)
    : LiveActivityView(environment, parent),
      iconScale_(0.5, scheduler()),
      iconBounce_(0.0, scheduler()),
      recordFade_(1.0, scheduler()) {
    redrawOnChange(iconScale_);
    redrawOnChange(iconBounce_);
    redrawOnChange(recordFade_);
}

QString BluetoothActivityView::symbolName(BluetoothDeviceCategory category) {
    switch (category) {
    case BluetoothDeviceCategory::appleWatch: return QStringLiteral("applewatch");
    case BluetoothDeviceCategory::airpods: return QStringLiteral("airpodspro");
    case BluetoothDeviceCategory::airpodsMax: return QStringLiteral("airpodsmax");
    case BluetoothDeviceCategory::headphones: return QStringLiteral("headphones");
    case BluetoothDeviceCategory::speaker: return QStringLiteral("hifispeaker.fill");
    case BluetoothDeviceCategory::other: break;
    }
    return QStringLiteral("dot.radiowaves.left.and.right");
}

BluetoothActivityView::ViewModel BluetoothActivityView::recordModel(const BluetoothDeviceInfo& info) {
    ViewModel model;
    model.symbolName = symbolName(info.category);
    const double side = iconFontSize * 1.15;  // a symbol's glyph box is a little taller than its font size
    model.iconFrame = QRectF(0, 0, side, side);
    model.iconFrame.moveCenter(ActivityBand{}.leftCell().center());
    if (info.batteryLevel) {
        model.levelText = QString::number(*info.batteryLevel);
        model.levelOpacity = 1.0;
        model.percentOpacity = 0.6;
    } else {
        model.levelText = QStringLiteral("--");
        model.levelOpacity = 0.35;
        model.percentOpacity = 0.25;
    }
    return model;
}

BluetoothActivityView::ViewModel BluetoothActivityView::viewModel() const {
    ViewModel model = recordModel(deviceInfo_);
    model.iconScale = iconScale_.value();
    model.iconBounce = iconBounce_.value();
    model.recordFade = recordFade_.value();
    return model;
}

void BluetoothActivityView::paintCells(QPainter& painter) const {
    const double fade = std::clamp(recordFade_.value(), 0.0, 1.0);
    if (fade >= 1.0) {
        paintRecord(painter, deviceInfo_, 1.0, true, true);
        return;
    }
    // Only what changed fades: an unchanged part stays at full strength.
    const ViewModel before = recordModel(previousInfo_);
    const ViewModel after = recordModel(deviceInfo_);
    const bool sameSymbol = before.symbolName == after.symbolName;
    const bool sameLevel = before.levelText == after.levelText && before.levelOpacity == after.levelOpacity;
    if (!sameSymbol) paintRecord(painter, previousInfo_, 1.0 - fade, true, false);
    if (!sameLevel) paintRecord(painter, previousInfo_, 1.0 - fade, false, true);
    paintRecord(painter, deviceInfo_, sameSymbol ? 1.0 : fade, true, false);
    paintRecord(painter, deviceInfo_, sameLevel ? 1.0 : fade, false, true);
}

void BluetoothActivityView::paintRecord(QPainter& painter, const BluetoothDeviceInfo& info, double opacity, bool symbol,
                                        bool level) const {
    if (opacity <= 0) return;
    const ViewModel model = recordModel(info);
    painter.save();
    painter.setOpacity(painter.opacity() * opacity);
    if (symbol) {
        painter.save();
        const QPointF centre = model.iconFrame.center();
        painter.translate(0, iconBounce_.value());
        painter.translate(centre);
        painter.scale(iconScale_.value(), iconScale_.value());
        painter.translate(-centre);
        platform::Symbols::draw(painter, model.symbolName, model.iconFrame, Qt::white);
        painter.restore();
    }
    if (level) {
        // The level and a small "%" side by side, centred in the right cell.
        const QRectF cell = band().rightCell();
        const QFont levelFont = notchFont(levelFontSize, QFont::Bold, true);
        const QFont percentFont = notchFont(percentFontSize, QFont::DemiBold, true);
        const QString percent = QStringLiteral("%");
        const double levelWidth = QFontMetricsF(levelFont).horizontalAdvance(model.levelText);
        const double percentWidth = QFontMetricsF(percentFont).horizontalAdvance(percent);
        const double left = cell.center().x() - (levelWidth + levelSpacing + percentWidth) / 2;
        painter.setFont(levelFont);
        painter.setPen(whiteAt(model.levelOpacity));
        painter.drawText(QRectF(left, cell.top(), levelWidth, cell.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         model.levelText);
        painter.setFont(percentFont);
        painter.setPen(whiteAt(model.percentOpacity));
        painter.drawText(QRectF(left + levelWidth + levelSpacing, cell.top(), percentWidth, cell.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, percent);
    }
    painter.restore();
}

void BluetoothActivityView::didAppear() {
    platform::withoutAnimation([&] {
        iconScale_.set(0.5);
        iconBounce_.set(0.0);
    });
    platform::withAnimation(platform::Animation::spring(0.4, 0.6, 0), [&] {
        iconScale_.set(1.0);
        iconBounce_.set(-1.5);
    }, {}, scheduler());
    scheduler().after(bounceSettleDelay, lifetime().wrap([this] { settleBounce(); }));
}

void BluetoothActivityView::didDismiss() {
    platform::withAnimation(platform::Animation::spring(0.35, 0.65, 0), [&] {
        iconBounce_.set(1.5);
        iconScale_.set(0.5);
    }, {}, scheduler());
    scheduler().after(bounceSettleDelay, lifetime().wrap([this] { settleBounce(); }));
}

void BluetoothActivityView::settleBounce() {
    platform::withAnimation(platform::Animation::easeOut(0.15), [&] { iconBounce_.set(0.0); }, {}, scheduler());
}

void BluetoothActivityView::didComeOnScreen() {
    const NotchInfo notch = notchInfo();
    Log::shared().info(QStringLiteral("BluetoothActivityView: notchInfo width=") + format::number(notch.width) +
                       QStringLiteral(", height=") + format::number(notch.height) + QStringLiteral(", hasSafeArea=") +
                       format::boolean(notch.hasSafeArea) + QStringLiteral(", spacer notchWidth=") +
                       format::number(band().notchWidth));
    syncDevice();
    deviceSubscription_ = bus().bluetoothDeviceSubject.sink(
        lifetime().wrap([this](const std::optional<BluetoothDeviceInfo>& device) {
            if (device) takeRecord(*device);
        }));
}

void BluetoothActivityView::didLeaveScreen() { deviceSubscription_.cancel(); }

void BluetoothActivityView::takeRecord(const BluetoothDeviceInfo& device) {
    if (device == deviceInfo_) return;
    previousInfo_ = deviceInfo_;
    deviceInfo_ = device;
    platform::withoutAnimation([&] { recordFade_.set(0.0); });
    platform::withAnimation(platform::Animation::easeInOut(recordAnimationDuration), [&] { recordFade_.set(1.0); }, {},
                            scheduler());
    update();
}

void BluetoothActivityView::syncDevice() {
    if (const auto& device = bus().bluetoothDeviceSubject.value()) {
        deviceInfo_ = *device;
        update();
    }
}
