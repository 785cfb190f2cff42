#include "support/loopback_http_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <memory>

namespace testsupport {

namespace {

QByteArray reasonOf(int status) {
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)), server_(std::make_unique<QTcpServer>()) {
    QObject::connect(server_.get(), &QTcpServer::pendingConnectionAvailable, server_.get(), [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) accept(socket);
    });
    server_->listen(QHostAddress::LocalHost, 0);
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler, const QByteArray& certificatePem, const QByteArray& keyPem)
    : handler_(std::move(handler)), tls_(true) {
    auto server = std::make_unique<QSslServer>();
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setLocalCertificate(QSslCertificate(certificatePem, QSsl::Pem));
    ssl.setPrivateKey(QSslKey(keyPem, QSsl::Rsa, QSsl::Pem));
    ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(ssl);
    server_ = std::move(server);
    QObject::connect(server_.get(), &QTcpServer::pendingConnectionAvailable, server_.get(), [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) accept(socket);
    });
    server_->listen(QHostAddress::LocalHost, 0);
}

LoopbackHttpServer::~LoopbackHttpServer() {
    for (auto& [socket, buffer] : buffers_) {
        QObject::disconnect(socket, nullptr, nullptr, nullptr);
        socket->abort();
        socket->deleteLater();
    }
}

bool LoopbackHttpServer::isListening() const { return server_->isListening(); }

QString LoopbackHttpServer::url(const QString& path) const {
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(tls_ ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(server_->serverPort())
        .arg(path);
}

void LoopbackHttpServer::accept(QTcpSocket* socket) {
    buffers_[socket] = {};
    QObject::connect(socket, &QTcpSocket::readyRead, server_.get(), [this, socket] { serve(socket); });
    QObject::connect(socket, &QTcpSocket::disconnected, server_.get(), [this, socket] {
        buffers_.erase(socket);
        socket->deleteLater();
    });
    if (socket->bytesAvailable() > 0) serve(socket);
}

void LoopbackHttpServer::serve(QTcpSocket* socket) {
    QByteArray& buffer = buffers_[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) return;
    const QByteArray head = buffer.left(end);
    buffer.remove(0, end + 4);
    const QList<QByteArray> requestLine = head.split('\n').first().trimmed().split(' ');
    const QString path = requestLine.size() > 1 ? QString::fromUtf8(requestLine[1]) : QString();
    requests_ << path;
    const Reply reply = handler_(path);
    if (reply.action == Reply::Action::Hang) return;
    if (reply.action == Reply::Action::Drop) {
        socket->abort();
        return;
    }
    if (reply.action == Reply::Action::Stream) {
        stream(socket, reply);
        return;
    }
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " " + reasonOf(reply.status) + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += "Content-Type: application/json\r\n";
    for (const auto& [name, value] : reply.headers) out += name + ": " + value + "\r\n";
    out += "\r\n" + reply.body;
    socket->write(out);
}

void LoopbackHttpServer::stream(QTcpSocket* socket, const Reply& reply) {
    QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(reply.streamBytes) + "\r\n";
    for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
    socket->write(head + "\r\n");
    auto left = std::make_shared<qint64>(reply.streamBytes);
    const QByteArray zeros(static_cast<qsizetype>(reply.body.isEmpty() ? reply.streamChunk : 0), '\0');
    auto sendOne = [this, socket = QPointer<QTcpSocket>(socket), left, zeros, body = reply.body,
                    chunk = reply.streamChunk] {
        if (*left <= 0 || !socket || socket->state() != QAbstractSocket::ConnectedState) return;
        const qint64 size = std::min<qint64>(*left, chunk);
        socket->write(body.isEmpty() ? zeros.constData() : body.constData() + (body.size() - *left), size);
        *left -= size;
        streamed_ += size;
    };
    if (reply.streamPaced) {
        nextChunk_ = sendOne;
        sendOne();
        return;
    }
    if (reply.streamInterval > 0) {
        auto* timer = new QTimer(socket);  // ends with the connection
        QObject::connect(timer, &QTimer::timeout, socket, sendOne);
        timer->start(static_cast<int>(reply.streamInterval * 1000));
        return;
    }
    // The next chunk once the last has left: the client's pace bounds what waits in memory.
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket, sendOne] {
        if (socket->bytesToWrite() == 0) sendOne();
    });
    sendOne();
}

bool spinUntil(const std::function<bool()>& done, double seconds) {
    QDeadlineTimer deadline(static_cast<qint64>(seconds * 1000));
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!done()) QThread::msleep(1);
    }
    return done();
}

}  // namespace testsupport
