#include "platform/input_source/fcitx5_engine_watch.h"

#include "platform/logging/log_backend.h"

#include <utility>

namespace platform {

namespace {

const QString kFcitxName = QStringLiteral("org.fcitx.Fcitx5");
const QString kControllerPath = QStringLiteral("/controller");
const QString kController = QStringLiteral("org.fcitx.Fcitx.Controller1");
const QString kInputContext = QStringLiteral("org.fcitx.Fcitx.InputContext1");

const QString kKimpanelPath = QStringLiteral("/kimpanel");
const QString kKimpanel = QStringLiteral("org.kde.kimpanel.inputmethod");
// The name a kimpanel panel owns; Fcitx5 broadcasts over kimpanel only while it is taken.
const QString kPanelName = QStringLiteral("org.kde.impanel");

DBusCall busCall(const char* method, const QString& name) {
    return DBusCall{QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QString::fromLatin1(method), {name}};
}

// The input method a CurrentIM signal names: its arguments are (name, unique name, language).
QString switchedTo(const QVariantList& arguments) {
    if (arguments.size() != 3) return {};
    for (const QVariant& argument : arguments)
        if (!inputMethodText(argument)) return {};
    return arguments.at(1).toString();
}

DBusCall controllerCall(const QString& method) { return DBusCall{kFcitxName, kControllerPath, kController, method, {}}; }

}  // namespace

Fcitx5EngineWatch::Fcitx5EngineWatch(DBusConnection& sessionBus, Scheduler& scheduler)
    : sessionBus_(sessionBus), scheduler_(scheduler), tray_(sessionBus) {}

Fcitx5EngineWatch::~Fcitx5EngineWatch() { stop(); }

std::optional<InputMethodEngine> Fcitx5EngineWatch::engineFromAvailable(const QVariant& available, const QString& uniqueName) {
    for (const QVariant& entry : available.toList()) {
        const QVariantList fields = entry.toList();
        if (fields.size() < 6 || fields.at(0).toString() != uniqueName) continue;
        const auto longName = inputMethodText(fields.at(1));
        const auto symbol = inputMethodText(fields.at(4));
        const auto language = inputMethodText(fields.at(5));
        if (!inputMethodText(fields.at(0)) || !longName || !symbol || !language) return std::nullopt;
        InputMethodEngine engine;
        engine.framework = QStringLiteral("fcitx5");
        engine.name = uniqueName;
        engine.longName = *longName;
        engine.symbol = *symbol;
        engine.language = *language;
        return engine;
    }
    return std::nullopt;
}

void Fcitx5EngineWatch::start(std::function<void()> changed, std::function<void()> answered) {
    if (running_) {
        if (!std::exchange(paused_, false)) return;
        changed_ = std::move(changed);
        answeredHandler_ = std::move(answered);
        if (!present_) return;
        answered_ = false;
        pollAnswered_ = false;
        timer_ = scheduler_.every(pollInterval, lifetime_.wrap([this] { poll(); }));
        return poll();
    }
    running_ = true;
    answered_ = false;
    pollAnswered_ = false;
    changed_ = std::move(changed);
    answeredHandler_ = std::move(answered);
    ownerWatch_ = sessionBus_.watchNameOwner(kFcitxName, lifetime_.wrap([this](const QString& owner) {
        ownerHeard_ = true;
        gone();
        if (!owner.isEmpty()) appeared(owner);
    }));
    // Matched by Fcitx5's name, the bus passes on only what its owner sends.
    kimpanelUpdates_ = sessionBus_.subscribe(
        DBusMatch{kFcitxName, kKimpanelPath, kKimpanel, QStringLiteral("UpdateProperty"), QString()},
        lifetime_.wrap([this](const DBusSignal& signal) {
            if (signal.arguments.size() != 1 || signal.arguments.at(0).metaType() != QMetaType::fromType<QString>()) return;
            if (auto status = kimpanelInputMethod(signal.arguments.at(0).toString())) statusHeard(std::move(*status), false);
        }));
    kimpanelRegistrations_ = sessionBus_.subscribe(
        DBusMatch{kFcitxName, kKimpanelPath, kKimpanel, QStringLiteral("RegisterProperties"), QString()},
        lifetime_.wrap([this](const DBusSignal& signal) {
            if (signal.arguments.size() != 1 || signal.arguments.at(0).metaType() != QMetaType::fromType<QStringList>()) return;
            for (const QString& property : signal.arguments.at(0).toStringList())
                if (auto status = kimpanelInputMethod(property)) statusHeard(std::move(*status), true);
        }));
    // Sent to each input context's owner.
    DBusMatch switches{kFcitxName, QString(), kInputContext, QStringLiteral("CurrentIM"), QString(), true};
    switches.eavesdropRefused = lifetime_.wrap([this](const QString& error) { overhearingRefused(error); });
    inputContextSwitches_ =
        sessionBus_.subscribe(switches, lifetime_.wrap([this](const DBusSignal& signal) { inputContextSwitched(signal); }));
    panelOwnerWatch_ = sessionBus_.watchNameOwner(kPanelName, lifetime_.wrap([this](const QString& owner) {
        panelPresent_ = !owner.isEmpty();
        panelKnown_ = true;
        reportAnswered();
    }));
    panelPresence_ = sessionBus_.callAsync(busCall("NameHasOwner", kPanelName), callTimeout,
                                           lifetime_.wrap([this](const DBusReply& reply) {
                                               // A change heard meanwhile is newer than this answer.
                                               if (!running_ || panelKnown_) return;
                                               panelPresent_ = reply.ok() && reply.value().toBool();
                                               panelKnown_ = true;
                                               reportAnswered();
                                           }));
    presence_ = sessionBus_.callAsync(
        busCall("GetNameOwner", kFcitxName), callTimeout, lifetime_.wrap([this](const DBusReply& reply) {
            if (!running_ || ownerHeard_) return;
            const QString owner = reply.ok() ? reply.value().toString() : QString();
            if (!owner.isEmpty()) appeared(owner);
            else answer();
        }));
}

void Fcitx5EngineWatch::inputContextSwitched(const DBusSignal& signal) {
    if (paused_ || !present_ || signal.sender != owner_) return;
    shown(switchedTo(signal.arguments));
    if (!call_.isActive() && !shown_.empty()) describe(shown_.front());
}

void Fcitx5EngineWatch::overhearingRefused(const QString& error) {
    if (!running_ || std::exchange(refusalLogged_, true)) return;
    LogBackend& log = LogBackend::shared();
    if (log.isEnabled(LogLevel::Info))
        log.write(LogLevel::Info, QStringLiteral("Fcitx5: The session bus refused to let the input method a text field takes "
                                                 "be overheard (%1): switches are known from Fcitx5's answers alone")
                                      .arg(error.left(maxInputMethodText)));
}

void Fcitx5EngineWatch::pause() {
    if (!running_) return;
    paused_ = true;
    timer_.invalidate();
    call_.cancel();
    pollAgain_ = false;
    shown_.clear();
}

void Fcitx5EngineWatch::answer() {
    pollAnswered_ = true;
    reportAnswered();
}

void Fcitx5EngineWatch::reportAnswered() {
    // Where Fcitx5 runs, its tray menu's mode is part of where it stands.
    if (!running_ || !pollAnswered_ || (present_ && (!trayKnown_ || !panelKnown_))) return;
    if (!std::exchange(answered_, true) && answeredHandler_) answeredHandler_();
}

void Fcitx5EngineWatch::stop() {
    running_ = false;
    paused_ = false;
    present_ = false;
    owner_.clear();
    ownerHeard_ = false;
    answered_ = false;
    pollAnswered_ = false;
    trayKnown_ = false;
    panelKnown_ = false;
    panelPresent_ = false;
    pollAgain_ = false;
    answeredHandler_ = nullptr;
    panelOwnerWatch_.cancel();
    panelPresence_.cancel();
    ownerWatch_.cancel();
    presence_.cancel();
    kimpanelUpdates_.cancel();
    kimpanelRegistrations_.cancel();
    inputContextSwitches_.cancel();
    shown_.clear();
    status_.reset();
    statusRestated_ = false;
    tray_.stop();
    timer_.invalidate();
    call_.cancel();
    ++generation_;
    engine_.reset();
    settled_ = false;
    changed_ = nullptr;
}

void Fcitx5EngineWatch::appeared(const QString& owner) {
    settled_ = false;
    present_ = true;
    owner_ = owner;
    trayKnown_ = false;
    tray_.start(
        owner_, lifetime_.wrap([this](const InputMethodStatus& status, bool first) { statusHeard(status, first); }),
        lifetime_.wrap([this] {
            trayKnown_ = true;
            reportAnswered();
        }));
    if (paused_) return;
    answered_ = false;
    pollAnswered_ = false;
    timer_ = scheduler_.every(pollInterval, lifetime_.wrap([this] { poll(); }));
    poll();
}

void Fcitx5EngineWatch::gone() {
    timer_.invalidate();
    call_.cancel();
    ++generation_;
    const bool had = engine_.has_value();
    engine_.reset();
    status_.reset();
    statusRestated_ = false;
    tray_.stop();
    pollAgain_ = false;
    shown_.clear();
    settled_ = false;
    const bool wasPresent = std::exchange(present_, false);
    owner_.clear();
    if (had && changed_) changed_();
    if (wasPresent) answer();
}

std::optional<InputMethodMode> Fcitx5EngineWatch::mode() const {
    if (!engine_ || !status_ || status_->name != engine_->longName) return std::nullopt;
    return status_->mode;
}

void Fcitx5EngineWatch::statusHeard(InputMethodStatus status, bool restated) {
    if (!running_) return;
    const std::optional<InputMethodMode> before = mode();
    status_ = std::move(status);
    statusRestated_ = restated;
    if (call_.isActive()) pollAgain_ = true;
    // Another input method than the one polled last: the switch is heard before the next poll.
    if (!engine_ || engine_->longName != status_->name) {
        if (timer_.isValid()) poll();
        return;
    }
    if (settled_ && mode() != before && changed_) changed_();
}

void Fcitx5EngineWatch::poll() {
    if (call_.isActive()) return;  // the last question is still out
    const uint64_t generation = generation_;
    call_ = sessionBus_.callAsync(controllerCall(QStringLiteral("CurrentInputMethod")), callTimeout,
                                  lifetime_.wrap([this, generation](const DBusReply& reply) {
                                      call_ = AnyCancellable();
                                      if (!running_ || generation != generation_) return;
                                      // Empty until some input context has had the focus.
                                      if (reply.ok()) shown(inputMethodText(reply.value()).value_or(QString()));
                                      takeShown();
                                  }));
}

void Fcitx5EngineWatch::shown(const QString& uniqueName) {
    const QString last = !shown_.empty() ? shown_.back() : engine_ ? engine_->name : QString();
    if (!uniqueName.isEmpty() && uniqueName != last) shown_.push_back(uniqueName);
}

void Fcitx5EngineWatch::takeShown() {
    if (!shown_.empty()) return describe(shown_.front());
    answer();
    pollAgainIfAsked();
}

void Fcitx5EngineWatch::describe(const QString& uniqueName) {
    const uint64_t generation = generation_;
    call_ = sessionBus_.callAsync(
        controllerCall(QStringLiteral("AvailableInputMethods")), callTimeout,
        lifetime_.wrap([this, generation, uniqueName](const DBusReply& reply) {
            call_ = AnyCancellable();
            if (!running_ || generation != generation_) return;
            if (!shown_.empty() && shown_.front() == uniqueName) shown_.pop_front();
            // Only an input method Fcitx5 offers is taken; one it could not be asked about is
            // asked about again at the next poll.
            std::optional<InputMethodEngine> engine = reply.ok() ? engineFromAvailable(reply.value(), uniqueName) : std::nullopt;
            if (!engine) return takeShown();
            // The first input method after Fcitx5 appeared is where it stands; each after it a switch.
            const bool announce = settled_;
            settled_ = true;
            engine_ = std::move(engine);
            if (announce && changed_) changed_();
            takeShown();
        }));
}

void Fcitx5EngineWatch::pollAgainIfAsked() {
    // A switch shown meanwhile is read now, not at the next tick: one switch is one announcement.
    if (running_ && timer_.isValid() && !call_.isActive() && std::exchange(pollAgain_, false)) poll();
}

}  // namespace platform
