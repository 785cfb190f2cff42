#include "platform/shell/reopen_channel.h"

#include "platform/files/private_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr int kConnectTimeoutMs = 1000;
constexpr qsizetype kMaxRequestBytes = 64;
const QByteArray kRequest = QByteArrayLiteral("reopen\n");

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

struct ReopenChannel::Connection {
    std::unique_ptr<QSocketNotifier> notifier;
    QByteArray received;
    WorkItem idleTimeout;
};

ReopenChannel::ReopenChannel(QString socketPath, Scheduler& scheduler, AcceptCall accept)
    : socketPath_(std::move(socketPath)), scheduler_(scheduler), accept_(std::move(accept)) {
    if (!accept_)
        accept_ = [](int listenFd) { return ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); };
}

ReopenChannel::~ReopenChannel() {
    lifetime_.reset();
    acceptRetry_.cancel();
    while (!connections_.empty()) close(connections_.begin()->first);
    if (listenFd_ >= 0) {
        listenNotifier_.reset();
        ::close(listenFd_);
        ::unlink(QFile::encodeName(socketPath_).constData());
    }
}

std::optional<QString> ReopenChannel::defaultSocketPath(const QString& name, QString* problem) {
    // The runtime folder belongs to the session and is never created here. One that is relative
    // or unsafe is passed over as if unset: every start then still meets at the same socket.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const bool fromEnvironment = QDir::isAbsolutePath(runtime) && !privateFolderProblem(runtime, false);
    const QString folder = fromEnvironment ? runtime : QDir::homePath() + QStringLiteral("/.local/state/") + name;
    if (auto why = privateFolderProblem(folder, !fromEnvironment)) {
        if (problem) *problem = *why;
        return std::nullopt;
    }
    return folder + QLatin1Char('/') + name + QStringLiteral(".reopen");
}

ReopenChannel::Outcome ReopenChannel::start(std::function<void()> onReopen) {
    // Two starts at the same moment must not both decide they are first. The lock is held until
    // this returns; one that cannot be had in time is done without.
    QLockFile lock(socketPath_ + QStringLiteral(".lock"));
    lock.tryLock(3000);

    if (deliver()) return Outcome::DeliveredToRunningInstance;
    onReopen_ = std::move(onReopen);
    return listen() ? Outcome::Listening : Outcome::Unavailable;
}

bool ReopenChannel::deliver() {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) return false;
    // Connected means an instance runs, even one too busy to read at once.
    socket.write(kRequest);
    socket.waitForBytesWritten(kConnectTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

bool ReopenChannel::listen() {
    const QByteArray path = QFile::encodeName(socketPath_);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || static_cast<size_t>(path.size()) >= sizeof(address.sun_path)) {
        problem_ = QStringLiteral("the socket path '") + socketPath_ + QStringLiteral("' is empty or too long");
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));

    // Nobody answered, so a socket still there was left by an instance that died. A folder is
    // nobody's socket: it is not ours to remove.
    struct stat info {};
    if (::lstat(path.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            problem_ = QStringLiteral("the socket path '") + socketPath_ + QStringLiteral("' is a folder");
            return false;
        }
        ::unlink(path.constData());
    }

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        problem_ = QStringLiteral("no socket: ") + errnoText(errno);
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, maxConnections) != 0) {
        problem_ = QStringLiteral("cannot listen on '") + socketPath_ + QStringLiteral("': ") + errnoText(errno);
        ::close(fd);
        return false;
    }
    ::chmod(path.constData(), 0600);
    listenFd_ = fd;
    listenNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(listenNotifier_.get(), &QSocketNotifier::activated, listenNotifier_.get(),
                     [this] { acceptPending(); });
    return true;
}

void ReopenChannel::acceptPending() {
    for (;;) {
        const int fd = accept_(listenFd_);
        if (fd < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) return;
            // Out of descriptors or memory: the pending client stays queued and would wake the
            // loop at once, so stop listening for a while instead of spinning; the socket stays.
            listenNotifier_->setEnabled(false);
            acceptRetry_ = scheduler_.after(acceptRetrySeconds, lifetime_.wrap([this] {
                listenNotifier_->setEnabled(true);
                acceptPending();
            }));
            return;
        }
        if (static_cast<int>(connections_.size()) >= maxConnections) {
            ::close(fd);  // a full house turns newcomers away rather than queueing them
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(connection->notifier.get(), &QSocketNotifier::activated, connection->notifier.get(),
                         [this, fd] { read(fd); });
        connection->idleTimeout = scheduler_.after(idleTimeoutSeconds, lifetime_.wrap([this, fd] { close(fd); }));
        connections_[fd] = std::move(connection);
    }
}

void ReopenChannel::read(int fd) {
    auto found = connections_.find(fd);
    if (found == connections_.end()) return;
    Connection& connection = *found->second;
    char buffer[kMaxRequestBytes];
    const ssize_t count = ::recv(fd, buffer, sizeof(buffer), 0);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (count > 0) connection.received.append(buffer, static_cast<qsizetype>(count));
    // One short request per connection; anything else, or the end of the stream, closes it.
    const bool complete = connection.received.contains('\n') || connection.received.size() >= kMaxRequestBytes;
    if (count > 0 && !complete) return;
    const bool isRequest = connection.received.startsWith(kRequest);
    close(fd);
    if (isRequest && onReopen_) onReopen_();
}

void ReopenChannel::close(int fd) {
    auto found = connections_.find(fd);
    if (found == connections_.end()) return;
    found->second->idleTimeout.cancel();
    found->second->notifier.reset();
    connections_.erase(found);
    ::close(fd);
}

}  // namespace platform
