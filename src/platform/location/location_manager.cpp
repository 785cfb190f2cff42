#include "platform/location/location_manager.h"

#include <cmath>
#include <numbers>


namespace platform {

double Location::distance(const Location& other) const {
    // Haversine on the mean radius: within half a percent of the ellipsoid, which is far finer
    // than any decision made on it.
    constexpr double earthRadius = 6371008.8;
    constexpr double toRadians = std::numbers::pi / 180.0;
    const double phi1 = latitude * toRadians;
    const double phi2 = other.latitude * toRadians;
    const double dPhi = (other.latitude - latitude) * toRadians;
    const double dLambda = (other.longitude - longitude) * toRadians;
    const double a = std::sin(dPhi / 2) * std::sin(dPhi / 2) +
                     std::cos(phi1) * std::cos(phi2) * std::sin(dLambda / 2) * std::sin(dLambda / 2);
    return 2 * earthRadius * std::asin(std::sqrt(a > 1.0 ? 1.0 : a));
}

}  // namespace platform
