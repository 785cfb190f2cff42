#include "platform/shell/reopen_channel.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>

namespace platform {

namespace {
constexpr int kConnectTimeoutMs = 1000;
constexpr qint64 kMaxRequestBytes = 64;
const QByteArray kRequest = QByteArrayLiteral("reopen\n");
}  // namespace

ReopenChannel::ReopenChannel(QString socketPath) : socketPath_(std::move(socketPath)) {}

ReopenChannel::~ReopenChannel() = default;

QString ReopenChannel::defaultSocketPath(const QString& name) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return folder + QLatin1Char('/') + name + QStringLiteral(".reopen");
}

ReopenChannel::Outcome ReopenChannel::start(std::function<void()> onReopen) {
    // Two starts at the same moment must not both decide they are first. The lock is held until
    // this returns; one that cannot be had in time is done without.
    QLockFile lock(socketPath_ + QStringLiteral(".lock"));
    lock.tryLock(3000);

    if (deliver()) return Outcome::DeliveredToRunningInstance;

    onReopen_ = std::move(onReopen);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Nobody answered, so a socket file still there was left by an instance that died.
    QLocalServer::removeServer(socketPath_);
    if (!server_->listen(socketPath_)) {
        server_.reset();
        return Outcome::Unavailable;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] { acceptPending(); });
    return Outcome::Listening;
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

void ReopenChannel::acceptPending() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (!socket->canReadLine() && socket->bytesAvailable() < kMaxRequestBytes) return;
            // One short request per connection; anything else is ignored.
            const QByteArray line = socket->readLine(kMaxRequestBytes);
            socket->disconnectFromServer();
            if (line == kRequest && onReopen_) onReopen_();
        });
    }
}

}  // namespace platform
