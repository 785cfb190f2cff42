#include "platform/input_source/ibus_engine_watch.h"

#include "platform/logging/log_backend.h"
#include "platform/process/child_process.h"

#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <utility>

namespace platform {

namespace {

const QString kIBusName = QStringLiteral("org.freedesktop.IBus");
const QString kIBusPath = QStringLiteral("/org/freedesktop/IBus");
const QString kEngine = QStringLiteral("org.freedesktop.IBus.Engine");

IBusEngineWatch::Found findIBus() {
    IBusEngineWatch::Found found{IBusEngineWatch::runIBusAddress(), {}};
    if (!found.address.isEmpty()) found.components = runIBusReadCache();
    return found;
}

// The properties an engine's signal carries: UpdateProperty's IBusProperty, or RegisterProperties'
// IBusPropList ("IBusPropList", attachments, properties).
QVariantList propertiesIn(const DBusSignal& signal, bool registered) {
    return registered ? signal.arguments.value(0).toList().value(2).toList() : signal.arguments;
}

bool namesMode(const QVariantList& properties) {
    return std::any_of(properties.cbegin(), properties.cend(), [](const QVariant& p) { return ibusInputMode(p).has_value(); });
}

}  // namespace

IBusEngineWatch::IBusEngineWatch(DBusConnection& sessionBus, Scheduler& scheduler, Lookup lookup)
    : sessionBus_(sessionBus), scheduler_(scheduler), lookup_(lookup ? std::move(lookup) : Lookup(findIBus)) {}

IBusEngineWatch::~IBusEngineWatch() { stop(); }

QString IBusEngineWatch::runIBusAddress() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("ibus"));
    if (program.isEmpty()) return {};
    const ProcessResult result =
        ProcessLauncher::system().run(ProcessSpec{program, {QStringLiteral("address")}, {}, {}}, addressTimeout, 4096);
    if (!result.succeeded()) return {};
    const QString address = QString::fromUtf8(result.standardOutput).trimmed();
    // Without a daemon the tool prints "(null)".
    return address.contains(QLatin1Char(':')) && address.contains(QLatin1Char('=')) ? address : QString();
}

std::optional<InputMethodEngine> IBusEngineWatch::engineFromDescription(const QVariant& description) {
    const QVariantList fields = description.toList();
    if (fields.size() < 13 || fields.at(0).toString() != QLatin1String("IBusEngineDesc")) return std::nullopt;
    const auto name = inputMethodText(fields.at(2));
    const auto longName = inputMethodText(fields.at(3));
    const auto language = inputMethodText(fields.at(5));
    const auto symbol = inputMethodText(fields.at(12));
    const auto layoutVariant = fields.size() > 14 ? inputMethodText(fields.at(14)) : QString();
    if (!name || name->isEmpty() || !longName || !language || !symbol || !layoutVariant) return std::nullopt;
    return InputMethodEngine{QStringLiteral("ibus"), *name, *longName, *language, *symbol, *layoutVariant};
}

void IBusEngineWatch::start(std::function<void()> changed, std::function<void()> answered) {
    if (running_) return;
    running_ = true;
    changed_ = std::move(changed);
    answeredHandler_ = std::move(answered);
    ownerWatch_ = sessionBus_.watchNameOwner(kIBusName, lifetime_.wrap([this](const QString& owner) {
        const bool had = engine_.has_value();
        drop();
        if (!owner.isEmpty()) return discover();
        if (had && changed_) changed_();
        answer();
    }));
    discover();
}

void IBusEngineWatch::stop() {
    running_ = false;
    ownerWatch_.cancel();
    drop();
    answered_ = false;
    changed_ = nullptr;
    answeredHandler_ = nullptr;
}

void IBusEngineWatch::answer() {
    if (running_ && !std::exchange(answered_, true) && answeredHandler_) answeredHandler_();
}

