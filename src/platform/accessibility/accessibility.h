#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace platform {

// Result of an accessibility call: 0 is success, failures are the platform's negative codes.
enum class AXError : int32_t {
    Success = 0,
    Failure = -25200,
    IllegalArgument = -25201,
    InvalidUIElement = -25202,
    InvalidUIElementObserver = -25203,
    CannotComplete = -25204,
    AttributeUnsupported = -25205,
    NotificationUnsupported = -25207,
    NotImplemented = -25208,
    NotificationAlreadyRegistered = -25209,
    NotificationNotRegistered = -25210,
    APIDisabled = -25211,
    NoValue = -25212,
};

inline int32_t axErrorCode(AXError error) { return static_cast<int32_t>(error); }

// A reference to one element of another process's accessibility tree. Id 0 is the process's
// application element; other ids are the backend's own.
class AXElement {
public:
    AXElement() = default;
    AXElement(int32_t pid, uint64_t id) : pid_(pid), id_(id), valid_(true) {}

    static AXElement application(int32_t pid) { return AXElement(pid, 0); }

    bool isNull() const { return !valid_; }
    int32_t pid() const { return pid_; }
    uint64_t id() const { return id_; }
    friend bool operator==(const AXElement&, const AXElement&) = default;

private:
    int32_t pid_ = 0;
    uint64_t id_ = 0;
    bool valid_ = false;
};

using AXElementList = std::vector<AXElement>;

// What an attribute read yields: a text, a list of elements, an image or a number. Callers test
// the kind they expect and treat any other as absent.
using AXAttributeValue = std::variant<QString, AXElementList, QImage, double>;

class AXObserver;

// Called on the main loop for each notification an observer receives, with the context pointer
// given at registration.
using AXObserverCallback = void (*)(AXObserver& observer, const AXElement& element, const QString& notification,
                                    void* context);

// Watches one process for accessibility notifications.
class AXObserver {
public:
    virtual ~AXObserver() = default;

    virtual AXError addNotification(const AXElement& element, const QString& notification, void* context) = 0;
    virtual AXError removeNotification(const AXElement& element, const QString& notification) = 0;

    // The observer's run-loop source. Events reach the callback, on the main loop, only while it
    // is added; events still queued when it is removed are dropped.
    virtual void addRunLoopSource() = 0;
    virtual void removeRunLoopSource() = 0;
};

// Trust, elements and observers of the platform's accessibility interface.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // The process-wide backend (the Linux one unless a test installed another).
    static Accessibility& shared();
    // Installs `backend` (nullptr restores the default); returns the previous one.
    static Accessibility* setShared(Accessibility* backend);

    // Whether this process may use the accessibility interface; never prompts.
    virtual bool isProcessTrusted() const = 0;
    // The same test; with `prompt`, the system asks the user to grant trust when it is missing.
    virtual bool isProcessTrustedWithOptions(bool prompt) = 0;

    virtual AXElement createApplication(int32_t pid) { return AXElement::application(pid); }
    virtual AXError copyAttributeValue(const AXElement& element, const QString& attribute, AXAttributeValue& value) = 0;
    virtual AXError createObserver(int32_t pid, AXObserverCallback callback, std::unique_ptr<AXObserver>& observer) = 0;

    // The process that shows the desktop's notifications (the owner of the notification service),
    // when the backend knows one.
    virtual std::optional<int32_t> notificationServerPID() const { return std::nullopt; }
    // Changes whenever what the process's tree shows changes; none when the backend cannot tell,
    // and then every reading must walk the tree.
    virtual std::optional<uint64_t> treeGeneration(int32_t) const { return std::nullopt; }
};

// No accessibility interface at all (no application object to run the AT-SPI reader on): nothing
// is trusted, no attribute can be read and no observer can be made.
class NullAccessibility final : public Accessibility {
public:
    bool isProcessTrusted() const override { return false; }
    bool isProcessTrustedWithOptions(bool) override { return false; }
    AXError copyAttributeValue(const AXElement&, const QString&, AXAttributeValue&) override {
        return AXError::APIDisabled;
    }
    AXError createObserver(int32_t, AXObserverCallback, std::unique_ptr<AXObserver>& observer) override {
        observer.reset();
        return AXError::APIDisabled;
    }
};

}  // namespace platform
