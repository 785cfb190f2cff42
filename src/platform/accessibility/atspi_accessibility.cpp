#include "platform/accessibility/atspi_accessibility.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

namespace platform {

namespace {

// Trust asked for more often than this is answered from the last probe.
constexpr qint64 kProbeIntervalMs = 400;

// The AX notifications an AT-SPI reading can stand for.
bool observable(const QString& notification) {
    return notification == QLatin1String("AXWindowCreated") || notification == QLatin1String("AXCreated") ||
           notification == QLatin1String("AXUIElementDestroyed");
}

}  // namespace

struct AtSpiAccessibility::ObserverState {
    int32_t pid;
    AXObserverCallback callback;
    AXObserver* owner;
    std::vector<std::pair<QString, void*>> registrations;  // on the application element
    bool sourceAdded = false;
};

namespace {

class AtSpiObserver final : public AXObserver {
public:
    AtSpiObserver(std::shared_ptr<AtSpiAccessibility::ObserverState> state, std::shared_ptr<atspi::PublishedState> published)
        : state_(std::move(state)), published_(std::move(published)) {
        state_->owner = this;
    }
    ~AtSpiObserver() override {
        state_->owner = nullptr;
        state_->sourceAdded = false;
        state_->registrations.clear();
    }

    AXError addNotification(const AXElement& element, const QString& notification, void* context) override {
        if (element.pid() != state_->pid || element.id() != 0) return AXError::IllegalArgument;
        if (!observable(notification)) return AXError::NotificationUnsupported;
        {
            std::lock_guard lock(published_->mutex);
            if (!published_->trusted) return AXError::APIDisabled;
            // A process without an application on the accessibility bus announces nothing.
            if (!published_->accessiblePids.count(state_->pid)) return AXError::CannotComplete;
        }
        auto& regs = state_->registrations;
        if (std::any_of(regs.begin(), regs.end(), [&](const auto& r) { return r.first == notification; }))
            return AXError::NotificationAlreadyRegistered;
        regs.emplace_back(notification, context);
        return AXError::Success;
    }
    AXError removeNotification(const AXElement&, const QString& notification) override {
        auto& regs = state_->registrations;
        auto it = std::find_if(regs.begin(), regs.end(), [&](const auto& r) { return r.first == notification; });
        if (it == regs.end()) return AXError::NotificationNotRegistered;
        regs.erase(it);
        return AXError::Success;
    }
    void addRunLoopSource() override { state_->sourceAdded = true; }
    void removeRunLoopSource() override { state_->sourceAdded = false; }

private:
    std::shared_ptr<AtSpiAccessibility::ObserverState> state_;
    std::shared_ptr<atspi::PublishedState> published_;
};

}  // namespace

AtSpiAccessibility::AtSpiAccessibility() : state_(std::make_shared<atspi::PublishedState>()) {
    thread_.setObjectName(QStringLiteral("atspi-reader"));
    reader_ = new atspi::Reader(state_, [this](int32_t pid, std::vector<atspi::ObservedEvent> events) {
        // Runs on the reader thread; the observers are served on the main loop.
        QMetaObject::invokeMethod(
            this, [this, pid, events = std::move(events)] { deliver(pid, events); }, Qt::QueuedConnection);
    });
    reader_->moveToThread(&thread_);
    thread_.start();
    QMetaObject::invokeMethod(reader_, &atspi::Reader::begin, Qt::QueuedConnection);
    lastProbe_.start();
}

AtSpiAccessibility::~AtSpiAccessibility() { shutdown(); }

void AtSpiAccessibility::shutdown() {
    if (!thread_.isRunning()) return;
    QMetaObject::invokeMethod(reader_, &atspi::Reader::shutdown, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete reader_;
    reader_ = nullptr;
    std::lock_guard lock(state_->mutex);
    state_->trusted = false;
    state_->mirrors.clear();
    state_->accessiblePids.clear();
}

void AtSpiAccessibility::requestProbe() const {
    if (!reader_ || lastProbe_.elapsed() < kProbeIntervalMs) return;
    {
        // The reader follows every input of trust by its signals: asking again would only wake it.
        std::lock_guard lock(state_->mutex);
        if (state_->trustFollowed) return;
    }
    ++probesRequested_;
    lastProbe_.start();
    QMetaObject::invokeMethod(reader_, &atspi::Reader::probe, Qt::QueuedConnection);
}

bool AtSpiAccessibility::isProcessTrusted() const {
    requestProbe();
    std::lock_guard lock(state_->mutex);
    return state_->trusted;
}

bool AtSpiAccessibility::isProcessTrustedWithOptions(bool prompt) {
    if (!prompt || !reader_) return isProcessTrusted();
    lastProbe_.start();  // the request probes anyway
    // The answer is the trust before the request, whenever the reader gets to the switch.
    const bool trusted = isProcessTrusted();
    QMetaObject::invokeMethod(reader_, &atspi::Reader::enable, Qt::QueuedConnection);
    return trusted;
}

void AtSpiAccessibility::watch(int32_t pid) {
    if (!reader_ || !watched_.insert(pid).second) return;
    QMetaObject::invokeMethod(reader_, [reader = reader_, pid] { reader->watch(pid); }, Qt::QueuedConnection);
}

AXError AtSpiAccessibility::copyAttributeValue(const AXElement& element, const QString& attribute,
                                               AXAttributeValue& value) {
    if (element.isNull()) return AXError::InvalidUIElement;
    atspi::MirrorPtr mirror;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->trusted) return AXError::APIDisabled;
        auto it = state_->mirrors.find(element.pid());
        if (it != state_->mirrors.end()) mirror = it->second;
    }
    if (!mirror) {
        // Read from now on; until the first reading arrives the process shows nothing.
        watch(element.pid());
        return AXError::CannotComplete;
    }
    return atspi::readAttribute(*mirror, element.id(), attribute, value);
}

AXError AtSpiAccessibility::createObserver(int32_t pid, AXObserverCallback callback,
                                           std::unique_ptr<AXObserver>& observer) {
    observer.reset();
    if (!callback || pid <= 0) return AXError::IllegalArgument;
    watch(pid);
    auto state = std::make_shared<ObserverState>(ObserverState{pid, callback, nullptr, {}, false});
    observers_.push_back(state);
    observer = std::make_unique<AtSpiObserver>(state, state_);
    return AXError::Success;
}

void AtSpiAccessibility::deliver(int32_t pid, const std::vector<atspi::ObservedEvent>& events) {
    std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
    for (const auto& event : events) {
        // Copied first: a callback may stop its detector, which drops observers.
        std::vector<std::shared_ptr<ObserverState>> live;
        for (const auto& weak : observers_)
            if (auto state = weak.lock(); state && state->pid == pid) live.push_back(std::move(state));
        for (const auto& state : live) {
            if (!state->sourceAdded || !state->owner) continue;
            for (const auto& [notification, context] : state->registrations) {
                if (notification != event.notification) continue;
                state->callback(*state->owner, AXElement(pid, event.element), notification, context);
                break;  // the callback may have removed this registration
            }
        }
    }
}

std::optional<int32_t> AtSpiAccessibility::notificationServerPID() const {
    requestProbe();
    std::lock_guard lock(state_->mutex);
    return state_->notificationServerPid;
}

std::optional<uint64_t> AtSpiAccessibility::treeGeneration(int32_t pid) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->mirrors.find(pid);
    if (it == state_->mirrors.end()) return std::nullopt;
    return it->second->generation;
}

}  // namespace platform
