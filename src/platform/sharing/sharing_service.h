#pragma once

// Sending files to nearby devices through a system sharing service.

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>

namespace platform {

class SharingService {
public:
    virtual ~SharingService() = default;
    // Whether the service can take these items now.
    virtual bool canPerform(const QList<QUrl>& items) const = 0;
    // Hands the items over; the service's own interface takes it from there.
    virtual void perform(const QList<QUrl>& items) = 0;
};

class SharingServices {
public:
    // The service that sends files to nearby devices, as the platform names it.
    static inline const QString sendViaAirDrop = QStringLiteral("com.apple.share.AirDrop.send");

    virtual ~SharingServices() = default;

    // Bluetooth Object Push through obexd unless a test installed another.
    static SharingServices& shared();
    // Installs `services` (nullptr restores the default); returns the previous one.
    static SharingServices* setShared(SharingServices* services);

    // The service of that name; null when the platform has none.
    virtual std::shared_ptr<SharingService> service(const QString& name) = 0;
};

}  // namespace platform
