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
    // Observing first starts the watch of the frameworks, whose first answers the start awaits.
    observer_ = sources_.observeSelectionChanges(lifetime_.wrap([this] { inputSourceChanged(); }));
    settling_ = sources_.whenSettled(lifetime_.wrap([this] { settled(); }));
}

void InputSourceService::settled() {
    if (!isRunning_ || isStarted_) return;
    isStarted_ = true;
    lastSourceID_ = currentSourceID();
    const auto source = sources_.currentSource();
    startModeUnheard_ = source && source->modeUnheard;
    Log::shared().info(QStringLiteral("InputSourceService: Started (current: ") +
                       lastSourceID_.value_or(QStringLiteral("unknown")) + QStringLiteral(")"));
}

void InputSourceService::stop() {
    isRunning_ = false;
    isStarted_ = false;
    observer_.cancel();
    settling_.cancel();
    if (quietCheck_) quietCheck_->cancel();
    quietCheck_.reset();
    Log::shared().info(QStringLiteral("InputSourceService: Stopped"));
}

void InputSourceService::inputSourceChanged() {
    // Before the start read, a change is part of where the sources settle.
    if (!isStarted_) return;
    lastNoticeMicros_ = scheduler_.monotonicMicros();
    // One check waits however many notices come: it looks again when they went on meanwhile.
    if (!quietCheck_ || !quietCheck_->isPending())
        quietCheck_ = scheduler_.after(quietDelay, lifetime_.wrap([this] { quietCheck(); }));
}

void InputSourceService::quietCheck() {
    if (!isStarted_) return;
    const double quietFor = static_cast<double>(scheduler_.monotonicMicros() - lastNoticeMicros_) / 1e6;
    if (quietFor + 1e-6 < quietDelay) {
        quietCheck_ = scheduler_.after(quietDelay - quietFor, lifetime_.wrap([this] { quietCheck(); }));
        return;
    }
    announceCurrent();
}

void InputSourceService::announceCurrent() {
    const auto source = sources_.currentSource();
    const std::optional<QString> newID = source ? source->id : std::nullopt;
    if (newID == lastSourceID_) return;
    // The engine started from, its mode unheard then, telling the mode it stands in (as it does
    // on focus or re-selection): the user was in that mode all along, so no switch to announce.
    const bool standing = std::exchange(startModeUnheard_, false) && source && source->modeRestated && newID &&
                          lastSourceID_ && newID->startsWith(*lastSourceID_ + QLatin1Char('.'));
    lastSourceID_ = newID;
    if (standing) return;
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
