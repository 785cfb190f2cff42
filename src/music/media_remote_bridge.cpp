#include "music/media_remote_bridge.h"

#include "core/log.h"
#include "platform/files/private_folder.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSaveFile>

#include <algorithm>
#include <chrono>

namespace {

// The helper here is an executable of our own; the script file stays where the helper is told
// to look, so its argument and the file it names keep their place in the protocol.
QByteArray helperScriptText() {
    return QByteArrayLiteral(
        "// Now-playing helper: answered by quillvex-nowplaying-helper, which is started with this\n"
        "// file's path. Protocol: it prints READY, then answers \"query\" and \"cmd:<n>\" with one\n"
        "// JSON line each and ends on \"quit\" or at the end of its input.\n");
}

QString replyText(const QJsonValue& value) {
    if (value.isString()) return value.toString();
    if (value.isObject()) return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray()) return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    if (value.isBool()) return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isDouble()) return QString::number(value.toDouble());
    return QStringLiteral("nil");
}

// What a log line quotes of a helper's words: a helper may write a line of any length.
QString quoted(const QByteArray& line) {
    constexpr qsizetype kMaxQuoted = 256;
    if (line.size() <= kMaxQuoted) return QString::fromUtf8(line);
    // Cut on a character boundary: continuation bytes go with the character they end.
    qsizetype end = kMaxQuoted;
    while (end > 0 && (static_cast<unsigned char>(line.at(end)) & 0xC0) == 0x80) --end;
    return QString::fromUtf8(line.left(end)) + QStringLiteral("... (%1 bytes)").arg(line.size());
}

}  // namespace

MediaRemoteBridge::MediaRemoteBridge(platform::ProcessLauncher& launcher, platform::Scheduler& scheduler,
                                     QString helperProgram)
    : launcher_(launcher),
      scheduler_(scheduler),
      helperProgram_(helperProgram.isEmpty() ? defaultHelperProgram() : std::move(helperProgram)) {}

MediaRemoteBridge::~MediaRemoteBridge() { shutdown(); }

QString MediaRemoteBridge::defaultHelperProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/quillvex-nowplaying-helper");
}

QString MediaRemoteBridge::helperScriptPath() {
    static const QString path = [] {
        // A private folder: in the shared temporary one another user could take the name first.
        QString problem;
        const QString folder = platform::privateFolder(QStringLiteral("quillvex"), &problem);
        if (folder.isEmpty()) {
            Log::shared().warning(QStringLiteral("MediaRemoteBridge: no private folder for the helper script: ") + problem);
            return QString();
        }
        const QString file = folder + QStringLiteral("/quillvex_mediaremote_helper.swift");
        QSaveFile save(file);
        if (save.open(QIODevice::WriteOnly)) {
            save.write(helperScriptText());
            save.commit();  // a failed write is not fatal: the path is used anyway
        }
        return file;
    }();
    return path;
}

QString MediaRemoteBridge::lastDebugSummary() const {
    std::lock_guard guard(summaryMutex_);
    return lastDebugSummary_;
}

void MediaRemoteBridge::setSummary(const QString& summary) {
    std::lock_guard guard(summaryMutex_);
    lastDebugSummary_ = summary;
}

bool MediaRemoteBridge::isReady() const { return isReady_; }

void MediaRemoteBridge::launchHelper() {
    std::lock_guard guard(lock_);
    launchHelperLocked();
    launchPending_ = false;
}

void MediaRemoteBridge::cancelLaunch() {
    std::lock_guard guard(launchingMutex_);
    launchCancelled_ = true;
    if (launching_) launching_->kill();
}

