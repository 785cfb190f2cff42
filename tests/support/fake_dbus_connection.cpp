#include "support/fake_dbus_connection.h"

#include "platform/runtime/dispatch.h"

namespace testsupport {

using platform::DBusReply;

namespace {
QString key(const platform::DBusCall& call) { return call.interface + QLatin1Char('.') + call.method; }
}  // namespace

void FakeDBusConnection::onCall(const QString& interfaceDotMethod, CallHandler handler) {
    handlers_[interfaceDotMethod] = std::move(handler);
}

void FakeDBusConnection::reply(const QString& interfaceDotMethod, QVariantList values) {
    onCall(interfaceDotMethod, [values = std::move(values)](const platform::DBusCall&) {
        return DBusReply{DBusReply::Status::ok, values, {}, {}};
    });
}

void FakeDBusConnection::silence(const QString& interfaceDotMethod) { handlers_[interfaceDotMethod] = nullptr; }

void FakeDBusConnection::setOwner(const QString& name, const QString& uniqueName) { owners_[name] = uniqueName; }

DBusReply FakeDBusConnection::answer(const platform::DBusCall& call, bool* silent) {
    *silent = false;
    if (!connected_) return {};
    auto it = handlers_.find(key(call));
    if (it == handlers_.end() && key(call) == QLatin1String("org.freedesktop.DBus.GetNameOwner")) {
        const auto owner = owners_.find(call.arguments.value(0).toString());
        if (owner != owners_.end()) return {DBusReply::Status::ok, {owner->second}, {}, {}};
        return {DBusReply::Status::error, {}, QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"), {}};
    }
    if (it == handlers_.end())
        return {DBusReply::Status::error, {}, QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), key(call)};
    if (!it->second) {
        *silent = true;
        return {DBusReply::Status::timedOut, {}, QStringLiteral("org.freedesktop.DBus.Error.NoReply"), {}};
    }
    return it->second(call);
}

DBusReply FakeDBusConnection::call(const platform::DBusCall& call, Timeout timeout) {
    calls_.push_back(call);
    timeouts_.push_back(timeout);
    bool silent = false;
    return answer(call, &silent);
}

platform::AnyCancellable FakeDBusConnection::callAsync(const platform::DBusCall& call, Timeout timeout,
                                                       ReplyHandler done) {
    calls_.push_back(call);
    timeouts_.push_back(timeout);
    bool silent = false;
    DBusReply reply = answer(call, &silent);
    auto handler = std::make_shared<ReplyHandler>(std::move(done));
    auto deliver = [handler, reply] {
        if (auto fn = std::exchange(*handler, nullptr)) fn(reply);
    };
    auto& scheduler = platform::Scheduler::shared();
    platform::WorkItem item = silent ? scheduler.after(static_cast<double>(timeout.count()) / 1000.0, deliver)
                                     : scheduler.post(deliver);
    auto work = std::make_shared<platform::WorkItem>(std::move(item));
    return platform::AnyCancellable([handler, work] {
        *handler = nullptr;
        work->cancel();
    });
}

platform::AnyCancellable FakeDBusConnection::subscribe(const platform::DBusMatch& match, SignalHandler handler) {
    if (!connected_) return {};
    auto subscription = std::make_shared<Subscription>(Subscription{match, std::move(handler)});
    subscriptions_.push_back(subscription);
    std::weak_ptr<Subscription> weak = subscription;
    if (match.eavesdrop && match.eavesdropRefused && !eavesdropRefusal_.isEmpty()) {
        // Answered later, as the bus answers AddMatch.
        platform::Scheduler::shared().post([weak, error = eavesdropRefusal_, refused = match.eavesdropRefused] {
            if (auto s = weak.lock(); s && s->handler) refused(error);
        });
    }
    return platform::AnyCancellable([weak] {
        if (auto s = weak.lock()) s->handler = nullptr;
    });
}

bool FakeDBusConnection::matches(const platform::DBusMatch& match, const platform::DBusSignal& signal) const {
    if (!match.service.isEmpty() && match.service != signal.sender) {
        auto owner = owners_.find(match.service);
        if (owner == owners_.end() || owner->second != signal.sender) return false;
    }
    if (!match.path.isEmpty() && match.path != signal.path) return false;
    if (!match.interface.isEmpty() && match.interface != signal.interface) return false;
    if (!match.member.isEmpty() && match.member != signal.member) return false;
    if (!match.arg0.isEmpty() && (signal.arguments.isEmpty() || signal.arguments.first().toString() != match.arg0))
        return false;
    return true;
}

int FakeDBusConnection::emitSignal(const platform::DBusSignal& signal) {
    int delivered = 0;
    const auto snapshot = subscriptions_;
    for (const auto& s : snapshot) {
        if (!s->handler || !matches(s->match, signal)) continue;
        auto handler = s->handler;
        handler(signal);
        ++delivered;
    }
    return delivered;
}

int FakeDBusConnection::activeSubscriptionCount() const {
    int count = 0;
    for (const auto& s : subscriptions_) count += s->handler ? 1 : 0;
    return count;
}

}  // namespace testsupport
