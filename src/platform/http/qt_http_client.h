#pragma once

#include "platform/http/http_client.h"

#include <limits>
#include <memory>

class QNetworkAccessManager;
class QObject;

namespace platform {

// HttpClient over Qt's network access manager, on the thread that made it (the main thread).
class QtHttpClient final : public HttpClient {
public:
    // A deadline is reached in timer steps of at most `longestStepMs`: a Qt timer holds no more
    // than about 24.8 days. Tests take shorter steps.
    explicit QtHttpClient(HttpSecurity security = {}, int longestStepMs = std::numeric_limits<int>::max());
    ~QtHttpClient() override;
    QtHttpClient(const QtHttpClient&) = delete;
    QtHttpClient& operator=(const QtHttpClient&) = delete;

    HttpTransfer get(const HttpRequest& request, Completion completion) override;
    HttpTransfer download(const HttpRequest& request, const QString& destinationPath, Completion completion) override;

private:
    HttpTransfer start(const HttpRequest& request, const QString* destinationPath, Completion completion);
    void completeLater(Completion completion, HttpResult result);

    HttpSecurity security_;
    int longestStepMs_;
    std::unique_ptr<QNetworkAccessManager> manager_;
    // Every connection and deferred completion hangs off this object; it goes first, so nothing
    // reaches a caller once the client is gone.
    std::unique_ptr<QObject> context_;
};

}  // namespace platform
