#include "music/nowplaying_helper/artwork_fetcher.h"

#include "platform/http/qt_http_client.h"

#include <QMetaObject>
#include <QThread>
#include <QUrl>

ArtworkFetcher::ArtworkFetcher(Limits limits, platform::HttpSecurity security)
    : limits_(limits), security_(std::move(security)), thread_(std::make_unique<QThread>()) {
    thread_->setObjectName(QStringLiteral("artwork"));
    context_ = new QObject;
    context_->moveToThread(thread_.get());
    thread_->start();
    QMetaObject::invokeMethod(
        context_, [this] { client_ = std::make_unique<platform::QtHttpClient>(security_); }, Qt::BlockingQueuedConnection);
}

ArtworkFetcher::~ArtworkFetcher() {
    // The client goes on its own thread: its replies are aborted and no completion runs after.
    QMetaObject::invokeMethod(context_, [this] { client_.reset(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete context_;  // its thread has finished
}

platform::HttpSecurity ArtworkFetcher::webSecurity() {
    platform::HttpSecurity security;
    security.allowPlainHttp = true;
    return security;
}

bool ArtworkFetcher::isWebAddress(const QString& address) {
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

bool ArtworkFetcher::looksLikeImage(const QByteArray& bytes) {
    return bytes.startsWith("\x89PNG\r\n\x1a\n") || bytes.startsWith("\xff\xd8\xff") || bytes.startsWith("GIF87a") ||
           bytes.startsWith("GIF89a") || (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP") ||
           (bytes.startsWith("BM") && bytes.size() > 26);
}

std::optional<QByteArray> ArtworkFetcher::artwork(const QString& address) {
    if (!isWebAddress(address)) return std::nullopt;
    {
        std::lock_guard lock(mutex_);
        for (auto it = cache_.begin(); it != cache_.end(); ++it) {
            if (it->first != address) continue;
            cache_.splice(cache_.begin(), cache_, it);
            return cache_.front().second;
        }
        if (fetching_.count(address) || answeredWithoutCover_.count(address)) return std::nullopt;
        if (const auto failed = failedAt_.find(address); failed != failedAt_.end()) {
            if (Clock::now() - failed->second < std::chrono::duration<double>(limits_.retryAfterSeconds)) return std::nullopt;
            failedAt_.erase(failed);
        }
        fetching_.insert(address);
        ++started_;
    }
    platform::HttpRequest request;
    request.url = QUrl(address);
    request.timeoutSeconds = limits_.seconds;
    request.deadlineSeconds = limits_.seconds;
    request.maxBodyBytes = limits_.maxBytes;
    QMetaObject::invokeMethod(context_, [this, request, address] {
        client_->get(request, [this, address](platform::HttpResult result) { finish(address, result); });
    });
    return std::nullopt;
}

void ArtworkFetcher::finish(const QString& address, const platform::HttpResult& result) {
    const bool usable = result.ok() && looksLikeImage(result.response->body);
    std::lock_guard lock(mutex_);
    fetching_.erase(address);
    if (usable) {
        cache_.emplace_front(address, result.response->body);
        if (cache_.size() > limits_.cacheEntries) cache_.pop_back();
        return;
    }
    if (failedAt_.size() + answeredWithoutCover_.size() >= 64) {
        failedAt_.clear();
        answeredWithoutCover_.clear();
    }
    if (mayChange(result)) {
        // A slow or broken server is not asked again on every poll.
        failedAt_[address] = Clock::now();
    } else {
        answeredWithoutCover_.insert(address);
    }
}

bool ArtworkFetcher::mayChange(const platform::HttpResult& result) {
    if (!result.error) return false;  // a whole body that is no image
    using Kind = platform::HttpError::Kind;
    switch (result.error->kind) {
    case Kind::Timeout:
    case Kind::Transport:
    case Kind::File:
        return true;
    case Kind::Status: {
        const int status = result.error->statusCode.value_or(0);
        return status >= 500 || status == 408 || status == 429;
    }
    case Kind::InvalidURL:
    case Kind::InsecureRedirect:
    case Kind::BodyTooLarge:
        return false;
    }
    return true;
}

bool ArtworkFetcher::isFetching(const QString& address) const {
    std::lock_guard lock(mutex_);
    return fetching_.count(address) > 0;
}

int ArtworkFetcher::fetchesStarted() const {
    std::lock_guard lock(mutex_);
    return started_;
}
