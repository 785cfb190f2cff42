#pragma once

#include "platform/accessibility/atspi_mirror.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace platform::atspi {

// An event of a mirrored application, as the observers name it, about the element it concerns.
struct ObservedEvent {
    QString notification;  // "AXWindowCreated", "AXCreated" or "AXUIElementDestroyed"
    uint64_t element;
};

// What the reader publishes for readers on other threads; guarded by `mutex`.
struct PublishedState {
    std::mutex mutex;
    bool trusted = false;
    // The desktop's switch is followed by its change signal (with the owners of the buses by
    // theirs), so the trust published stays current without anyone asking.
    bool trustFollowed = false;
    std::optional<int32_t> notificationServerPid;
    std::set<int32_t> accessiblePids;  // processes with an application on the accessibility bus
    std::map<int32_t, MirrorPtr> mirrors;
};

// Lives on a thread of its own and does all the waiting on the session and accessibility buses:
// the trust probe, the owner of the notification service, the applications on the accessibility
// bus, and the mirrors of the applications watched, re-read after each change they announce.
class Reader : public QObject {
    Q_OBJECT
public:
    // `deliver` runs on this thread with the events of one mirrored process, after its mirror
    // has been re-read and published.
    using Deliver = std::function<void(int32_t pid, std::vector<ObservedEvent> events)>;

    Reader(std::shared_ptr<PublishedState> state, Deliver deliver);
    ~Reader() override;

public Q_SLOTS:
    void begin();
    // Re-reads trust and the notification service's owner.
    void probe();
    // Turns the desktop's accessibility on (any client may), then probes.
    void enable();
    // Keeps a mirror of `pid` from now on.
    void watch(int pid);
    void shutdown();

private Q_SLOTS:
    void onNotificationsOwnerChanged();
    void onA11yBusOwnerChanged();
    void onA11yStatusChanged();
    void onEvent(const QDBusMessage& message);
    void onRootChildrenChanged(const QDBusMessage& message);
    void listAnnouncedApplications();
    void onA11yNameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void refreshDirty();

private:
    bool connectAccessibilityBus(const QString& address);
    void dropAccessibilityBus();
    void listApplications();
    std::optional<int32_t> notificationOwnerPid();
    void refresh(int32_t pid);
    std::optional<Mirror> read(int32_t pid, const QString& busName);
    uint64_t idFor(const QString& busName, const QString& path);
    void publish();

    std::shared_ptr<PublishedState> state_;
    Deliver deliver_;
    QDBusConnection session_{QString()};
    QDBusConnection a11y_{QString()};
    QString a11yAddress_;
    QString sessionName_;
    QString a11yName_;
    bool enabled_ = false;
    bool addressStale_ = true;
    bool ownerStale_ = true;
    std::optional<int32_t> notificationPid_;
    QHash<QString, int32_t> appPids_;  // bus name -> process
    QElapsedTimer lastListing_;
    std::set<int32_t> watched_;
    std::map<int32_t, MirrorPtr> mirrors_;
    std::set<int32_t> dirty_;
    std::map<int32_t, std::vector<ObservedEvent>> pending_;
    QTimer refreshTimer_;
    QTimer relistTimer_;  // an announcement within a burst: listed once the burst is over
    QHash<QString, uint64_t> ids_;
    uint64_t nextId_ = 1;
    uint64_t generations_ = 0;
};

}  // namespace platform::atspi
