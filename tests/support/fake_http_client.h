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
        uint64_t id = 0;
    };

    explicit FakeHttpClient(platform::Scheduler& scheduler, platform::HttpSecurity security = {})
        : scheduler_(scheduler), security_(std::move(security)) {}

    platform::HttpTransfer get(const platform::HttpRequest& request, Completion completion) override;
    platform::HttpTransfer download(const platform::HttpRequest& request, const QString& destinationPath,
                                    Completion completion) override;

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
    // The oldest waiting request has received `received` body bytes so far.
    void progress(int64_t received);
    // From now on a request still waiting when its deadline passes on the scheduler's clock fails
    // as the network client's does.
    void keepDeadlines() { keepDeadlines_ = true; }

private:
    platform::HttpTransfer enqueue(const platform::HttpRequest& request, std::optional<QString> destinationPath,
                                   Completion completion);
    // Answers the waiting request `id`, if it still waits, with `error`.
    void fail(uint64_t id, const platform::HttpError& error);

    platform::Scheduler& scheduler_;
    platform::HttpSecurity security_;
    std::vector<platform::HttpRequest> sent_;
    std::deque<Request> pending_;
    uint64_t nextId_ = 1;
    bool keepDeadlines_ = false;
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);
};

}  // namespace testsupport
