#pragma once

// Follows obexd's file transfers on the session bus, for senders and watchers alike.

#include "platform/dbus/dbus_connection.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace platform {

// Learns obexd's transfers from its object manager and their property changes, and tells how
// each one ends, once: when its Status becomes "complete" or "error", or as an error when its
// object goes, or obexd leaves the bus, first. Transfers that ended before the watch learned of
// them are never told. A transfer's Filename is read as soon as it is being written, since the
// object goes right after it completes. Only watches: it never answers for a transfer.
class ObexTransferWatch {
public:
    struct Ending {
        QString path;
        bool complete = false;
        // The last known Transfer1 properties (Name, Filename, Session, Size, ...).
        QVariantMap properties;
    };
    using EndHandler = std::function<void(const Ending&)>;

    static constexpr DBusConnection::Timeout lookupTimeout{2000};

    // Subscribes at once, then reads the transfers obexd already holds. `ended` runs on the main
    // thread and may destroy the watch.
    ObexTransferWatch(DBusConnection& sessionBus, EndHandler ended);
    ~ObexTransferWatch();
    ObexTransferWatch(const ObexTransferWatch&) = delete;
    ObexTransferWatch& operator=(const ObexTransferWatch&) = delete;

    // Follows a transfer that a call just started, with the properties its answer gave, in case
    // its announcement was missed.
    void follow(const QString& path, const QVariantMap& properties);

    // The transfer's known properties; empty when it is unknown or gone.
    QVariantMap propertiesOf(const QString& path) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Whether a transfer was started by another device (a push to this one).
bool isIncomingTransfer(const QString& path);

}  // namespace platform
