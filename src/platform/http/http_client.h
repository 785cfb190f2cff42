#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace platform {

// Which addresses a client may reach. The defaults are what the running application uses; tests
// inject a loopback allowance and a throw-away certificate authority.
struct HttpSecurity {
    // Plain http to 127.0.0.1, ::1 or localhost (test servers only).
    bool allowLoopbackHttp = false;
    // When not empty, the only authorities trusted for https (instead of the system's).
    QList<QSslCertificate> caCertificates;
    // Plain http to any host, for addresses another program hands us and would fetch the same way
    // (a player's cover). A redirect from https to http is refused all the same.
    bool allowPlainHttp = false;
};

struct HttpRequest {
    QUrl url;
    // Seconds for the whole transfer to make progress; zero or less means the default.
    double timeoutSeconds = 30.0;
    // Largest body accepted; a longer one fails the request.
    int64_t maxBodyBytes = 1 << 20;
    // Seconds the whole transfer may take, however steadily the server sends; zero or less: no
    // limit beyond timeoutSeconds. Running out fails the request as a Timeout.
    double deadlineSeconds = 0;
    // Called on the main thread as the body arrives, with the bytes received so far.
    std::function<void(int64_t received)> onProgress = {};
};

struct HttpError {
    enum class Kind {
        InvalidURL,        // no scheme or host, or an address that is not https (or allowed http)
        InsecureRedirect,  // a redirect to an address the request itself could not have used
        Status,            // a reply outside 200...299
        BodyTooLarge,
        Timeout,
        Transport,         // the connection, TLS or the name lookup failed
        File,              // the download could not be written
    };
    Kind kind = Kind::Transport;
    // What went wrong, as the network layer words it.
    QString description;
    // The reply's status code, when a reply came.
    std::optional<int> statusCode;
    // Kind::Status only: the reply's body, for callers that read error replies.
    QByteArray body{};
};

struct HttpResponse {
    int statusCode = 0;
    QByteArray body;  // empty for a download to a file
};

// A finished request: a response with a status in 200...299, or an error. Never both.
struct HttpResult {
    std::optional<HttpResponse> response;
    std::optional<HttpError> error;

    static HttpResult success(HttpResponse response) { return HttpResult{std::move(response), std::nullopt}; }
    static HttpResult failure(HttpError error) { return HttpResult{std::nullopt, std::move(error)}; }
    bool ok() const { return response.has_value(); }
};

// A request under way. Copies share it; an empty handle, or one whose request has completed,
// ignores cancel().
class HttpTransfer {
public:
    using Cancel = std::function<void(HttpError)>;
    HttpTransfer() = default;
    explicit HttpTransfer(Cancel cancel) : cancel_(std::make_shared<Cancel>(std::move(cancel))) {}
    // Ends the request with `error`, which its completion carries; the completion runs later,
    // never inside this call, and a download leaves no file.
    void cancel(HttpError error) const {
        if (cancel_ && *cancel_) (*cancel_)(std::move(error));
    }

private:
    std::shared_ptr<Cancel> cancel_;
};

// GET over https, never from a cache, with a transfer timeout always set (and a deadline for the
// whole request when asked), following redirects only to addresses the request could have named
// itself. Completions run on the main thread, never inside the call that started the request, and
// never after the client is destroyed.
class HttpClient {
public:
    using Completion = std::function<void(HttpResult)>;
    virtual ~HttpClient() = default;

    // The process-wide client (the network one unless a test installed another).
    static HttpClient& shared();
    // Installs `client` (nullptr restores the default); returns the previous one.
    static HttpClient* setShared(HttpClient* client);

    virtual HttpTransfer get(const HttpRequest& request, Completion completion) = 0;
    // Streams the body into `destinationPath` (replaced only when the whole body arrived); the
    // response carries no body. maxBodyBytes bounds the file.
    virtual HttpTransfer download(const HttpRequest& request, const QString& destinationPath, Completion completion) = 0;

    // Why `url` may not be requested under `security`, or nothing when it may.
    static std::optional<HttpError> refusal(const QUrl& url, const HttpSecurity& security);
};

}  // namespace platform
