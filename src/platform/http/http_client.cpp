#include "platform/http/http_client.h"

#include "platform/http/qt_http_client.h"

#include <QHostAddress>

#include <atomic>

namespace platform {

namespace {

std::atomic<HttpClient*> installed{nullptr};

bool isLoopbackHost(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

}  // namespace

HttpClient& HttpClient::shared() {
    if (HttpClient* client = installed.load()) return *client;
    static auto* own = new QtHttpClient();
    return *own;
}

HttpClient* HttpClient::setShared(HttpClient* client) { return installed.exchange(client); }

std::optional<HttpError> HttpClient::refusal(const QUrl& url, const HttpSecurity& security) {
    // A tolerant parse turns almost any text into a relative address: demand a scheme and a host.
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        return HttpError{HttpError::Kind::InvalidURL, QStringLiteral("The address is not a complete URL."), {}};
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https")) return std::nullopt;
    if (scheme == QLatin1String("http") &&
        (security.allowPlainHttp || (security.allowLoopbackHttp && isLoopbackHost(url.host())))) {
        return std::nullopt;
    }
    return HttpError{HttpError::Kind::InvalidURL, QStringLiteral("Only https addresses are allowed."), {}};
}

}  // namespace platform
