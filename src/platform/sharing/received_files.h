#pragma once

// Files that nearby devices send to this one.

#include "platform/dbus/dbus_connection.h"
#include "platform/runtime/reactive.h"

#include <QString>

#include <functional>

namespace platform {

class ReceivedFiles {
public:
    using Handler = std::function<void(const QString& file)>;

    virtual ~ReceivedFiles() = default;

    // The session's (obexd on the session bus unless a test installed another).
    static ReceivedFiles& shared();
    // Installs `files` (nullptr restores the default); returns the previous one.
    static ReceivedFiles* setShared(ReceivedFiles* files);

    // Every file received whole from now on: where it was saved (its name when that is not
    // known), on the main thread, until the cancellable is cancelled or dropped. Only watches:
    // whoever accepts incoming files goes on doing so.
    [[nodiscard]] virtual AnyCancellable observeReceived(Handler handler) = 0;
};

// Bluetooth Object Push through obexd: a transfer under its server's sessions whose Status
// reaches "complete". Never registers as obexd's agent, so it never accepts or refuses a push.
class ObexReceivedFiles final : public ReceivedFiles {
public:
    explicit ObexReceivedFiles(DBusConnection& sessionBus = DBusConnection::session()) : bus_(sessionBus) {}

    [[nodiscard]] AnyCancellable observeReceived(Handler handler) override;

private:
    DBusConnection& bus_;
};

}  // namespace platform
