#pragma once

#include "platform/http/http_client.h"
#include "platform/runtime/dispatch.h"

#include <deque>
#include <vector>

namespace testsupport {

// Requests wait until the test answers them. Addresses the client's security rules refuse are
// answered at once (on the next scheduler step), as the network client answers them.
class FakeHttpClient final : public platform::HttpClient {
public:
    struct Request {
        platform::HttpRequest request;
        std::optional<QString> destinationPath;  // downloads only
        Completion completion;
    };

    explicit FakeHttpClient(platform::Scheduler& scheduler, platform::HttpSecurity security = {})
        : scheduler_(scheduler), security_(std::move(security)) {}

    void get(const platform::HttpRequest& request, Completion completion) override;
    void download(const platform::HttpRequest& request, const QString& destinationPath, Completion completion) override;

    // Every request that reached the network, in order.
    const std::vector<platform::HttpRequest>& sent() const { return sent_; }
    size_t pendingCount() const { return pending_.size(); }

    // Answers the oldest waiting request.
    void respond(platform::HttpResult result);
    void respondOk(const QByteArray& body, int status = 200);
    void respondStatus(int status);
    // A reply outside 200...299 that carries `body`.
    void respondStatus(int status, const QByteArray& body);
    void respondError(platform::HttpError::Kind kind, const QString& description);

private:
    platform::Scheduler& scheduler_;
    platform::HttpSecurity security_;
    std::vector<platform::HttpRequest> sent_;
    std::deque<Request> pending_;
};

}  // namespace testsupport
