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
        enum class Action { Respond, Hang, Drop };
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        Action action = Action::Respond;
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

    static Reply ok(QByteArray body) { return Reply{200, std::move(body), {}, Reply::Action::Respond}; }
    static Reply status(int code, QByteArray body = {}) { return Reply{code, std::move(body), {}, Reply::Action::Respond}; }
    static Reply redirect(const QString& to) {
        return Reply{302, {}, {{"Location", to.toUtf8()}}, Reply::Action::Respond};
    }

private:
    void accept(QTcpSocket* socket);
    void serve(QTcpSocket* socket);

    Handler handler_;
    std::unique_ptr<QTcpServer> server_;
    bool tls_ = false;
    QStringList requests_;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

// Runs the Qt event loop until `done` holds or `seconds` of real time passed; returns `done()`.
bool spinUntil(const std::function<bool()>& done, double seconds = 10.0);

}  // namespace testsupport
