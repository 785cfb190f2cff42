#include "support/fake_accessibility.h"

#include "platform/runtime/dispatch.h"

#include <algorithm>

namespace testsupport {

using platform::AXAttributeValue;
using platform::AXElement;
using platform::AXElementList;
using platform::AXError;

struct FakeAccessibility::ObserverState {
    int32_t pid = 0;
    platform::AXObserverCallback callback = nullptr;
    platform::AXObserver* owner = nullptr;
    bool sourceAdded = false;
    std::vector<Registration> registrations;
    std::shared_ptr<FakeAccessibility::Shared> shared;
};

namespace {

class FakeObserver final : public platform::AXObserver {
public:
    explicit FakeObserver(std::shared_ptr<FakeAccessibility::ObserverState> state) : state_(std::move(state)) {
        state_->owner = this;
    }
    ~FakeObserver() override {
        state_->owner = nullptr;
        state_->sourceAdded = false;
        state_->registrations.clear();
    }

    AXError addNotification(const AXElement& element, const QString& notification, void* context) override {
        const auto& errors = state_->shared->notificationErrors;
        if (auto it = errors.find(notification); it != errors.end()) return it->second;
        for (const auto& r : state_->registrations)
            if (r.element == element && r.notification == notification) return AXError::NotificationAlreadyRegistered;
        state_->registrations.push_back({state_->pid, element, notification, context});
        return AXError::Success;
    }

    AXError removeNotification(const AXElement& element, const QString& notification) override {
        auto& regs = state_->registrations;
        auto it = std::find_if(regs.begin(), regs.end(), [&](const FakeAccessibility::Registration& r) {
            return r.element == element && r.notification == notification;
        });
        if (it == regs.end()) return AXError::NotificationNotRegistered;
        regs.erase(it);
        ++state_->shared->notificationsRemoved;
        return AXError::Success;
    }

    void addRunLoopSource() override { state_->sourceAdded = true; }
    void removeRunLoopSource() override {
        if (state_->sourceAdded) ++state_->shared->sourcesRemoved;
        state_->sourceAdded = false;
    }

private:
    std::shared_ptr<FakeAccessibility::ObserverState> state_;
};

}  // namespace

FakeAccessibility::FakeAccessibility()
    : shared_(std::make_shared<Shared>()), previous_(platform::Accessibility::setShared(this)) {}

FakeAccessibility::~FakeAccessibility() { platform::Accessibility::setShared(previous_); }

bool FakeAccessibility::isProcessTrustedWithOptions(bool prompt) {
    if (prompt) {
        ++promptOptionChecks_;
        if (!trusted_) ++prompts_;
    }
    return trusted_;
}

AXElement FakeAccessibility::addProcess(int32_t pid) {
    AXElement app = AXElement::application(pid);
    nodes_[key(app)].isApplication = true;
    return app;
}

AXElement FakeAccessibility::build(int32_t pid, const FakeAXNode& tree) {
    AXElement element(pid, nextId_++);
    Node& n = nodes_[key(element)];
    n.attributes = tree.attributes;
    n.children.reserve(tree.children.size());
    for (const auto& child : tree.children) n.children.push_back(build(pid, child));  // map nodes stay put
    return element;
}

AXElement FakeAccessibility::addWindow(int32_t pid, const FakeAXNode& tree) {
    AXElement app = addProcess(pid);
    AXElement window = build(pid, tree);
    nodes_[key(app)].windows.push_back(window);
    return window;
}

AXElement FakeAccessibility::addChild(const AXElement& parent, const FakeAXNode& tree) {
    AXElement child = build(parent.pid(), tree);
    nodes_[key(parent)].children.push_back(child);
    return child;
}

AXElementList FakeAccessibility::childrenOf(const AXElement& element) const {
    auto it = nodes_.find(key(element));
    return it == nodes_.end() ? AXElementList{} : it->second.children;
}

void FakeAccessibility::setAttribute(const AXElement& element, const QString& name, AXAttributeValue value) {
    nodes_[key(element)].attributes[name] = std::move(value);
}

void FakeAccessibility::failAttribute(const AXElement& element, const QString& name, AXError error) {
    nodes_[key(element)].failures[name] = error;
}

int FakeAccessibility::readCount(const AXElement& element) const {
    auto it = reads_.find(key(element));
    if (it == reads_.end()) return 0;
    int total = 0;
    for (const auto& [name, n] : it->second) total += n;
    return total;
}

FakeAccessibility::Node* FakeAccessibility::node(const AXElement& element) {
    auto it = nodes_.find(key(element));
    return it == nodes_.end() ? nullptr : &it->second;
}

AXError FakeAccessibility::copyAttributeValue(const AXElement& element, const QString& attribute,
                                              AXAttributeValue& value) {
    ++totalReads_;
    ++reads_[key(element)][attribute];
    Node* n = node(element);
    if (!n) return AXError::InvalidUIElement;
    if (auto f = n->failures.find(attribute); f != n->failures.end()) return f->second;
    if (auto a = n->attributes.find(attribute); a != n->attributes.end()) {
        value = a->second;
        return AXError::Success;
    }
    if (attribute == QLatin1String("AXChildren")) {
        value = n->children;
        return AXError::Success;
    }
    if (attribute == QLatin1String("AXWindows") && n->isApplication) {
        value = n->windows;
        return AXError::Success;
    }
    return AXError::NoValue;
}

AXError FakeAccessibility::createObserver(int32_t pid, platform::AXObserverCallback callback,
                                          std::unique_ptr<platform::AXObserver>& observer) {
    observer.reset();
    if (!callback) return AXError::IllegalArgument;
    auto state = std::make_shared<ObserverState>();
    state->pid = pid;
    state->callback = callback;
    state->shared = shared_;
    observer = std::make_unique<FakeObserver>(state);
    observers_.push_back(state);
    ++observersCreated_;
    return AXError::Success;
}

std::vector<FakeAccessibility::Registration> FakeAccessibility::registrations() const {
    std::vector<Registration> out;
    for (const auto& weak : observers_)
        if (auto state = weak.lock(); state && state->owner)
            out.insert(out.end(), state->registrations.begin(), state->registrations.end());
    return out;
}

int FakeAccessibility::liveObservers() const {
    int n = 0;
    for (const auto& weak : observers_)
        if (auto state = weak.lock(); state && state->owner) ++n;
    return n;
}

int FakeAccessibility::observersWithSourceAdded() const {
    int n = 0;
    for (const auto& weak : observers_)
        if (auto state = weak.lock(); state && state->owner && state->sourceAdded) ++n;
    return n;
}

void FakeAccessibility::post(int32_t pid, const QString& notification, AXElement element) {
    AXElement app = AXElement::application(pid);
    if (element.isNull()) element = app;
    for (const auto& weak : observers_) {
        auto state = weak.lock();
        if (!state || !state->owner || state->pid != pid) continue;
        platform::Scheduler::shared().post([weak, app, element, notification] {
            auto s = weak.lock();
            if (!s || !s->owner || !s->sourceAdded) return;
            // Registrations are checked at delivery, so a removal in between drops the event.
            for (const auto& r : s->registrations) {
                if (r.notification != notification || !(r.element == element || r.element == app)) continue;
                s->callback(*s->owner, element, notification, r.context);
                break;
            }
        });
    }
}

}  // namespace testsupport
