#pragma once

#include "platform/runtime/dispatch.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace platform {

// One running instance per user: the first start listens on a local socket in a folder only
// this user can enter; a later start hands "reopen" to it and should then exit.
//
// Any local program can connect, so the listener holds few connections, drops idle ones, and
// when accepting fails (descriptors run out) it keeps its socket and tries again later: a socket
// that vanished would let the next start run as a second instance.
class ReopenChannel {
public:
    enum class Outcome {
        Listening,                   // this process is the running instance
        DeliveredToRunningInstance,  // another instance took the request
        Unavailable,                 // no socket could be made; run without reopen requests
    };

    static constexpr int maxConnections = 8;
    static constexpr double idleTimeoutSeconds = 5.0;
    static constexpr double acceptRetrySeconds = 1.0;

    // Takes a pending connection from the listening socket: a descriptor, or -1 with errno set.
    using AcceptCall = std::function<int(int listenFd)>;

    // `accept` defaults to accept4(2); tests pass one that fails as a process out of descriptors does.
    explicit ReopenChannel(QString socketPath, Scheduler& scheduler = Scheduler::shared(), AcceptCall accept = {});
    ~ReopenChannel();
    ReopenChannel(const ReopenChannel&) = delete;
    ReopenChannel& operator=(const ReopenChannel&) = delete;

    // <runtime folder>/<name>.reopen, where the runtime folder is $XDG_RUNTIME_DIR or, when that
    // is unset, relative or not private (missing, not a folder, another user's or open to others),
    // <home>/.local/state/<name> (created for this user alone). None when that folder cannot be
    // private either; `problem` then says why. Never a shared folder such as the temporary one,
    // where another user could take the name first.
    static std::optional<QString> defaultSocketPath(const QString& name, QString* problem = nullptr);

    // Delivers a reopen request to a running instance, or becomes the running instance and calls
    // `onReopen` on the main thread for each request that arrives later. A socket left behind by
    // an instance that died is replaced; anything else at the path (a folder) is left alone and
    // the channel is unavailable.
    Outcome start(std::function<void()> onReopen);
    // Why start() found the channel unavailable.
    const QString& problem() const { return problem_; }

    bool isListening() const { return listenFd_ >= 0; }
    int connectionCount() const { return static_cast<int>(connections_.size()); }

private:
    struct Connection;

    bool deliver();
    bool listen();
    void acceptPending();
    void read(int fd);
    void close(int fd);

    QString socketPath_;
    Scheduler& scheduler_;
    AcceptCall accept_;
    std::function<void()> onReopen_;
    QString problem_;
    int listenFd_ = -1;
    std::unique_ptr<QSocketNotifier> listenNotifier_;
    WorkItem acceptRetry_;
    std::map<int, std::unique_ptr<Connection>> connections_;
    Lifetime lifetime_;
};

}  // namespace platform
