#pragma once

// Sending files to nearby devices over Bluetooth: Object Push through obexd, to a paired device.

#include "platform/dbus/dbus_connection.h"
#include "platform/process/child_process.h"
#include "platform/runtime/dispatch.h"
#include "platform/sharing/nearby_device_chooser.h"
#include "platform/sharing/sharing_service.h"

#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace platform {

// The nearby-sending service exists while obexd is on the session bus (or starts there on
// demand) and BlueZ has a powered adapter. The desktop's own send tool, where one is installed,
// takes the files and lets the user choose among its devices; otherwise the user chooses one of
// the paired devices that offer Object Push, and the files go to it one after another.
struct ObexSharingConfig {
    // The desktop's send tools, in order of preference: the first one installed is used.
    QStringList desktopSenders{QStringLiteral("/usr/bin/bluetooth-sendto"), QStringLiteral("/usr/bin/blueman-sendto")};
    // How often a running tool is checked for its end (it is reaped then).
    double toolPollInterval = 2.0;
};

class ObexSharingServices final : public SharingServices {
public:
    using Config = ObexSharingConfig;

    // Asked while the user waits for the action: kept short.
    static constexpr DBusConnection::Timeout lookupTimeout{1000};

    // No chooser or scheduler: the shared one at the moment of use.
    explicit ObexSharingServices(DBusConnection& sessionBus = DBusConnection::session(),
                                 DBusConnection& systemBus = DBusConnection::system(),
                                 ProcessLauncher& launcher = ProcessLauncher::system(),
                                 NearbyDeviceChooser* chooser = nullptr, Scheduler* scheduler = nullptr, Config config = {});
    ~ObexSharingServices() override;
    ObexSharingServices(const ObexSharingServices&) = delete;
    ObexSharingServices& operator=(const ObexSharingServices&) = delete;

    // Only `sendViaAirDrop` is known; null without obexd or a powered adapter. Blocks for at
    // most a few short lookups.
    std::shared_ptr<SharingService> service(const QString& name) override;

    // What BlueZ's managed objects say: whether an adapter is powered, and the paired devices
    // offering Object Push (named by their alias, else name, else address), sorted by name.
    struct Radio {
        bool powered = false;
        std::vector<NearbyDevice> devices;
    };
    static Radio radioFrom(const QVariantMap& managedObjects);

    // Sends and desktop tools still running.
    int sendsInProgress() const;

private:
    struct State;
    class Service;
    std::shared_ptr<State> state_;
};

}  // namespace platform
