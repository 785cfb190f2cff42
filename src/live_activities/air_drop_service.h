#pragma once

// Asks for the AirDrop activity when a file has been received from a nearby device: a file pushed
// over Bluetooth whose transfer completed, a new file in the downloads folder whose recorded
// origin mentions AirDrop, or a system-wide notice whose name speaks of a completed AirDrop.

#include "core/event_bus.h"
#include "platform/distributed_notifications/distributed_notification_center.h"
#include "platform/files/user_folders.h"
#include "platform/metadata_query/metadata_query.h"
#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"
#include "platform/sharing/received_files.h"

#include <QSet>
#include <QString>

#include <memory>

class AirDropService {
public:
    // Files created up to this long before the start are part of the first result set.
    static constexpr double searchWindow = 86400;

    static AirDropService& shared();

    explicit AirDropService(
        EventBus& bus = EventBus::shared(), platform::Scheduler& scheduler = platform::Scheduler::shared(),
        platform::MetadataSearch& search = platform::MetadataSearch::system(),
        platform::DistributedNotificationCenter& notifications = platform::DistributedNotificationCenter::shared(),
        const platform::UserFolders& folders = platform::UserFolders::system(),
        platform::ReceivedFiles& received = platform::ReceivedFiles::shared());
    AirDropService(const AirDropService&) = delete;
    AirDropService& operator=(const AirDropService&) = delete;

    void start();
    // Always runs and logs, running or not.
    void stop();

    bool isRunning() const { return isRunning_; }
    bool initialGatherDone() const { return initialGatherDone_; }
    const QSet<QString>& knownItems() const { return knownItems_; }

    // The query's notices and the distributed notices.
    void queryDidFinishGathering(platform::MetadataQuery& query);
    void queryDidUpdate(platform::MetadataQuery& query);
    void airdropNotification(const QString& name);
    // A file a nearby device sent, received whole.
    void fileReceived(const QString& path);

private:
    void sendAirDrop();

    EventBus& bus;
    platform::Scheduler& scheduler_;
    platform::MetadataSearch& search_;
    platform::DistributedNotificationCenter& notifications_;
    const platform::UserFolders& folders_;
    platform::ReceivedFiles& received_;
    bool isRunning_ = false;
    std::unique_ptr<platform::MetadataQuery> query_;
    QSet<QString> knownItems_;
    bool initialGatherDone_ = false;
    platform::AnyCancellable notificationObserver_;
    platform::AnyCancellable receivedObserver_;
    platform::Lifetime lifetime_;
};
