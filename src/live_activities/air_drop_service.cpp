#include "live_activities/air_drop_service.h"

#include "core/log.h"

#include <QDateTime>

#include <chrono>

AirDropService& AirDropService::shared() {
    static auto* instance = new AirDropService();
    return *instance;
}

AirDropService::AirDropService(EventBus& bus, platform::Scheduler& scheduler, platform::MetadataSearch& search,
                               platform::DistributedNotificationCenter& notifications,
                               const platform::UserFolders& folders, platform::ReceivedFiles& received)
    : bus(bus), scheduler_(scheduler), search_(search), notifications_(notifications), folders_(folders),
      received_(received) {}

void AirDropService::start() {
    if (isRunning_) return;
    isRunning_ = true;
    // Fixed at the start: the window never moves while the query runs.
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(scheduler_.wallNow().time_since_epoch());
    const QDateTime since = QDateTime::fromMSecsSinceEpoch(now.count() - static_cast<qint64>(searchWindow * 1000));
    query_ = search_.start({folders_.downloadDirectory(), since},
                           lifetime_.wrap([this](platform::MetadataQuery& query) { queryDidFinishGathering(query); }),
                           lifetime_.wrap([this](platform::MetadataQuery& query) { queryDidUpdate(query); }));
    notificationObserver_ =
        notifications_.observeAll(lifetime_.wrap([this](const QString& name) { airdropNotification(name); }));
    receivedObserver_ = received_.observeReceived(lifetime_.wrap([this](const QString& path) { fileReceived(path); }));
    Log::shared().info(QStringLiteral("AirDropService: Started"));
}

void AirDropService::stop() {
    isRunning_ = false;
    if (query_) {
        query_->stop();
        query_.reset();
    }
    knownItems_.clear();
    initialGatherDone_ = false;
    notificationObserver_.cancel();
    receivedObserver_.cancel();
    Log::shared().info(QStringLiteral("AirDropService: Stopped"));
}

void AirDropService::queryDidFinishGathering(platform::MetadataQuery& query) {
    query.disableUpdates();
    const int count = query.resultCount();
    for (int i = 0; i < count; ++i) knownItems_.insert(query.resultAt(i).path);
    initialGatherDone_ = true;
    query.enableUpdates();
    Log::shared().info(QStringLiteral("AirDropService: Initial scan found ") + QString::number(knownItems_.size()) +
                       QStringLiteral(" files"));
}

void AirDropService::queryDidUpdate(platform::MetadataQuery& query) {
    if (!isRunning_ || !initialGatherDone_) return;
    query.disableUpdates();
    const int count = query.resultCount();
    for (int i = 0; i < count; ++i) {
        const platform::MetadataItem& item = query.resultAt(i);
        if (knownItems_.contains(item.path)) continue;
        // Remembered before any further test: a file that is not from AirDrop is never looked at again.
        knownItems_.insert(item.path);
        if (!item.whereFroms || item.whereFroms->isEmpty()) continue;
        bool fromAirDrop = false;
        for (const QString& origin : *item.whereFroms) fromAirDrop |= origin.toLower().contains(QStringLiteral("airdrop"));
        if (!fromAirDrop) continue;
        Log::shared().info(QStringLiteral("AirDropService: AirDrop file received: ") + item.path);
        sendAirDrop();
    }
    query.enableUpdates();
}

void AirDropService::airdropNotification(const QString& name) {
    if (!isRunning_) return;
    const QString lower = name.toLower();
    if (!lower.contains(QStringLiteral("airdrop")) || !lower.contains(QStringLiteral("complete"))) return;
    Log::shared().info(QStringLiteral("AirDropService: AirDrop notification detected: ") + name);
    sendAirDrop();
}

void AirDropService::fileReceived(const QString& path) {
    if (!isRunning_) return;
    Log::shared().info(QStringLiteral("AirDropService: AirDrop file received: ") + path);
    sendAirDrop();
}

void AirDropService::sendAirDrop() {
    scheduler_.post(lifetime_.wrap([this] { bus.liveActivityEventSubject.send(LiveActivityType::airdrop); }));
}