void IBusEngineWatch::drop() {
    ++generation_;
    engineSignal_.cancel();
    engineRead_.cancel();
    readAgain_ = false;
    announceAgain_ = false;
    unregisteredModeAt_.reset();
    componentSignals_.clear();
    held_.reset();
    activeComponent_.clear();
    components_.clear();
    ibusBus_.reset();
    engine_.reset();
    mode_.reset();
    modeRestated_ = false;
    modeSinceSwitch_ = false;
    modeUnannounced_ = false;
    registeredInstanceRead_ = false;
    lastRegistered_.clear();
    settled_ = false;
}

void IBusEngineWatch::discover() {
    answered_ = false;
    const uint64_t generation = ++generation_;
    auto done = lifetime_.wrap([this, generation](const Found& found) {
        if (running_ && generation == generation_) connectTo(found);
    });
    scheduler_.global([lookup = lookup_, done, &scheduler = scheduler_]() mutable {
        Found found = lookup();
        scheduler.post([done, found = std::move(found)]() mutable { done(found); });
    });
}

void IBusEngineWatch::connectTo(const Found& found) {
    if (found.address.isEmpty()) return answer();
    static std::atomic<int> connections{0};
    auto bus = std::make_unique<QtDBusConnection>(found.address, QStringLiteral("quillvex-ibus-%1").arg(++connections));
    if (!bus->isConnected()) return answer();
    ibusBus_ = std::move(bus);
    components_ = found.components;
    // Every client of IBus's bus could send one: only the daemon's own counts.
    engineSignal_ = ibusBus_->subscribe(DBusMatch{kIBusName, kIBusPath, kIBusName, QStringLiteral("GlobalEngineChanged"), QString()},
                                        lifetime_.wrap([this](const DBusSignal& signal) { engineSwitched(signal); }));
    // Engines are objects on their component's connection; their signals go to the daemon.
    if (components_.isEmpty()) {
        LogBackend& log = LogBackend::shared();
        if (log.isEnabled(LogLevel::Info))
            log.write(LogLevel::Info, QStringLiteral("IBus: No registry cache tells which component serves each engine: "
                                                     "engines' input modes go unheard"));
    }
    for (const QString& component : QSet<QString>(components_.cbegin(), components_.cend())) {
        for (const bool registered : {false, true}) {
            const QString member = registered ? QStringLiteral("RegisterProperties") : QStringLiteral("UpdateProperty");
            componentSignals_.push_back(ibusBus_->subscribe(DBusMatch{component, QString(), kEngine, member, QString(), true},
                                                            lifetime_.wrap([this, component, registered](const DBusSignal& signal) {
                                                                engineSignal(component, signal, registered);
                                                            })));
        }
    }
    readEngine(false);
}

void IBusEngineWatch::engineSwitched(const DBusSignal& signal) {
    const std::optional<QString> name = signal.arguments.size() == 1 ? inputMethodText(signal.arguments.at(0)) : std::nullopt;
    activeComponent_ = name ? components_.value(*name) : QString();
    // A mode the new engine's component published just before is the new engine's, made as the
    // daemon switched to it.
    if (const std::optional<Held> held = std::exchange(held_, std::nullopt);
        held && !activeComponent_.isEmpty() && held->component == activeComponent_ &&
        scheduler_.monotonicSeconds() - held->at <= earlyModeWindow) {
        if (held->registered) propertiesRegistered(held->signal);
        else propertyUpdated(held->signal, false);
    }
    // A mode registered just before, or published by a new instance just before, is this
    // switch's own.
    const bool early = unregisteredModeAt_ && scheduler_.monotonicSeconds() - *unregisteredModeAt_ <= earlyModeWindow;
    if (!registeredInstanceRead_ && !early) modeSinceSwitch_ = false;
    unregisteredModeAt_.reset();
    readEngine(true);
}

void IBusEngineWatch::engineSignal(const QString& component, const DBusSignal& signal, bool registered) {
    if (signal.arguments.size() != 1) return;
    if (component == activeComponent_) {
        if (registered) propertiesRegistered(signal);
        else propertyUpdated(signal, true);
        return;
    }
    if (namesMode(propertiesIn(signal, registered))) held_ = Held{component, signal, registered, scheduler_.monotonicSeconds()};
}

