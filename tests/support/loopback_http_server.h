#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include <functional>
#include <map>
#include <memory>

class QSslServer;
class QTcpSocket;

namespace testsupport {

// An HTTP/1.1 server on 127.0.0.1 in this process, driven by the Qt event loop of the test.
// Plain http by default; https with a certificate and key (PEM) given.
class LoopbackHttpServer {
public:
    struct Reply {
        // Stream: a 200 whose Content-Length says `streamBytes`, sent as zeros (or as `body`
        // when it is not empty, its size then the length) in chunks of `streamChunk` bytes, each
        // as soon as the last has gone, or every `streamInterval` seconds when that is above 0,
        // or, `streamPaced`, the first at once and each next at sendNextChunk(); zeros are never
        // held in memory whole.
        enum class Action { Respond, Hang, Drop, Stream };
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        Action action = Action::Respond;
        qint64 streamBytes = 0;
        qint64 streamChunk = 64 * 1024;
        double streamInterval = 0;
        bool streamPaced = false;
    };
    using Handler = std::function<Reply(const QString& path)>;

    explicit LoopbackHttpServer(Handler handler);
    LoopbackHttpServer(Handler handler, const QByteArray& certificatePem, const QByteArray& keyPem);
    ~LoopbackHttpServer();

    bool isListening() const;
    // "http://127.0.0.1:<port>" (or https) followed by `path`.
    QString url(const QString& path) const;
    // Request paths in arrival order.
    const QStringList& requests() const { return requests_; }
    // Body bytes streamed so far, over all Stream replies.
    qint64 streamed() const { return streamed_; }
    // Sends the next chunk of the latest paced stream, if its connection is still open.
    void sendNextChunk() {
        if (nextChunk_) nextChunk_();
    }

    static Reply ok(QByteArray body) { return Reply{200, std::move(body), {}, Reply::Action::Respond}; }
    static Reply status(int code, QByteArray body = {}) { return Reply{code, std::move(body), {}, Reply::Action::Respond}; }
    static Reply stream(qint64 bytes, qint64 chunk = 64 * 1024, double interval = 0) {
        Reply reply;
        reply.action = Reply::Action::Stream;
        reply.streamBytes = bytes;
        reply.streamChunk = chunk;
        reply.streamInterval = interval;
        return reply;
    }
    // `bytes` zeros in chunks of `chunk`, each next one when the test asks: a client reports each
    // chunk apart however busy the machine is.
    static Reply paced(qint64 bytes, qint64 chunk) {
        Reply reply = stream(bytes, chunk);
        reply.streamPaced = true;
        return reply;
    }
    // `body` at a steady pace: `chunk` bytes every `interval` seconds.
    static Reply trickle(QByteArray body, qint64 chunk, double interval) {
        Reply reply = stream(body.size(), chunk, interval);
        reply.body = std::move(body);
        return reply;
    }
    static Reply redirect(const QString& to) {
        return Reply{302, {}, {{"Location", to.toUtf8()}}, Reply::Action::Respond};
    }

private:
    void accept(QTcpSocket* socket);
    void serve(QTcpSocket* socket);
    void stream(QTcpSocket* socket, const Reply& reply);

    Handler handler_;
    std::unique_ptr<QTcpServer> server_;
    bool tls_ = false;
    QStringList requests_;
    qint64 streamed_ = 0;
    std::map<QTcpSocket*, QByteArray> buffers_;
    std::function<void()> nextChunk_;
};

// Runs the Qt event loop until `done` holds or `seconds` of real time passed; returns `done()`.
bool spinUntil(const std::function<bool()>& done, double seconds = 10.0);

}  // namespace testsupport
