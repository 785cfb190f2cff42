#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace platform {

struct Location {
    double latitude = 0;   // degrees
    double longitude = 0;  // degrees
    double horizontalAccuracy = -1;  // metres; negative when unknown

    // Great-circle distance in metres on the mean earth sphere; NaN when a coordinate is not a number.
    double distance(const Location& other) const;
};

// The platform's numbering: what a caller compares against.
enum class LocationAuthorizationStatus : int {
    notDetermined = 0,
    restricted = 1,  // no location service on this machine
    denied = 2,      // the service refused this application
    authorized = 3,
};

struct LocationError {
    QString description;
};

// Where the machine is, roughly. Callbacks run on the main thread, never inside the call that
// caused them.
class LocationManager {
public:
    struct Delegate {
        std::function<void(const std::vector<Location>& locations)> didUpdateLocations;  // oldest first
        std::function<void(const LocationError& error)> didFailWithError;
        std::function<void()> didChangeAuthorization;  // read authorizationStatus() for the new state
    };

    virtual ~LocationManager() = default;

    virtual void setDelegate(Delegate delegate) = 0;
    // The coarsest accuracy, in metres, the caller can live with.
    virtual void setDesiredAccuracy(double metres) = 0;
    // Makes the service decide about this application; the answer comes through didChangeAuthorization.
    virtual void requestWhenInUseAuthorization() = 0;
    // Delivers locations until stopped. Repeated starts are one start.
    virtual void startUpdatingLocation() = 0;
    virtual void stopUpdatingLocation() = 0;
    virtual LocationAuthorizationStatus authorizationStatus() const = 0;
};

}  // namespace platform
