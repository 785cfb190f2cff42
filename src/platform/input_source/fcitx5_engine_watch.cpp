#include "platform/input_source/fcitx5_engine_watch.h"

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

DBusCall nameHasOwner(const QString& name) {
    return DBusCall{QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"), {name}};
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
        InputMethodEngine engine;
        engine.framework = QStringLiteral("fcitx5");
        engine.name = uniqueName;
        engine.longName = fields.at(1).toString();
        engine.symbol = fields.at(4).toString();
        engine.language = fields.at(5).toString();
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
        gone();
        if (!owner.isEmpty()) appeared();
    }));
    kimpanelUpdates_ = sessionBus_.subscribe(
        DBusMatch{kFcitxName, kKimpanelPath, kKimpanel, QStringLiteral("UpdateProperty"), QString()},
        lifetime_.wrap([this](const DBusSignal& signal) {
            if (auto status = kimpanelInputMethod(signal.arguments.value(0).toString())) statusHeard(std::move(*status), false);
        }));
    kimpanelRegistrations_ = sessionBus_.subscribe(
        DBusMatch{kFcitxName, kKimpanelPath, kKimpanel, QStringLiteral("RegisterProperties"), QString()},
        lifetime_.wrap([this](const DBusSignal& signal) {
            for (const QString& property : signal.arguments.value(0).toStringList())
                if (auto status = kimpanelInputMethod(property)) statusHeard(std::move(*status), true);
        }));
    // Sent to each input context's owner; any connection of Fcitx5's (its portal's too) sends them.
    inputContextSwitches_ = sessionBus_.subscribe(
        DBusMatch{QString(), QString(), kInputContext, QStringLiteral("CurrentIM"), QString(), true},
        lifetime_.wrap([this](const DBusSignal& signal) {
            if (paused_ || !present_) return;
            shown(signal.arguments.value(1).toString());
            if (!call_.isActive() && !shown_.empty()) describe(shown_.front());
        }));
    panelOwnerWatch_ = sessionBus_.watchNameOwner(kPanelName, lifetime_.wrap([this](const QString& owner) {
        panelPresent_ = !owner.isEmpty();
        panelKnown_ = true;
        reportAnswered();
    }));
    panelPresence_ = sessionBus_.callAsync(nameHasOwner(kPanelName), callTimeout,
                                           lifetime_.wrap([this](const DBusReply& reply) {
                                               // A change heard meanwhile is newer than this answer.
                                               if (!running_ || panelKnown_) return;
                                               panelPresent_ = reply.ok() && reply.value().toBool();
                                               panelKnown_ = true;
                                               reportAnswered();
                                           }));
    presence_ = sessionBus_.callAsync(
        nameHasOwner(kFcitxName), callTimeout, lifetime_.wrap([this](const DBusReply& reply) {
            if (!running_ || present_) return;
            if (reply.ok() && reply.value().toBool()) appeared();
            else answer();
        }));
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

void Fcitx5EngineWatch::appeared() {
    settled_ = false;
    present_ = true;
    trayKnown_ = false;
    tray_.start(
        kFcitxName, lifetime_.wrap([this](const InputMethodStatus& status, bool first) { statusHeard(status, first); }),
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
                                      if (reply.ok()) shown(reply.value().toString());
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
            InputMethodEngine engine;
            engine.framework = QStringLiteral("fcitx5");
            engine.name = uniqueName;
            if (reply.ok()) engine = engineFromAvailable(reply.value(), uniqueName).value_or(engine);
            if (!shown_.empty() && shown_.front() == uniqueName) shown_.pop_front();
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
