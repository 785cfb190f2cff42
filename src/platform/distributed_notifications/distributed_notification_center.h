#pragma once

// System-wide notices that any program may post, observed by name.

#include "platform/runtime/dispatch.h"
#include "platform/runtime/reactive.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace platform {

class DistributedNotificationCenter {
public:
    using Observer = std::function<void(const QString& name)>;

    virtual ~DistributedNotificationCenter() = default;

    // The user's session.
    static DistributedNotificationCenter& shared();

    // Every notice posted from now on, by name, on the main thread, until the cancellable is
    // cancelled or dropped (notices already on their way are dropped too). Inactive when the
    // notices cannot be observed.
    [[nodiscard]] virtual AnyCancellable observeAll(Observer observer) = 0;
};

// The signals a D-Bus bus broadcasts under the given names ("<interface>.<member>") are the
// desktop's notices; the bus is asked for those alone, so other programs' signals wake nothing of
// ours. Each observation has its own connection, served by a thread of its own: the bus library
// on the main thread dispatches a signal only to a subscription that names its interface or member.
class BusSignalNotificationCenter final : public DistributedNotificationCenter {
public:
    // An empty address is the session bus; no scheduler is the shared one at each observation.
    explicit BusSignalNotificationCenter(QStringList notices, QString busAddress = {}, Scheduler* scheduler = nullptr);

    // Waits (at most a couple of seconds) until the bus has taken the subscriptions, so a signal
    // sent after this returns is seen. Inactive without notices to observe.
    [[nodiscard]] AnyCancellable observeAll(Observer observer) override;

private:
    QStringList notices_;
    QString busAddress_;
    Scheduler* scheduler_;
};

}  // namespace platform
