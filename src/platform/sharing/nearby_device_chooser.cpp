#include "platform/sharing/nearby_device_chooser.h"

#include <utility>

namespace platform {

namespace {

class CancellingChooser final : public NearbyDeviceChooser {
public:
    void choose(const std::vector<NearbyDevice>&, int, Done done) override { done(std::nullopt); }
};

NearbyDeviceChooser* installed = nullptr;

}  // namespace

NearbyDeviceChooser& NearbyDeviceChooser::shared() {
    static CancellingChooser fallback;
    return installed ? *installed : fallback;
}

NearbyDeviceChooser* NearbyDeviceChooser::setShared(NearbyDeviceChooser* chooser) { return std::exchange(installed, chooser); }

}  // namespace platform
