#include "support/fake_http_client.h"

#include <QFile>

#include <gtest/gtest.h>

namespace testsupport {

void FakeHttpClient::get(const platform::HttpRequest& request, Completion completion) {
    if (std::optional<platform::HttpError> refused = refusal(request.url, security_)) {
        scheduler_.post([completion = std::move(completion), error = *refused] {
            completion(platform::HttpResult::failure(error));
        });
        return;
    }
    sent_.push_back(request);
    pending_.push_back(Request{request, std::nullopt, std::move(completion)});
}

void FakeHttpClient::download(const platform::HttpRequest& request, const QString& destinationPath,
                              Completion completion) {
    if (std::optional<platform::HttpError> refused = refusal(request.url, security_)) {
        scheduler_.post([completion = std::move(completion), error = *refused] {
            completion(platform::HttpResult::failure(error));
        });
        return;
    }
    sent_.push_back(request);
    pending_.push_back(Request{request, destinationPath, std::move(completion)});
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
