#pragma once

// Names of BlueZ's OBEX daemon (obexd) on the session bus, shared by sending and watching.

#include "platform/logging/log_backend.h"

#include <QDBusObjectPath>
#include <QString>
#include <QVariant>

namespace platform::obex {

inline const QString service = QStringLiteral("org.bluez.obex");
inline const QString managerPath = QStringLiteral("/");
inline const QString clientPath = QStringLiteral("/org/bluez/obex");
inline const QString clientInterface = QStringLiteral("org.bluez.obex.Client1");
inline const QString objectPushInterface = QStringLiteral("org.bluez.obex.ObjectPush1");
inline const QString transferInterface = QStringLiteral("org.bluez.obex.Transfer1");
// Transfers that other devices start (pushes to us) live under the server's sessions.
inline const QString serverSessionsPrefix = QStringLiteral("/org/bluez/obex/server/");
// The Object Push profile, as BlueZ lists it in a device's UUIDs.
inline const QString objectPushUuid = QStringLiteral("00001105-0000-1000-8000-00805f9b34fb");

// An object path as a reply or signal carries it.
inline QString objectPath(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
    return value.toString();
}

// Sending runs in the platform layer, below the application's logger: its lines go straight to
// the log backend.
inline void log(LogLevel level, const QString& message) {
    LogBackend& backend = LogBackend::shared();
    if (backend.isEnabled(level)) backend.write(level, message);
}

}  // namespace platform::obex
