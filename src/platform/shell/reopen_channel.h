#pragma once

#include <QString>

#include <functional>
#include <memory>

class QLocalServer;

namespace platform {

// One running instance per user: the first start listens on a local socket in the user's
// runtime folder; a later start hands "reopen" to it and should then exit.
class ReopenChannel {
public:
    enum class Outcome {
        Listening,                   // this process is the running instance
        DeliveredToRunningInstance,  // another instance took the request
        Unavailable,                 // no socket could be made; run without reopen requests
    };

    explicit ReopenChannel(QString socketPath);
    ~ReopenChannel();
    ReopenChannel(const ReopenChannel&) = delete;
    ReopenChannel& operator=(const ReopenChannel&) = delete;

    // <runtime folder>/<name>.reopen
    static QString defaultSocketPath(const QString& name);

    // Delivers a reopen request to a running instance, or becomes the running instance and calls
    // `onReopen` on the main thread for each request that arrives later. A socket left behind by
    // an instance that died is replaced.
    Outcome start(std::function<void()> onReopen);

private:
    bool deliver();
    void acceptPending();

    QString socketPath_;
    std::function<void()> onReopen_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace platform
