#pragma once

#include "platform/accessibility/accessibility.h"
#include "platform/accessibility/atspi_reader.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <memory>
#include <vector>

namespace platform {

// The desktop's accessibility interface, AT-SPI2: trusted while the accessibility bus is reachable
// and switched on (org.a11y.Status.IsEnabled); elements and attributes of the processes watched
// are read from mirrors that a reader thread keeps current on their events, so no call here ever
// waits on a bus. The notification daemon's process (the owner of the notification service) is
// watched from the start.
class AtSpiAccessibility final : public QObject, public Accessibility {
    Q_OBJECT
public:
    AtSpiAccessibility();
    ~AtSpiAccessibility() override;

    // Ends the reader thread and its bus connections; later calls answer as untrusted.
    void shutdown();

    bool isProcessTrusted() const override;
    // With `prompt`, switches the desktop's accessibility on; the answer is the trust known now.
    bool isProcessTrustedWithOptions(bool prompt) override;
    AXError copyAttributeValue(const AXElement& element, const QString& attribute, AXAttributeValue& value) override;
    AXError createObserver(int32_t pid, AXObserverCallback callback, std::unique_ptr<AXObserver>& observer) override;
    std::optional<int32_t> notificationServerPID() const override;
    std::optional<uint64_t> treeGeneration(int32_t pid) const override;
    // Probes asked of the reader by trust checks (not by the reader's own signals).
    int probesRequested() const { return probesRequested_; }

    struct ObserverState;

private:
    void requestProbe() const;
    void watch(int32_t pid);
    void deliver(int32_t pid, const std::vector<atspi::ObservedEvent>& events);

    std::shared_ptr<atspi::PublishedState> state_;
    QThread thread_;
    atspi::Reader* reader_ = nullptr;
    mutable QElapsedTimer lastProbe_;
    mutable int probesRequested_ = 0;
    std::set<int32_t> watched_;
    std::vector<std::weak_ptr<ObserverState>> observers_;
};

}  // namespace platform
