#pragma once

// Sends files to one Bluetooth device by Object Push through obexd.

#include "platform/dbus/dbus_connection.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace platform {

// One obexd session to the device ({"Target": "opp"}), the files sent one after another, each
// followed to its end, then the session removed. Each file's outcome goes to the log; a file that
// fails does not stop the others.
class ObexObjectPush {
public:
    // Connecting includes the device's answer; a phone may ask its user first.
    static constexpr DBusConnection::Timeout connectTimeout{60000};
    static constexpr DBusConnection::Timeout callTimeout{10000};

    // `finished` runs once on the main thread when every file has ended and the session is gone;
    // it may destroy the push.
    ObexObjectPush(DBusConnection& sessionBus, QString address, QStringList files, std::function<void()> finished);
    ~ObexObjectPush();
    ObexObjectPush(const ObexObjectPush&) = delete;
    ObexObjectPush& operator=(const ObexObjectPush&) = delete;

    void start();

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
