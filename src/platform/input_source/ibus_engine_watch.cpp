#include "platform/input_source/ibus_engine_watch.h"

#include "platform/process/child_process.h"

#include <QStandardPaths>

#include <atomic>
#include <utility>

namespace platform {

namespace {

const QString kIBusName = QStringLiteral("org.freedesktop.IBus");
const QString kIBusPath = QStringLiteral("/org/freedesktop/IBus");
const QString kEngine = QStringLiteral("org.freedesktop.IBus.Engine");

}  // namespace

IBusEngineWatch::IBusEngineWatch(DBusConnection& sessionBus, Scheduler& scheduler, AddressLookup address)
    : sessionBus_(sessionBus), scheduler_(scheduler), address_(address ? std::move(address) : AddressLookup(runIBusAddress)) {}

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
    propertyUpdates_.cancel();
    propertyRegistrations_.cancel();
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
    auto done = lifetime_.wrap([this, generation](const QString& address) {
        if (running_ && generation == generation_) connectTo(address);
    });
    scheduler_.global([lookup = address_, done, &scheduler = scheduler_]() mutable {
        const QString address = lookup();
        scheduler.post([done, address]() mutable { done(address); });
    });
}

void IBusEngineWatch::connectTo(const QString& address) {
    if (address.isEmpty()) return answer();
    static std::atomic<int> connections{0};
    auto bus = std::make_unique<QtDBusConnection>(address, QStringLiteral("quillvex-ibus-%1").arg(++connections));
    if (!bus->isConnected()) return answer();
    ibusBus_ = std::move(bus);
    // Every client of IBus's bus could send one: only the daemon's own counts.
    engineSignal_ = ibusBus_->subscribe(DBusMatch{kIBusName, kIBusPath, kIBusName, QStringLiteral("GlobalEngineChanged"), QString()},
                                            lifetime_.wrap([this](const DBusSignal&) {
                                                // A mode registered just before, or published by a new
                                                // instance just before, is this switch's own.
                                                const bool early = unregisteredModeAt_ &&
                                                                   scheduler_.monotonicSeconds() - *unregisteredModeAt_ <= earlyModeWindow;
                                                if (!registeredInstanceRead_ && !early) modeSinceSwitch_ = false;
                                                unregisteredModeAt_.reset();
                                                readEngine(true);
                                            }));
    // Engines are separate connections of their own paths; their signals go to the daemon.
    propertyUpdates_ = ibusBus_->subscribe(
        DBusMatch{QString(), QString(), kEngine, QStringLiteral("UpdateProperty"), QString(), true},
        lifetime_.wrap([this](const DBusSignal& signal) {
            if (engineProperties(signal.arguments, true, false) && signal.sender + signal.path != lastRegistered_)
                unregisteredModeAt_ = scheduler_.monotonicSeconds();
        }));
    propertyRegistrations_ = ibusBus_->subscribe(
        DBusMatch{QString(), QString(), kEngine, QStringLiteral("RegisterProperties"), QString(), true},
        lifetime_.wrap([this](const DBusSignal& signal) {
            // An IBusPropList: ("IBusPropList", attachments, properties).
            const QVariantList properties = signal.arguments.value(0).toList().value(2).toList();
            const QString instance = signal.sender + signal.path;
            if (instance == lastRegistered_) {
                engineProperties(properties, true, true);  // the active engine registering again, on focus
                return;
            }
            // A new engine instance registers as the daemon switches to it, and its signal may
            // overtake the daemon's GlobalEngineChanged: the daemon, already switched, says whose
            // mode this is, and the mode is announced with that answer.
            lastRegistered_ = instance;
            if (!engineProperties(properties, false, true)) return;
            registeredInstanceRead_ = true;
            registrationRead_ = engineReads_ + 1;  // the next read sent, whether or not one is out
            readEngine(true);
        }));
    readEngine(false);
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