void IBusEngineWatch::propertyUpdated(const DBusSignal& signal, bool announce) {
    if (engineProperties(propertiesIn(signal, false), announce, false) && signal.sender + signal.path != lastRegistered_)
        unregisteredModeAt_ = scheduler_.monotonicSeconds();
}

void IBusEngineWatch::propertiesRegistered(const DBusSignal& signal) {
    const QVariantList properties = propertiesIn(signal, true);
    const QString instance = signal.sender + signal.path;
    if (instance == lastRegistered_) {
        engineProperties(properties, true, true);  // the active engine registering again, on focus
        return;
    }
    // A new engine instance registers as the daemon switches to it, and its signal may overtake
    // the daemon's GlobalEngineChanged: the daemon, already switched, says whose mode this is,
    // and the mode is announced with that answer.
    lastRegistered_ = instance;
    if (!engineProperties(properties, false, true)) return;
    registeredInstanceRead_ = true;
    registrationRead_ = engineReads_ + 1;  // the next read sent, whether or not one is out
    readEngine(true);
}

void IBusEngineWatch::readEngine(bool announce) {
    if (!ibusBus_) return;
    // A flood of switch notices asks once more, not once each: the answer after the last is
    // where IBus stands.
    if (engineRead_.isActive()) {
        readAgain_ = true;
        announceAgain_ = announceAgain_ || announce;
        return;
    }
    const uint64_t generation = generation_;
    const uint64_t read = ++engineReads_;
    engineRead_ = ibusBus_->propertyAsync(
        kIBusName, kIBusPath, kIBusName, QStringLiteral("GlobalEngine"), callTimeout,
        lifetime_.wrap([this, generation, announce, read](const DBusReply& reply) {
            if (!running_ || generation != generation_) return;
            engineRead_ = AnyCancellable();
            engineAnswered(reply, announce, read);
            if (running_ && generation == generation_ && std::exchange(readAgain_, false))
                readEngine(std::exchange(announceAgain_, false));
        }));
}

void IBusEngineWatch::engineAnswered(const DBusReply& reply, bool announce, uint64_t read) {
    // No global engine yet is an answer too: IBus stands without one.
    std::optional<InputMethodEngine> engine = reply.ok() ? engineFromDescription(reply.value()) : std::nullopt;
    const bool wasSettled = settled_;
    settled_ = true;
    // The last answer asked for names the engine whose component is heard.
    if (!readAgain_) activeComponent_ = engine ? components_.value(engine->name) : QString();
    if (read >= registrationRead_) registeredInstanceRead_ = false;
    const bool modeUnannounced = std::exchange(modeUnannounced_, false);
    if (engine == engine_) {
        if (modeUnannounced && engine_ && changed_) changed_();
        return answer();
    }
    engine_ = std::move(engine);
    // A mode heard since the switch began is the new engine's; an older one was the last's.
    if (!modeSinceSwitch_) mode_.reset();
    if (announce && wasSettled && changed_) changed_();
    answer();
}

bool IBusEngineWatch::engineProperties(const QVariantList& properties, bool announce, bool registered) {
    if (!running_) return false;
    bool carried = false;
    for (const QVariant& property : properties) {
        std::optional<InputMethodMode> mode = ibusInputMode(property);
        if (!mode) continue;
        carried = true;
        modeSinceSwitch_ = true;
        // A registration tells where the engine stands even when the mode was heard already; an
        // update that changes nothing is no change.
        if (registered) modeRestated_ = true;
        if (mode == mode_) continue;
        mode_ = std::move(mode);
        modeRestated_ = registered;
        if (!announce) modeUnannounced_ = true;
        else if (settled_ && engine_ && changed_) changed_();
    }
    return carried;
}

}  // namespace platform
