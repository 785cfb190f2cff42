#pragma once

#include "platform/location/location_manager.h"

#include <vector>

namespace testsupport {

// A location manager the test drives: it records the calls and delivers what the test says.
class FakeLocationManager final : public platform::LocationManager {
public:
    void setDelegate(Delegate delegate) override { delegate_ = std::move(delegate); }
    void setDesiredAccuracy(double metres) override { desiredAccuracy = metres; }
    void requestWhenInUseAuthorization() override { ++authorizationRequests; }
    void startUpdatingLocation() override {
        ++startCount;
        updating = true;
    }
    void stopUpdatingLocation() override {
        ++stopCount;
        updating = false;
    }
    platform::LocationAuthorizationStatus authorizationStatus() const override { return status; }

    void deliver(std::vector<platform::Location> locations) {
        if (delegate_.didUpdateLocations) delegate_.didUpdateLocations(locations);
    }
    void deliver(double latitude, double longitude) { deliver({platform::Location{latitude, longitude, 1000}}); }
    void fail(const QString& description) {
        if (delegate_.didFailWithError) delegate_.didFailWithError({description});
    }
    void changeAuthorization(platform::LocationAuthorizationStatus newStatus) {
        status = newStatus;
        if (delegate_.didChangeAuthorization) delegate_.didChangeAuthorization();
    }

    double desiredAccuracy = -1;
    int authorizationRequests = 0;
    int startCount = 0;
    int stopCount = 0;
    bool updating = false;
    platform::LocationAuthorizationStatus status = platform::LocationAuthorizationStatus::notDetermined;

private:
    Delegate delegate_;
};

}  // namespace testsupport
