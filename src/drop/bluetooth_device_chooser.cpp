#include "drop/bluetooth_device_chooser.h"

#include "core/l10n.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

namespace {

QString promptFor(int fileCount) {
    const QString count = QString::number(fileCount);
    return L10n::pick(fileCount == 1 ? QStringLiteral("Send 1 file to:") : QStringLiteral("Send %1 files to:").arg(count),
                      QStringLiteral("%1個のファイルの送信先:").arg(count));
}

}  // namespace

BluetoothDeviceDialog::BluetoothDeviceDialog(const std::vector<platform::NearbyDevice>& devices, int fileCount,
                                             QWidget* parent)
    : QDialog(parent), prompt_(new QLabel(promptFor(fileCount))), list_(new QListWidget),
      buttons_(new QDialogButtonBox) {
    setObjectName(QStringLiteral("BluetoothDeviceDialog"));
    setWindowTitle(L10n::pick(QStringLiteral("Send with Bluetooth"), QStringLiteral("Bluetoothで送信")));
    QHash<QString, int> names;
    for (const auto& device : devices) ++names[device.name];
    for (const auto& device : devices) {
        // Two devices of one name are told apart by their addresses.
        const QString text = names.value(device.name) > 1 && device.name != device.address
                                 ? device.name + QStringLiteral(" (") + device.address + QLatin1Char(')')
                                 : device.name;
        auto* item = new QListWidgetItem(text, list_);
        item->setData(Qt::UserRole, device.address);
        item->setToolTip(device.address);
    }
    list_->setCurrentRow(0);
    QPushButton* send =
        buttons_->addButton(L10n::pick(QStringLiteral("Send"), QStringLiteral("送信")), QDialogButtonBox::AcceptRole);
    buttons_->addButton(L10n::pick(QStringLiteral("Cancel"), QStringLiteral("キャンセル")), QDialogButtonBox::RejectRole);
    send->setDefault(true);
    send->setEnabled(list_->currentItem() != nullptr);
    connect(list_, &QListWidget::currentItemChanged, send, [send](QListWidgetItem* current) { send->setEnabled(current); });
    connect(list_, &QListWidget::itemActivated, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt_);
    layout->addWidget(list_);
    layout->addWidget(buttons_);
    resize(320, 240);
}

std::optional<QString> BluetoothDeviceDialog::selectedAddress() const {
    const QListWidgetItem* item = list_->currentItem();
    if (!item) return std::nullopt;
    return item->data(Qt::UserRole).toString();
}

void BluetoothDeviceChooser::choose(const std::vector<platform::NearbyDevice>& devices, int fileCount, Done done) {
    auto* dialog = new BluetoothDeviceDialog(devices, fileCount);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto answer = std::make_shared<Done>(std::move(done));
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answer](int result) {
        const std::optional<QString> address =
            result == QDialog::Accepted ? dialog->selectedAddress() : std::optional<QString>();
        if (auto fn = std::exchange(*answer, nullptr)) fn(address);
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}
