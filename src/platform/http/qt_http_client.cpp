#include "platform/http/qt_http_client.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QSslConfiguration>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {

namespace {

struct Transfer {
    QNetworkReply* reply = nullptr;
    QUrl url;  // where the transfer stands, across redirects
    int64_t maxBodyBytes = 0;
    int64_t received = 0;
    QByteArray body;
    std::unique_ptr<QSaveFile> file;
    // Set when the client itself ended the transfer; wins over what the reply reports.
    std::optional<HttpError> ownError;
    HttpClient::Completion completion;
    std::function<void(int64_t)> onProgress;
    bool completed = false;
};

int timeoutMilliseconds(double seconds) {
    if (!(seconds > 0) || !std::isfinite(seconds)) seconds = 30.0;
    const double ms = std::ceil(seconds * 1000.0);
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(ms);
}

std::optional<int> statusOf(QNetworkReply* reply) {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return std::nullopt;
    return status.toInt();
}

// Ends the transfer with `error` instead of what the reply would report; the reply's finished
// signal follows.
void fail(Transfer& transfer, HttpError error) {
    if (transfer.ownError) return;
    if (!error.statusCode) error.statusCode = statusOf(transfer.reply);
    transfer.ownError = std::move(error);
    transfer.reply->abort();
}

void fail(Transfer& transfer, HttpError::Kind kind, QString description) {
    fail(transfer, HttpError{kind, std::move(description), {}});
}

void take(Transfer& transfer) {
    const QByteArray chunk = transfer.reply->readAll();
    if (chunk.isEmpty() || transfer.ownError) return;
    transfer.received += chunk.size();
    if (transfer.received > transfer.maxBodyBytes) {
        fail(transfer, HttpError::Kind::BodyTooLarge, QStringLiteral("The response is larger than allowed."));
        return;
    }
    if (!transfer.file) {
        transfer.body.append(chunk);
    } else if (transfer.file->write(chunk) != chunk.size()) {
        fail(transfer, HttpError::Kind::File, transfer.file->errorString());
        return;
    }
    if (transfer.onProgress) transfer.onProgress(transfer.received);
}

HttpResult finish(Transfer& transfer) {
    QNetworkReply* reply = transfer.reply;
    if (!transfer.ownError) take(transfer);
    if (transfer.ownError) return HttpResult::failure(*transfer.ownError);

    const std::optional<int> status = statusOf(reply);
    const bool statusOk = status && *status >= 200 && *status <= 299;
    if (reply->error() == QNetworkReply::InsecureRedirectError) {
        return HttpResult::failure(HttpError{HttpError::Kind::InsecureRedirect, reply->errorString(), status});
    }
    if (reply->error() != QNetworkReply::NoError || !statusOk) {
        if (status && !statusOk) {
            HttpError error{HttpError::Kind::Status, reply->errorString(), status};
            if (!transfer.file) error.body = std::move(transfer.body);
            return HttpResult::failure(std::move(error));
        }
        // The transfer timeout is the only cancellation the client does not make itself.
        if (reply->error() == QNetworkReply::OperationCanceledError) {
            return HttpResult::failure(HttpError{HttpError::Kind::Timeout, QStringLiteral("The request timed out."), status});
        }
        QString description = reply->errorString();
        if (reply->error() == QNetworkReply::NoError) description = QStringLiteral("The reply is not an HTTP response.");
        return HttpResult::failure(HttpError{HttpError::Kind::Transport, description, status});
    }
    if (transfer.file && !transfer.file->commit()) {
        return HttpResult::failure(HttpError{HttpError::Kind::File, transfer.file->errorString(), status});
    }
    return HttpResult::success(HttpResponse{*status, std::move(transfer.body)});
}

}  // namespace

QtHttpClient::QtHttpClient(HttpSecurity security, int longestStepMs)
    : security_(std::move(security)),
      longestStepMs_(std::max(1, longestStepMs)),
      manager_(std::make_unique<QNetworkAccessManager>()),
      context_(std::make_unique<QObject>()) {
    manager_->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    manager_->setCache(nullptr);
}

QtHttpClient::~QtHttpClient() {
    context_.reset();  // drops every connection before the manager aborts its replies
}

HttpTransfer QtHttpClient::get(const HttpRequest& request, Completion completion) {
    return start(request, nullptr, std::move(completion));
}

