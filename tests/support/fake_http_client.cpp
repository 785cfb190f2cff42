#include "support/fake_http_client.h"

#include <QFile>

#include <algorithm>

#include <gtest/gtest.h>

namespace testsupport {

platform::HttpTransfer FakeHttpClient::get(const platform::HttpRequest& request, Completion completion) {
    return enqueue(request, std::nullopt, std::move(completion));
}

platform::HttpTransfer FakeHttpClient::download(const platform::HttpRequest& request, const QString& destinationPath,
                                                Completion completion) {
    return enqueue(request, destinationPath, std::move(completion));
}

platform::HttpTransfer FakeHttpClient::enqueue(const platform::HttpRequest& request, std::optional<QString> destinationPath,
                                               Completion completion) {
    if (std::optional<platform::HttpError> refused = refusal(request.url, security_)) {
        scheduler_.post([completion = std::move(completion), error = *refused] {
            completion(platform::HttpResult::failure(error));
        });
        return {};
    }
    sent_.push_back(request);
    const uint64_t id = nextId_++;
    pending_.push_back(Request{request, std::move(destinationPath), std::move(completion), id});
    if (keepDeadlines_ && request.deadlineSeconds > 0) {
        scheduler_.after(request.deadlineSeconds, [this, id, alive = std::weak_ptr<char>(alive_)] {
            if (alive.lock()) fail(id, platform::HttpError{platform::HttpError::Kind::Timeout, QStringLiteral("The request timed out."), {}});
        });
    }
    // A cancel answers the request with its error on the next scheduler step, as the network
    // client does.
    return platform::HttpTransfer([this, id, alive = std::weak_ptr<char>(alive_)](platform::HttpError error) {
        if (!alive.lock()) return;
        scheduler_.post([this, id, alive, error = std::move(error)] {
            if (alive.lock()) fail(id, error);
        });
    });
}

void FakeHttpClient::fail(uint64_t id, const platform::HttpError& error) {
    const auto it = std::find_if(pending_.begin(), pending_.end(), [id](const Request& r) { return r.id == id; });
    if (it == pending_.end()) return;
    Completion completion = std::move(it->completion);
    pending_.erase(it);
    completion(platform::HttpResult::failure(error));
}

void FakeHttpClient::progress(int64_t received) {
    if (pending_.empty()) {
        ADD_FAILURE() << "no request is waiting for bytes";
        return;
    }
    if (pending_.front().request.onProgress) pending_.front().request.onProgress(received);
}

void FakeHttpClient::respond(platform::HttpResult result) {
    if (pending_.empty()) {
        ADD_FAILURE() << "no request is waiting for an answer";
        return;
    }
    Request request = std::move(pending_.front());
    pending_.pop_front();
    if (request.destinationPath && result.ok()) {
        QFile file(*request.destinationPath);
        if (file.open(QIODevice::WriteOnly)) file.write(result.response->body);
        result.response->body.clear();
    }
    request.completion(std::move(result));
}

void FakeHttpClient::respondOk(const QByteArray& body, int status) {
    respond(platform::HttpResult::success(platform::HttpResponse{status, body}));
}

void FakeHttpClient::respondStatus(int status) {
    respond(platform::HttpResult::failure(
        platform::HttpError{platform::HttpError::Kind::Status, QStringLiteral("Error transferring - server replied: Not Found"), status}));
}

void FakeHttpClient::respondStatus(int status, const QByteArray& body) {
    platform::HttpError error{platform::HttpError::Kind::Status, QStringLiteral("Error transferring - server replied: Bad Request"), status};
    error.body = body;
    respond(platform::HttpResult::failure(std::move(error)));
}

void FakeHttpClient::respondError(platform::HttpError::Kind kind, const QString& description) {
    respond(platform::HttpResult::failure(platform::HttpError{kind, description, std::nullopt}));
}

}  // namespace testsupport
