#pragma once

// The application's side of the now-playing helper: one long-lived child that says "READY" and
// then answers one request line at a time with one JSON line. Every request runs whole under one
// lock, so the poll threads and the main thread never interleave their lines.

#include "music/media_remote_snapshot.h"
#include "platform/process/child_process.h"
#include "platform/runtime/dispatch.h"

#include <QJsonObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

class MediaRemoteBridge {
public:
    static constexpr double kReadyTimeout = 5.0;
    static constexpr double kCommandTimeout = 2.0;
    // A helper that dies or never greets is started again at most this often.
    static constexpr double kMinimumRelaunchInterval = 5.0;

    // `helperProgram` empty: the helper executable beside the application's own.
    explicit MediaRemoteBridge(platform::ProcessLauncher& launcher = platform::ProcessLauncher::system(),
                               platform::Scheduler& scheduler = platform::Scheduler::shared(),
                               QString helperProgram = {});
    ~MediaRemoteBridge();
    MediaRemoteBridge(const MediaRemoteBridge&) = delete;
    MediaRemoteBridge& operator=(const MediaRemoteBridge&) = delete;

    // Starts a helper and waits for its READY line. Blocks the calling thread. A helper that does
    // not greet within kReadyTimeout is killed.
    void launchHelper();
    // Says that launchHelper() is about to run on another thread: until it has, requests answer
    // none at once instead of waiting for it or launching a helper of their own.
    void announceLaunch() { launchPending_ = true; }
    // Ends a READY wait in progress at once (the helper is killed): the service is going.
    void cancelLaunch();
    // Stops the helper and forgets it.
    void shutdown();

    // A "query" request, waiting `timeout` + 1.0 s for the reply; none when the helper is not
    // ready, did not answer in time, answered no JSON object or reported an error.
    std::optional<MediaRemoteSnapshot> currentSnapshot(double timeout);
    // A "cmd:<n>" request; whether the helper reported success.
    bool sendCommand(uint32_t command);

    // What a "lyrics:<player>" request says of the player with that identity.
    struct PlayerLyrics {
        std::optional<QString> title;
        std::optional<QString> artist;
        std::optional<QString> lyrics;
    };
    // None when no such player answered, or the helper did not.
    std::optional<PlayerLyrics> lyrics(const QString& player);
    // "shuffle:" and "loop:" requests to the player with that identity; whether it took the value.
    bool setShuffle(const QString& player, bool shuffle);
    bool setLoopStatus(const QString& player, const QString& status);

    // One line describing the last event.
    QString lastDebugSummary() const;
    bool isReady() const;

    // Where the helper script is written (the user's private folder), written on first use.
    static QString helperScriptPath();
    static QString defaultHelperProgram();

private:
    void launchHelperLocked();
    void shutdownLocked();
    void sendToHelper(const QString& command);
    std::optional<QByteArray> readLine(double timeout);
    std::optional<QJsonObject> queryHelper(const QString& command, double timeout);
    void setSummary(const QString& summary);

    platform::ProcessLauncher& launcher_;
    platform::Scheduler& scheduler_;
    const QString helperProgram_;

    std::mutex lock_;  // held for each whole request
    std::unique_ptr<platform::ChildProcess> helperProcess_;
    std::atomic<bool> isReady_{false};
    std::atomic<bool> launchPending_{false};
    std::mutex launchingMutex_;
    platform::ChildProcess* launching_ = nullptr;  // the helper whose greeting is awaited
    bool launchCancelled_ = false;
    // Replies still owed to requests that gave up waiting: they come before the next reply.
    int owedReplies_ = 0;
    std::optional<double> lastLaunchAt_;  // scheduler's monotonic seconds

    ArtworkDecoder covers_;

    mutable std::mutex summaryMutex_;
    QString lastDebugSummary_ = QStringLiteral("MediaRemoteHelper: not started");
};
