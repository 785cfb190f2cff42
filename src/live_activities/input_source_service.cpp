#include "live_activities/input_source_service.h"

#include "core/log.h"

InputSourceService& InputSourceService::shared() {
    static auto* instance = new InputSourceService();
    return *instance;
}

InputSourceService::InputSourceService(EventBus& bus, platform::Scheduler& scheduler, platform::InputSources& sources)
    : bus(bus), scheduler_(scheduler), sources_(sources) {}

std::optional<QString> InputSourceService::currentSourceID() {
    const auto source = sources_.currentSource();
    if (!source) return std::nullopt;
    return source->id;
}

QString InputSourceService::currentSourceName() {
    const auto source = sources_.currentSource();
    if (!source || !source->localizedName) return QStringLiteral("?");
    return *source->localizedName;
}

void InputSourceService::start() {
    if (isRunning_) return;
    isRunning_ = true;
    lastSourceID_ = currentSourceID();
    observer_ = sources_.observeSelectionChanges(lifetime_.wrap([this] { inputSourceChanged(); }));
    Log::shared().info(QStringLiteral("InputSourceService: Started (current: ") +
                       lastSourceID_.value_or(QStringLiteral("unknown")) + QStringLiteral(")"));
}

void InputSourceService::stop() {
    isRunning_ = false;
    observer_.cancel();
    Log::shared().info(QStringLiteral("InputSourceService: Stopped"));
}

void InputSourceService::inputSourceChanged() {
    if (!isRunning_) return;
    const std::optional<QString> newID = currentSourceID();
    if (newID == lastSourceID_) return;
    lastSourceID_ = newID;
    const QString name = currentSourceName();
    scheduler_.post(lifetime_.wrap([this, newID, name] {
        if (!isRunning_) return;
        const QString id = newID.value_or(QString());
        bus.inputSourceSubject.send(InputSourceInfo{id, name});
        bus.liveActivityEventSubject.send(LiveActivityType::inputSource);
        Log::shared().info(QStringLiteral("InputSourceService: Changed to ") + name + QStringLiteral(" (") + id +
                           QStringLiteral(")"));
    }));
}
