#include "platform/location/geoclue_location_manager.h"

#include <QDBusObjectPath>

#include <chrono>

namespace platform {

namespace {

using namespace std::chrono_literals;

const QString service = QStringLiteral("org.freedesktop.GeoClue2");
const QString managerPath = QStringLiteral("/org/freedesktop/GeoClue2/Manager");
const QString managerInterface = QStringLiteral("org.freedesktop.GeoClue2.Manager");
const QString clientInterface = QStringLiteral("org.freedesktop.GeoClue2.Client");
const QString locationInterface = QStringLiteral("org.freedesktop.GeoClue2.Location");
// GeoClue asks its agent before it answers Start: leave the user time to decide.
constexpr auto startTimeout = 60s;
constexpr auto callTimeout = 10s;

QString objectPath(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
    return value.toString();
}

}  // namespace

GeoClueLocationManager::GeoClueLocationManager(QString desktopId, DBusConnection* bus)
    : bus_(bus), desktopId_(std::move(desktopId)) {}

DBusConnection& GeoClueLocationManager::bus() {
    if (!bus_) bus_ = &DBusConnection::system();
    return *bus_;
}

GeoClueLocationManager::~GeoClueLocationManager() {
    if (active_ || starting_) {
        // The daemon would otherwise keep locating for a client nobody reads.
        [[maybe_unused]] AnyCancellable dropped =
            bus().callAsync({service, clientPath_, clientInterface, QStringLiteral("Stop"), {}}, callTimeout, {});
    }
}

void GeoClueLocationManager::setDelegate(Delegate delegate) { delegate_ = std::move(delegate); }

void GeoClueLocationManager::setDesiredAccuracy(double metres) { desiredAccuracy_ = metres; }

unsigned GeoClueLocationManager::accuracyLevel(double metres) {
    if (!(metres < 100000)) return 1;
    if (metres >= 1000) return 4;
    if (metres >= 300) return 5;
    if (metres >= 30) return 6;
    return 8;
}

void GeoClueLocationManager::requestWhenInUseAuthorization() { ensureClient(); }

void GeoClueLocationManager::startUpdatingLocation() {
    wantsUpdates_ = true;
    if (clientState_ == ClientState::ready) {
        startClient();
    } else {
        ensureClient();
    }
}

void GeoClueLocationManager::stopUpdatingLocation() {
    wantsUpdates_ = false;
    updates_.cancel();
    locationRead_.cancel();
    if (active_) {
        active_ = false;
        [[maybe_unused]] AnyCancellable dropped =
            bus().callAsync({service, clientPath_, clientInterface, QStringLiteral("Stop"), {}}, callTimeout, {});
    }
    // A start under way is stopped when its answer comes.
}

void GeoClueLocationManager::ensureClient() {
    if (clientState_ != ClientState::none) return;
    clientState_ = ClientState::creating;
    pendingCall_ = bus().callAsync({service, managerPath, managerInterface, QStringLiteral("GetClient"), {}}, callTimeout,
                                  [this](const DBusReply& reply) {
                                      if (!reply.ok()) {
                                          clientState_ = ClientState::none;
                                          onFailure(reply);
                                          return;
                                      }
                                      configureClient(objectPath(reply.value()));
                                  });
}

void GeoClueLocationManager::configureClient(const QString& path) {
    pendingCall_ = bus().setPropertyAsync(
        service, path, clientInterface, QStringLiteral("DesktopId"), desktopId_, callTimeout,
        [this, path](const DBusReply& reply) {
            if (!reply.ok()) {
                clientState_ = ClientState::none;
                onFailure(reply);
                return;
            }
            pendingCall_ = bus().setPropertyAsync(
                service, path, clientInterface, QStringLiteral("RequestedAccuracyLevel"),
                QVariant::fromValue(accuracyLevel(desiredAccuracy_)), callTimeout, [this, path](const DBusReply& reply) {
                    if (!reply.ok()) {
                        clientState_ = ClientState::none;
                        onFailure(reply);
                        return;
                    }
                    clientPath_ = path;
                    clientState_ = ClientState::ready;
                    if (wantsUpdates_) startClient();
                });
        });
}

void GeoClueLocationManager::startClient() {
    if (active_ || starting_) {
        return;
    }
    starting_ = true;
    // Listen first: the daemon announces a known location while it answers Start.
    updates_ = bus().subscribe({service, clientPath_, clientInterface, QStringLiteral("LocationUpdated"), {}},
                              [this](const DBusSignal& signal) {
                                  if (signal.arguments.size() >= 2) onLocationUpdated(objectPath(signal.arguments.at(1)));
                              });
    pendingCall_ = bus().callAsync(
        {service, clientPath_, clientInterface, QStringLiteral("Start"), {}}, startTimeout,
        [this](const DBusReply& reply) {
            starting_ = false;
            if (!reply.ok()) {
                updates_.cancel();
                onFailure(reply);
                return;
            }
            active_ = true;
            if (!wantsUpdates_) stopUpdatingLocation();
            setStatus(LocationAuthorizationStatus::authorized);
        });
}

void GeoClueLocationManager::onLocationUpdated(const QString& locationPath) {
    if (!wantsUpdates_ || locationPath.isEmpty() || locationPath == QLatin1String("/")) return;
    locationRead_ = bus().allPropertiesAsync(
        service, locationPath, locationInterface, callTimeout, [this](const DBusReply& reply) {
            if (!wantsUpdates_) return;
            if (!reply.ok()) {
                if (delegate_.didFailWithError) delegate_.didFailWithError({reply.errorMessage});
                return;
            }
            const QVariantMap properties = reply.value().toMap();
            bool latitudeOk = false;
            bool longitudeOk = false;
            Location location;
            location.latitude = properties.value(QStringLiteral("Latitude")).toDouble(&latitudeOk);
            location.longitude = properties.value(QStringLiteral("Longitude")).toDouble(&longitudeOk);
            location.horizontalAccuracy = properties.value(QStringLiteral("Accuracy"), -1.0).toDouble();
            if (!latitudeOk || !longitudeOk) {
                if (delegate_.didFailWithError)
                    delegate_.didFailWithError({QStringLiteral("The location service sent a location without coordinates.")});
                return;
            }
            if (delegate_.didUpdateLocations) delegate_.didUpdateLocations({location});
        });
}

void GeoClueLocationManager::onFailure(const DBusReply& reply) {
    const QString& name = reply.errorName;
    if (reply.status == DBusReply::Status::noBus || name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        clientState_ = ClientState::none;
        setStatus(LocationAuthorizationStatus::restricted);
        return;
    }
    if (name == QLatin1String("org.freedesktop.DBus.Error.AccessDenied")) {
        setStatus(LocationAuthorizationStatus::denied);
        return;
    }
    // The client may be gone with a restarted daemon: make a new one next time.
    clientState_ = ClientState::none;
    QString description = reply.errorMessage;
    if (reply.status == DBusReply::Status::timedOut) description = QStringLiteral("The location service did not answer.");
    if (description.isEmpty()) description = name;
    if (delegate_.didFailWithError) delegate_.didFailWithError({description});
}

void GeoClueLocationManager::setStatus(LocationAuthorizationStatus status) {
    if (status == status_) return;
    status_ = status;
    if (delegate_.didChangeAuthorization) delegate_.didChangeAuthorization();
}

}  // namespace platform
