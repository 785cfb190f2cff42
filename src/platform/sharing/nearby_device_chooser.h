#pragma once

// Asks the user which nearby device to send files to.

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

struct NearbyDevice {
    QString name;
    QString address;

    bool operator==(const NearbyDevice&) const = default;
};

class NearbyDeviceChooser {
public:
    using Done = std::function<void(std::optional<QString> address)>;

    virtual ~NearbyDeviceChooser() = default;

    // The application installs its chooser; until then every choice is cancelled.
    static NearbyDeviceChooser& shared();
    // Installs `chooser` (nullptr restores the default); returns the previous one.
    static NearbyDeviceChooser* setShared(NearbyDeviceChooser* chooser);

    // Offers `devices` for `fileCount` files and returns at once; `done` runs once on the main
    // thread with the chosen device's address, or none when the user cancelled.
    virtual void choose(const std::vector<NearbyDevice>& devices, int fileCount, Done done) = 0;
};

}  // namespace platform