void MediaRemoteBridge::launchHelperLocked() {
    lastLaunchAt_ = scheduler_.monotonicSeconds();
    platform::ProcessSpec spec;
    spec.program = helperProgram_;
    spec.arguments = {helperScriptPath()};
    spec.standardError = platform::ProcessSpec::Stderr::Discard;
    QString error;
    std::unique_ptr<platform::ChildProcess> child = launcher_.start(spec, &error);
    if (!child) {
        setSummary(QStringLiteral("MediaRemoteHelper: launch failed: ") + error);
        std::lock_guard launching(launchingMutex_);
        if (!launchCancelled_) Log::shared().error(QStringLiteral("MediaRemoteBridge: failed to launch helper: ") + error);
        return;
    }
    helperProcess_ = std::move(child);
    owedReplies_ = 0;

    {
        std::lock_guard launching(launchingMutex_);
        if (launchCancelled_) helperProcess_->kill();
        launching_ = helperProcess_.get();
    }
    const std::optional<QByteArray> line = readLine(kReadyTimeout);
    const bool ready = line && line->trimmed() == "READY";
    bool cancelled = false;
    {
        // Told under the lock the exit's cancel takes: what a launch that ended first says comes
        // before the application's last line, and one the application's end stopped failed at
        // nothing and says nothing.
        std::lock_guard launching(launchingMutex_);
        launching_ = nullptr;
        cancelled = launchCancelled_;
        if (!cancelled && ready) {
            isReady_ = true;
            const QString pid = QString::number(helperProcess_->pid());
            setSummary(QStringLiteral("MediaRemoteHelper: ready (pid=") + pid + QLatin1Char(')'));
            Log::shared().info(QStringLiteral("MediaRemoteBridge: helper ready (pid=") + pid + QLatin1Char(')'));
        } else if (!cancelled) {
            setSummary(QStringLiteral("MediaRemoteHelper: failed to receive READY signal"));
            Log::shared().error(QStringLiteral("MediaRemoteBridge: helper did not send READY (got: ") +
                                (line ? quoted(*line) : QStringLiteral("nil")) + QLatin1Char(')'));
        }
    }
    if (ready && !cancelled) return;
    // Kept alive, a helper stuck before its greeting would never be replaced; gone, it is started
    // again at a later request, no sooner than the relaunch interval allows.
    helperProcess_->kill();
    helperProcess_->wait(0.5);
    helperProcess_.reset();
}

void MediaRemoteBridge::shutdown() {
    std::lock_guard guard(lock_);
    shutdownLocked();
}

void MediaRemoteBridge::shutdownLocked() {
    if (helperProcess_ && helperProcess_->isRunning()) {
        sendToHelper(QStringLiteral("quit"));
        helperProcess_->terminate();
        helperProcess_->wait(0.5);  // what is still running then is killed as the handle goes
    }
    helperProcess_.reset();
    isReady_ = false;
    owedReplies_ = 0;
}

void MediaRemoteBridge::sendToHelper(const QString& command) {
    // A helper that exited meanwhile makes the write fail quietly; the read then ends the request.
    if (helperProcess_) helperProcess_->writeLine(command.toUtf8());
}

std::optional<QByteArray> MediaRemoteBridge::readLine(double timeout) {
    if (!helperProcess_) return std::nullopt;
    const platform::LineRead read = helperProcess_->readLine(timeout);
    switch (read.status) {
    case platform::LineRead::Status::Line:
        return read.text;
    case platform::LineRead::Status::Ended:
        // The helper is gone: its last unterminated words, if any, are all there is.
        if (read.text.isEmpty()) return std::nullopt;
        return read.text;
    case platform::LineRead::Status::TimedOut:
        break;
    }
    return std::nullopt;
}

