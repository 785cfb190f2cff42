#pragma once

// Shared set-up of the notification-store benchmarks: a home folder with a store in the record
// layout, quiet logging, and fixed answers for the user's directories.

#include "permissions/notification_database_locations.h"
#include "platform/log_backend.h"
#include "platform/user_directories.h"
#include "tools/notification_store.h"

#include <QString>
#include <QTemporaryDir>

namespace benchsupport {

// Keeps the system log out of the figures (and free of a million benchmark lines).
class QuietLog final : public platform::LogBackend {
public:
    QuietLog() : previous_(platform::LogBackend::setShared(this)) {}
    ~QuietLog() override { platform::LogBackend::setShared(previous_); }
    bool isEnabled(platform::LogLevel) const override { return false; }
    void write(platform::LogLevel, const QString&) override {}

private:
    platform::LogBackend* previous_;
};

class HomeDirectories final : public platform::UserDirectories {
public:
    explicit HomeDirectories(QString home) : home_(std::move(home)) {}
    QString homeDirectory() const override { return home_; }
    QString passwordDatabaseHome() const override { return home_; }
    std::optional<std::string> perUserDirectory() const override { return std::nullopt; }
    bool hasSandboxContainerId() const override { return false; }

private:
    QString home_;
};

inline QString storePathUnder(const QString& home) {
    return NotificationDatabaseLocations::fixedCandidates(home).first();
}

inline QByteArray sampleRecord(int i) {
    return notificationstore::encodePropertyList(notificationstore::notificationRecord(
        QStringLiteral("com.example.App%1").arg(i % 40), QStringLiteral("Message number %1").arg(i),
        QStringLiteral("From someone"), QStringLiteral("A body of ordinary length that says something useful.")));
}

// Appends `count` records in one transaction.
inline void appendRecords(notificationstore::Writer& writer, int from, int count) {
    writer.connection().execute("BEGIN");
    for (int i = from; i < from + count; ++i)
        writer.appendRecord(QStringLiteral("com.example.App%1").arg(i % 40), sampleRecord(i));
    writer.connection().execute("COMMIT");
}

}  // namespace benchsupport
