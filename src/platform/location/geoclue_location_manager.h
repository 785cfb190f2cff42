#pragma once

#include "platform/dbus/dbus_connection.h"
#include "platform/location/location_manager.h"

#include <QString>

namespace platform {

// GeoClue2 on the system bus. The service decides about an application when its client starts:
// a refusal reads as denied, no service (or no bus) as restricted, a start that succeeds as
// authorized.
class GeoClueLocationManager final : public LocationManager {
public:
    // `desktopId` names the application to GeoClue's agent (its .desktop file without suffix).
    // Without `bus`, the system bus is reached at the first request, not before.
    explicit GeoClueLocationManager(QString desktopId, DBusConnection* bus = nullptr);
    ~GeoClueLocationManager() override;
    GeoClueLocationManager(const GeoClueLocationManager&) = delete;
    GeoClueLocationManager& operator=(const GeoClueLocationManager&) = delete;

    void setDelegate(Delegate delegate) override;
    void setDesiredAccuracy(double metres) override;
    void requestWhenInUseAuthorization() override;
    void startUpdatingLocation() override;
    void stopUpdatingLocation() override;
    LocationAuthorizationStatus authorizationStatus() const override { return status_; }

    // GeoClue's accuracy level for an accuracy in metres (country 1, city 4, neighbourhood 5,
    // street 6, exact 8).
    static unsigned accuracyLevel(double metres);

private:
    void ensureClient();
    void configureClient(const QString& path);
    void startClient();
    void onLocationUpdated(const QString& locationPath);
    void onFailure(const DBusReply& reply);
    void setStatus(LocationAuthorizationStatus status);

    DBusConnection& bus();

    DBusConnection* bus_;
    QString desktopId_;
    Delegate delegate_;
    double desiredAccuracy_ = 1000;
    LocationAuthorizationStatus status_ = LocationAuthorizationStatus::notDetermined;

    enum class ClientState { none, creating, ready };
    ClientState clientState_ = ClientState::none;
    QString clientPath_;
    bool wantsUpdates_ = false;
    bool starting_ = false;
    bool active_ = false;
    AnyCancellable pendingCall_;
    AnyCancellable updates_;
    AnyCancellable locationRead_;
    CancellableSet stops_;
};

}  // namespace platform