std::optional<QJsonObject> MediaRemoteBridge::queryHelper(const QString& command, double timeout) {
    if (launchPending_) return std::nullopt;  // the first helper is still greeting
    std::lock_guard guard(lock_);
    if (!helperProcess_ || !helperProcess_->isRunning()) {
        const double now = scheduler_.monotonicSeconds();
        // Relaunching on every poll of a helper that cannot start would hold this lock for the
        // whole READY wait each time.
        if (lastLaunchAt_ && now - *lastLaunchAt_ < kMinimumRelaunchInterval) return std::nullopt;
        Log::shared().info(QStringLiteral("MediaRemoteBridge: restarting helper process"));
        shutdownLocked();
        launchHelperLocked();
    }
    if (!isReady_) return std::nullopt;

    // Replies owed to requests that stopped waiting are stale: take the whole ones that are
    // here, and drop anything else that came unasked.
    while (owedReplies_ > 0 && helperProcess_->readLine(0).isLine()) --owedReplies_;
    if (owedReplies_ == 0) helperProcess_->discardPendingOutput();

    sendToHelper(command);
    // One deadline for the stale replies still on their way and this request's own.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    std::optional<QByteArray> line;
    for (;;) {
        const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        line = readLine(std::max(left, 0.0));
        if (!line || owedReplies_ == 0) break;
        --owedReplies_;
    }
    if (!line) {
        if (helperProcess_->isRunning()) ++owedReplies_;
        setSummary(QStringLiteral("MediaRemoteHelper: response timeout for '") + command + QLatin1Char('\''));
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(*line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        setSummary(QStringLiteral("MediaRemoteHelper: invalid JSON response"));
        return std::nullopt;
    }
    return document.object();
}

std::optional<MediaRemoteSnapshot> MediaRemoteBridge::currentSnapshot(double timeout) {
    const std::optional<QJsonObject> reply = queryHelper(QStringLiteral("query"), timeout + 1.0);
    if (!reply) return std::nullopt;
    if (reply->contains(QLatin1String("error"))) {
        setSummary(QStringLiteral("MediaRemoteHelper: error=") + replyText(reply->value(QLatin1String("error"))));
        return std::nullopt;
    }
    QString summary;
    MediaRemoteSnapshot snapshot = MediaRemoteSnapshot::fromReply(*reply, &summary, &covers_);
    setSummary(summary);
    return snapshot;
}

bool MediaRemoteBridge::sendCommand(uint32_t command) {
    const std::optional<QJsonObject> reply = queryHelper(QStringLiteral("cmd:") + QString::number(command), kCommandTimeout);
    if (!reply) return false;
    const QJsonValue value = reply->value(QLatin1String("commandResult"));
    const bool result = value.isBool() && value.toBool();
    Log::shared().debug(QStringLiteral("MediaRemoteBridge: sendCommand(") + QString::number(command) + QStringLiteral(") -> ") +
                        (result ? QStringLiteral("true") : QStringLiteral("false")));
    return result;
}

namespace {

// A player's identity travels inside one request line.
bool fitsOneLine(const QString& player) {
    return !player.isEmpty() && !player.contains(QLatin1Char('\n')) && !player.contains(QLatin1Char('\r'));
}

}  // namespace

std::optional<MediaRemoteBridge::PlayerLyrics> MediaRemoteBridge::lyrics(const QString& player) {
    if (!fitsOneLine(player)) return std::nullopt;
    const std::optional<QJsonObject> reply = queryHelper(QStringLiteral("lyrics:") + player, kCommandTimeout);
    if (!reply || !reply->value(QLatin1String("found")).toBool(false)) return std::nullopt;
    const auto text = [&reply](const char* key) -> std::optional<QString> {
        const QJsonValue value = reply->value(QLatin1String(key));
        if (!value.isString()) return std::nullopt;
        return value.toString();
    };
    return PlayerLyrics{text("title"), text("artist"), text("lyrics")};
}

bool MediaRemoteBridge::setShuffle(const QString& player, bool shuffle) {
    if (!fitsOneLine(player)) return false;
    const std::optional<QJsonObject> reply =
        queryHelper(QStringLiteral("shuffle:") + (shuffle ? QLatin1Char('1') : QLatin1Char('0')) + QLatin1Char(':') + player,
                    kCommandTimeout);
    return reply && reply->value(QLatin1String("commandResult")).toBool(false);
}

bool MediaRemoteBridge::setLoopStatus(const QString& player, const QString& status) {
    if (!fitsOneLine(player) || !fitsOneLine(status)) return false;
    const std::optional<QJsonObject> reply =
        queryHelper(QStringLiteral("loop:") + status + QLatin1Char(':') + player, kCommandTimeout);
    return reply && reply->value(QLatin1String("commandResult")).toBool(false);
}
