#pragma once

#include "platform/accessibility/accessibility.h"

#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace testsupport {

// A scripted element and its subtree, built fluently:
//   FakeAXNode("AXGroup").subrole("AXNotification").child(FakeAXNode("AXStaticText").value("Hi"))
struct FakeAXNode {
    FakeAXNode() = default;
    explicit FakeAXNode(const QString& role) {
        if (!role.isEmpty()) attributes[QStringLiteral("AXRole")] = role;
    }

    FakeAXNode& attribute(const QString& name, platform::AXAttributeValue value) {
        attributes[name] = std::move(value);
        return *this;
    }
    FakeAXNode& subrole(const QString& text) { return attribute(QStringLiteral("AXSubrole"), text); }
    FakeAXNode& identifier(const QString& text) { return attribute(QStringLiteral("AXIdentifier"), text); }
    FakeAXNode& value(const QString& text) { return attribute(QStringLiteral("AXValue"), text); }
    FakeAXNode& title(const QString& text) { return attribute(QStringLiteral("AXTitle"), text); }
    FakeAXNode& description(const QString& text) { return attribute(QStringLiteral("AXDescription"), text); }
    FakeAXNode& image(const QImage& image) { return attribute(QStringLiteral("AXImage"), image); }
    FakeAXNode& child(FakeAXNode node) {
        children.push_back(std::move(node));
        return *this;
    }

    std::map<QString, platform::AXAttributeValue> attributes;
    std::vector<FakeAXNode> children;
};

// Scripted accessibility: process trees, per-attribute failures, read counters, observers and
// posted events. Installs itself as the shared backend while alive.
class FakeAccessibility final : public platform::Accessibility {
public:
    struct Registration {
        int32_t pid;
        platform::AXElement element;
        QString notification;
        void* context;
    };

    FakeAccessibility();
    ~FakeAccessibility() override;
    FakeAccessibility(const FakeAccessibility&) = delete;
    FakeAccessibility& operator=(const FakeAccessibility&) = delete;

    // Trust. A prompt is shown only when one is asked for while not trusted.
    void setTrusted(bool trusted) { trusted_ = trusted; }
    int promptCount() const { return prompts_; }
    int trustChecksWithPromptOption() const { return promptOptionChecks_; }

    // Trees. A process's application element answers "AXWindows" with the windows added so far
    // (an empty list when none) and "AXChildren" with its children.
    platform::AXElement addProcess(int32_t pid);
    platform::AXElement addWindow(int32_t pid, const FakeAXNode& tree);
    platform::AXElement addChild(const platform::AXElement& parent, const FakeAXNode& tree);
    platform::AXElementList childrenOf(const platform::AXElement& element) const;
    void setAttribute(const platform::AXElement& element, const QString& name, platform::AXAttributeValue value);
    // Every later read of this attribute of this element fails with `error`.
    void failAttribute(const platform::AXElement& element, const QString& name, platform::AXError error);

    int readCount(const platform::AXElement& element) const;
    int totalReads() const { return totalReads_; }
    // Distinct elements with at least one attribute read.
    size_t elementsRead() const { return reads_.size(); }
    size_t elementCount() const { return nodes_.size(); }

    // Observers.
    void failNotification(const QString& notification, platform::AXError error) {
        shared_->notificationErrors[notification] = error;
    }
    std::vector<Registration> registrations() const;
    int observersCreated() const { return observersCreated_; }
    int liveObservers() const;
    int observersWithSourceAdded() const;
    // Successful removals of registrations and of run-loop sources, by any observer.
    int notificationsRemoved() const { return shared_->notificationsRemoved; }
    int sourcesRemoved() const { return shared_->sourcesRemoved; }
    // Sends `notification` about `element` (the application element when null) from process
    // `pid`. Every observer of that process registered for it on the element or on the
    // application element is called through the shared scheduler's main queue, if its run-loop
    // source is still added at delivery.
    void post(int32_t pid, const QString& notification, platform::AXElement element = {});

    // The notification service's owner, and a tree change count per process (none: not told).
    void setNotificationServerPID(std::optional<int32_t> pid) { notificationServerPid_ = pid; }
    void setTreeGeneration(int32_t pid, uint64_t generation) { generations_[pid] = generation; }
    std::optional<int32_t> notificationServerPID() const override { return notificationServerPid_; }
    std::optional<uint64_t> treeGeneration(int32_t pid) const override {
        auto it = generations_.find(pid);
        if (it == generations_.end()) return std::nullopt;
        return it->second;
    }

    bool isProcessTrusted() const override { return trusted_; }
    bool isProcessTrustedWithOptions(bool prompt) override;
    platform::AXError copyAttributeValue(const platform::AXElement& element, const QString& attribute,
                                         platform::AXAttributeValue& value) override;
    platform::AXError createObserver(int32_t pid, platform::AXObserverCallback callback,
                                     std::unique_ptr<platform::AXObserver>& observer) override;

    struct ObserverState;
    // What the fake shares with its observers, which may outlive it.
    struct Shared {
        std::map<QString, platform::AXError> notificationErrors;
        int notificationsRemoved = 0;
        int sourcesRemoved = 0;
    };

private:
    struct Node {
        std::map<QString, platform::AXAttributeValue> attributes;
        std::map<QString, platform::AXError> failures;
        platform::AXElementList children;
        platform::AXElementList windows;
        bool isApplication = false;
    };
    using Key = std::pair<int32_t, uint64_t>;
    static Key key(const platform::AXElement& e) { return {e.pid(), e.id()}; }

    platform::AXElement build(int32_t pid, const FakeAXNode& tree);
    Node* node(const platform::AXElement& element);

    bool trusted_ = false;
    std::optional<int32_t> notificationServerPid_;
    std::map<int32_t, uint64_t> generations_;
    int prompts_ = 0;
    int promptOptionChecks_ = 0;
    uint64_t nextId_ = 1;
    std::map<Key, Node> nodes_;
    std::map<Key, std::map<QString, int>> reads_;
    int totalReads_ = 0;

    std::shared_ptr<Shared> shared_;
    int observersCreated_ = 0;
    std::vector<std::weak_ptr<ObserverState>> observers_;
    platform::Accessibility* previous_;
};

}  // namespace testsupport
