#pragma once

// The small window that asks which paired Bluetooth device gets the dropped files, where the
// desktop has no send tool of its own.

#include "platform/sharing/nearby_device_chooser.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QListWidget;

// One dialog per request, not modal: the notch and the rest stay live while it is open.
class BluetoothDeviceChooser final : public platform::NearbyDeviceChooser {
public:
    void choose(const std::vector<platform::NearbyDevice>& devices, int fileCount, Done done) override;
};

class BluetoothDeviceDialog final : public QDialog {
    Q_OBJECT
public:
    BluetoothDeviceDialog(const std::vector<platform::NearbyDevice>& devices, int fileCount, QWidget* parent = nullptr);

    // The address of the selected device; none without a selection.
    std::optional<QString> selectedAddress() const;
    QListWidget* deviceList() const { return list_; }
    QDialogButtonBox* buttons() const { return buttons_; }

private:
    QLabel* prompt_;
    QListWidget* list_;
    QDialogButtonBox* buttons_;
};