HttpTransfer QtHttpClient::download(const HttpRequest& request, const QString& destinationPath, Completion completion) {
    return start(request, &destinationPath, std::move(completion));
}

void QtHttpClient::completeLater(Completion completion, HttpResult result) {
    QMetaObject::invokeMethod(
        context_.get(),
        [completion = std::move(completion), result = std::move(result)]() mutable {
            if (completion) completion(std::move(result));
        },
        Qt::QueuedConnection);
}

HttpTransfer QtHttpClient::start(const HttpRequest& request, const QString* destinationPath, Completion completion) {
    if (std::optional<HttpError> refused = refusal(request.url, security_)) {
        completeLater(std::move(completion), HttpResult::failure(std::move(*refused)));
        return {};
    }
    auto transfer = std::make_shared<Transfer>();
    transfer->maxBodyBytes = request.maxBodyBytes;
    transfer->url = request.url;
    transfer->completion = std::move(completion);
    transfer->onProgress = request.onProgress;
    if (destinationPath) {
        transfer->file = std::make_unique<QSaveFile>(*destinationPath);
        if (!transfer->file->open(QIODevice::WriteOnly)) {
            completeLater(std::move(transfer->completion),
                          HttpResult::failure(HttpError{HttpError::Kind::File, transfer->file->errorString(), {}}));
            return {};
        }
    }

    QNetworkRequest networkRequest(request.url);
    networkRequest.setTransferTimeout(timeoutMilliseconds(request.timeoutSeconds));
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    if (!security_.caCertificates.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.setCaCertificates(security_.caCertificates);
        networkRequest.setSslConfiguration(ssl);
    }

    QNetworkReply* reply = manager_->get(networkRequest);
    transfer->reply = reply;
    QObject* context = context_.get();
    QObject::connect(reply, &QNetworkReply::readyRead, context, [transfer] { take(*transfer); });
    if (request.deadlineSeconds > 0) {
        // Owned by the reply, so it never fires once the reply is gone. A timer holds at most
        // about 24 days, less than a large download may take on a poor link: a longer deadline
        // is reached in steps.
        auto* deadline = new QTimer(reply);
        deadline->setSingleShot(true);
        constexpr double latest = 1e15;  // milliseconds: tens of thousands of years
        const QDeadlineTimer end(static_cast<qint64>(std::ceil(std::min(request.deadlineSeconds * 1000.0, latest))));
        const auto armUntil = [deadline, longest = longestStepMs_](const QDeadlineTimer& until) {
            deadline->start(static_cast<int>(std::clamp<qint64>(until.remainingTime(), 1, longest)));
        };
        QObject::connect(deadline, &QTimer::timeout, context, [transfer, end, armUntil] {
            if (transfer->reply->isFinished()) return;
            if (!end.hasExpired()) {
                armUntil(end);
                return;
            }
            fail(*transfer, HttpError::Kind::Timeout, QStringLiteral("The request timed out."));
        });
        armUntil(end);
    }
    QObject::connect(reply, &QNetworkReply::redirected, context, [this, transfer](const QUrl& target) {
        // The reply already names the target here, so the address it leaves is kept by us.
        const QUrl from = transfer->url;
        const QUrl resolved = from.resolved(target);
        const bool downgrade = from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
                               resolved.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
        if (downgrade || refusal(resolved, security_)) {
            fail(*transfer, HttpError::Kind::InsecureRedirect,
                 QStringLiteral("A redirect to an insecure address was refused."));
            return;
        }
        transfer->url = resolved;
        Q_EMIT transfer->reply->redirectAllowed();
    });
    QObject::connect(reply, &QNetworkReply::finished, context, [transfer] {
        transfer->completed = true;
        HttpResult result = finish(*transfer);
        transfer->reply->deleteLater();
        transfer->file.reset();  // an uncommitted file is discarded, leaving no partial download
        Completion done = std::move(transfer->completion);
        if (done) done(std::move(result));
    });
    // The transfer lives as long as its reply's connections; a cancel after that finds nothing.
    return HttpTransfer([weak = std::weak_ptr<Transfer>(transfer), context = QPointer<QObject>(context)](HttpError error) {
        if (!context) return;
        QMetaObject::invokeMethod(
            context,
            [weak, error = std::move(error)]() mutable {
                const std::shared_ptr<Transfer> transfer = weak.lock();
                if (transfer && !transfer->completed) fail(*transfer, std::move(error));
            },
            Qt::QueuedConnection);
    });
}

}  // namespace platform
