#include "platform/sharing/obex_object_push.h"

#include "platform/sharing/obex.h"
#include "platform/sharing/obex_transfer_watch.h"

#include <QDBusObjectPath>
#include <QFileInfo>
#include <QVariantMap>

#include <map>
#include <utility>

namespace platform {

namespace {

using obex::log;

QString reasonOf(const DBusReply& reply) {
    switch (reply.status) {
    case DBusReply::Status::ok: return {};
    case DBusReply::Status::timedOut: return QStringLiteral("no answer from obexd");
    case DBusReply::Status::noBus: return QStringLiteral("no session bus");
    case DBusReply::Status::error: break;
    }
    return reply.errorMessage.isEmpty() ? reply.errorName : reply.errorMessage;
}

}  // namespace

struct ObexObjectPush::State : std::enable_shared_from_this<State> {
    State(DBusConnection& bus, QString address, QStringList files, std::function<void()> finished)
        : bus(bus), address(std::move(address)), files(std::move(files)), finished(std::move(finished)) {}

    DBusConnection& bus;
    QString address;
    QStringList files;
    std::function<void()> finished;
    bool alive = true;
    int next = 0;
    QString session;
    QString awaiting;  // the transfer of files[next], once SendFile answered
    std::map<QString, ObexTransferWatch::Ending> early;  // endings seen before their SendFile answered
    std::unique_ptr<ObexTransferWatch> watch;
    AnyCancellable pending;

    template <class F>
    DBusConnection::ReplyHandler guarded(F fn) {
        return [weak = weak_from_this(), fn](const DBusReply& reply) {
            auto state = weak.lock();
            if (state && state->alive) fn(*state, reply);
        };
    }

    void start() {
        // Watching first, so no transfer of ours can end unseen.
        watch = std::make_unique<ObexTransferWatch>(bus, [weak = weak_from_this()](const ObexTransferWatch::Ending& ending) {
            auto state = weak.lock();
            if (state && state->alive) state->ended(ending);
        });
        pending = bus.callAsync({obex::service, obex::clientPath, obex::clientInterface, QStringLiteral("CreateSession"),
                                 {address, QVariantMap{{QStringLiteral("Target"), QStringLiteral("opp")}}}},
                                connectTimeout, guarded([](State& state, const DBusReply& reply) {
                                    if (!reply.ok()) {
                                        log(LogLevel::Error, QStringLiteral("ObjectPush: Could not connect to ") + state.address +
                                                                 QStringLiteral(": ") + reasonOf(reply));
                                        state.finish();
                                        return;
                                    }
                                    state.session = obex::objectPath(reply.value());
                                    state.sendNext();
                                }));
    }

    void sendNext() {
        if (next >= files.size()) {
            close();
            return;
        }
        pending = bus.callAsync({obex::service, session, obex::objectPushInterface, QStringLiteral("SendFile"), {files.at(next)}},
                                callTimeout, guarded([](State& state, const DBusReply& reply) {
                                    if (!reply.ok()) {
                                        state.fileEnded(false, reasonOf(reply));
                                        return;
                                    }
                                    state.awaiting = obex::objectPath(reply.value());
                                    const auto it = state.early.find(state.awaiting);
                                    if (it != state.early.end())
                                        state.fileEnded(it->second.complete, {});
                                    else if (state.watch)
                                        state.watch->follow(state.awaiting, reply.value(1).toMap());
                                }));
    }

    void ended(const ObexTransferWatch::Ending& ending) {
        if (session.isEmpty() || !ending.path.startsWith(session + QLatin1Char('/'))) return;
        if (ending.path == awaiting)
            fileEnded(ending.complete, {});
        else
            early.emplace(ending.path, ending);
    }

    void fileEnded(bool complete, QString reason) {
        const QString name = QFileInfo(files.at(next)).fileName();
        if (complete)
            log(LogLevel::Info, QStringLiteral("ObjectPush: Sent ") + name + QStringLiteral(" to ") + address);
        else
            log(LogLevel::Error, QStringLiteral("ObjectPush: Could not send ") + name + QStringLiteral(" to ") + address +
                                     QStringLiteral(": ") + (reason.isEmpty() ? QStringLiteral("the transfer failed") : reason));
        early.erase(awaiting);
        awaiting.clear();
        ++next;
        sendNext();
    }

    void close() {
        watch.reset();
        pending = bus.callAsync({obex::service, obex::clientPath, obex::clientInterface, QStringLiteral("RemoveSession"),
                                 {QVariant::fromValue(QDBusObjectPath(session))}},
                                callTimeout, guarded([](State& state, const DBusReply&) { state.finish(); }));
    }

    void finish() {
        alive = false;
        watch.reset();
        auto keep = shared_from_this();
        if (auto done = std::exchange(finished, nullptr)) done();
    }
};

ObexObjectPush::ObexObjectPush(DBusConnection& sessionBus, QString address, QStringList files, std::function<void()> finished)
    : state_(std::make_shared<State>(sessionBus, std::move(address), std::move(files), std::move(finished))) {}

ObexObjectPush::~ObexObjectPush() {
    state_->alive = false;
    state_->finished = nullptr;
    state_->watch.reset();
    state_->pending.cancel();
}

void ObexObjectPush::start() { state_->start(); }

}  // namespace platform
