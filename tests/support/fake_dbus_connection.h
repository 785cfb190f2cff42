#pragma once

#include "platform/dbus/dbus_connection.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace testsupport {

// A scriptable bus. Replies come from handlers keyed by "interface.method" (or a default
// error); async replies are posted on the shared Scheduler, and calls marked silent answer
// timedOut only when their timeout has passed on that scheduler (virtual time in tests).
class FakeDBusConnection final : public platform::DBusConnection {
public:
    using CallHandler = std::function<platform::DBusReply(const platform::DBusCall&)>;

    bool isConnected() const override { return connected_; }
    QString uniqueName() const override { return connected_ ? QStringLiteral(":1.1") : QString(); }
    platform::DBusReply call(const platform::DBusCall& call, Timeout timeout) override;
    [[nodiscard]] platform::AnyCancellable callAsync(const platform::DBusCall& call, Timeout timeout,
                                                     ReplyHandler done) override;
    [[nodiscard]] platform::AnyCancellable subscribe(const platform::DBusMatch& match, SignalHandler handler) override;

    void setConnected(bool connected) { connected_ = connected; }
    // Answers "interface.method" with `handler` (or a fixed reply).
    void onCall(const QString& interfaceDotMethod, CallHandler handler);
    void reply(const QString& interfaceDotMethod, QVariantList values);
    // Never answers "interface.method": callers get timedOut after their timeout.
    void silence(const QString& interfaceDotMethod);
    // Owner of a well-known name, so subscriptions by name match signals from it; GetNameOwner
    // answers with it unless given a handler.
    void setOwner(const QString& name, const QString& uniqueName);
    // Refuses every eavesdropping match from now on with `errorName`, as dbus-broker does.
    void refuseEavesdropping(const QString& errorName) { eavesdropRefusal_ = errorName; }

    // Delivers `signal` to every live matching subscription; returns how many got it.
    int emitSignal(const platform::DBusSignal& signal);

    const std::vector<platform::DBusCall>& calls() const { return calls_; }
    std::vector<Timeout> timeouts() const { return timeouts_; }
    int activeSubscriptionCount() const;

private:
    struct Subscription {
        platform::DBusMatch match;
        SignalHandler handler;
    };
    platform::DBusReply answer(const platform::DBusCall& call, bool* silent);
    bool matches(const platform::DBusMatch& match, const platform::DBusSignal& signal) const;

    bool connected_ = true;
    std::map<QString, CallHandler> handlers_;
    std::map<QString, QString> owners_;
    QString eavesdropRefusal_;
    std::vector<platform::DBusCall> calls_;
    std::vector<Timeout> timeouts_;
    std::vector<std::shared_ptr<Subscription>> subscriptions_;
};

}  // namespace testsupport
