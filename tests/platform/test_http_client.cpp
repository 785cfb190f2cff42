#include "platform/http/qt_http_client.h"

#include "support/fixtures.h"
#include "support/loopback_http_server.h"
#include "support/service_fixtures.h"
#include "support/test_authority.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkReply>
#include <QTemporaryDir>

#include <gtest/gtest.h>


using platform::HttpError;
using platform::HttpRequest;
using platform::HttpResult;
using platform::HttpSecurity;
using testsupport::LoopbackHttpServer;
using testsupport::spinUntil;

namespace {

LoopbackHttpServer::Reply route(const QString& path) {
    if (path == "/feed") return LoopbackHttpServer::ok(R"({"version":"1"})");
    if (path == "/missing") return LoopbackHttpServer::status(404, "not found");
    if (path == "/error") return LoopbackHttpServer::status(500, R"({"version":"1"})");
    if (path == "/big") return LoopbackHttpServer::ok(QByteArray(2000, 'x'));
    if (path == "/hang") return LoopbackHttpServer::Reply{200, {}, {}, LoopbackHttpServer::Reply::Action::Hang};
    if (path == "/drop") return LoopbackHttpServer::Reply{200, {}, {}, LoopbackHttpServer::Reply::Action::Drop};
    if (path == "/to-feed") return LoopbackHttpServer::redirect("/feed");
    if (path == "/to-plain") return LoopbackHttpServer::redirect("http://updates.example/feed");
    if (path == "/to-loopback-plain") return LoopbackHttpServer::redirect("http://127.0.0.1:9/feed");
    if (path == "/to-file") return LoopbackHttpServer::redirect("file:///etc/passwd");
    if (path == "/endless") return LoopbackHttpServer::stream(qint64(1) << 30);
    if (path == "/trickle") return LoopbackHttpServer::stream(1 << 20, 16, 0.05);
    if (path == "/paced") return LoopbackHttpServer::paced(1 << 20, 16);
    return LoopbackHttpServer::status(404);
}

// Runs one request to completion on the real event loop.
HttpResult fetch(platform::HttpClient& client, HttpRequest request) {
    std::optional<HttpResult> result;
    client.get(request, [&](HttpResult r) { result = std::move(r); });
    EXPECT_FALSE(result) << "completions never run inside the call";
    EXPECT_TRUE(spinUntil([&] { return result.has_value(); }));
    return result ? *result : HttpResult::failure(HttpError{});
}

class HttpClientTest : public ::testing::Test {
protected:
    LoopbackHttpServer server{route};
    platform::QtHttpClient client{HttpSecurity{.allowLoopbackHttp = true, .caCertificates = {}}};

    HttpResult get(const QString& path, double timeout = 30.0, int64_t cap = 1 << 20) {
        return fetch(client, HttpRequest{QUrl(server.url(path)), timeout, cap});
    }
};

}  // namespace

TEST(HttpClientRefusal, OnlyCompleteHttpsAddressesUnlessLoopbackHttpIsAllowed) {
    const HttpSecurity strict;
    const HttpSecurity loopback{.allowLoopbackHttp = true, .caCertificates = {}};
    EXPECT_FALSE(platform::HttpClient::refusal(QUrl("https://updates.example/latest.json"), strict));
    EXPECT_FALSE(platform::HttpClient::refusal(QUrl("HTTPS://updates.example/latest.json"), strict));
    for (const char* text : {"not a url", "/latest.json", "https://", "https:///path", "ftp://x.example/f", "file:///etc/passwd",
                             "http://updates.example/latest.json", "http://127.0.0.1:8080/feed", ""}) {
        const auto refused = platform::HttpClient::refusal(QUrl(text), strict);
        ASSERT_TRUE(refused) << text;
        EXPECT_EQ(refused->kind, HttpError::Kind::InvalidURL);
    }
    EXPECT_FALSE(platform::HttpClient::refusal(QUrl("http://127.0.0.1:8080/feed"), loopback));
    EXPECT_FALSE(platform::HttpClient::refusal(QUrl("http://[::1]:8080/feed"), loopback));
    EXPECT_FALSE(platform::HttpClient::refusal(QUrl("http://localhost/feed"), loopback));
    EXPECT_TRUE(platform::HttpClient::refusal(QUrl("http://updates.example/feed"), loopback));
    EXPECT_TRUE(platform::HttpClient::refusal(QUrl("http://127.0.0.1.example/feed"), loopback));
}

TEST(HttpClientRefusal, PlainHttpAnywhereOnlyWhenAllowedAndNeverAnotherScheme) {
    const HttpSecurity plain{.allowLoopbackHttp = false, .caCertificates = {}, .allowPlainHttp = true};
    EXPECT_FALSE(platform::HttpClient::refusal(QUrl("http://covers.example/a.jpg"), plain));
    EXPECT_FALSE(platform::HttpClient::refusal(QUrl("https://covers.example/a.jpg"), plain));
    for (const char* text : {"file:///etc/passwd", "ftp://covers.example/a.jpg", "data:image/png;base64,AAAA", "http://"}) {
        EXPECT_TRUE(platform::HttpClient::refusal(QUrl(text), plain)) << text;
    }
}

TEST_F(HttpClientTest, AnEndlessBodyStopsAtTheCapAndATrickleAtTheDeadline) {
    const HttpResult endless = get("/endless", 30, 1 << 20);
    ASSERT_FALSE(endless.ok());
    EXPECT_EQ(endless.error->kind, HttpError::Kind::BodyTooLarge);
    EXPECT_LT(server.streamed(), qint64(64) << 20);  // the client hung up long before the end

    // Bytes keep coming, so the transfer timeout never runs out; the deadline does.
    HttpRequest request{QUrl(server.url("/trickle")), 30, 1 << 20};
    request.deadlineSeconds = 0.3;
    const HttpResult trickle = fetch(client, request);
    ASSERT_FALSE(trickle.ok());
    EXPECT_EQ(trickle.error->kind, HttpError::Kind::Timeout);
    // A deadline longer than a timer holds is reached in steps (here of 40 ms), and not before.
    platform::QtHttpClient stepped{HttpSecurity{.allowLoopbackHttp = true, .caCertificates = {}}, 40};
    QElapsedTimer sinceStart;
    sinceStart.start();
    const HttpResult stepwise = fetch(stepped, request);
    ASSERT_FALSE(stepwise.ok());
    EXPECT_EQ(stepwise.error->kind, HttpError::Kind::Timeout);
    EXPECT_GE(sinceStart.elapsed(), 300);

    // A redirect that leaves http(s) is not followed: the request fails on its 302.
    const HttpResult toFile = get("/to-file");
    ASSERT_FALSE(toFile.ok());
    EXPECT_EQ(toFile.error->statusCode, 302);
}

TEST_F(HttpClientTest, SuccessCarriesStatusAndBodyAndOtherStatusesFailWithTheirBody) {
    ASSERT_TRUE(server.isListening());
    const HttpResult result = get("/feed");
    ASSERT_TRUE(result.ok()) << result.error->description.toStdString();
    EXPECT_EQ(result.response->statusCode, 200);
    EXPECT_EQ(result.response->body, R"({"version":"1"})");

    // The body stays readable for callers that decode error replies.
    for (auto [path, code, body] : {std::tuple{"/missing", 404, "not found"}, std::tuple{"/error", 500, R"({"version":"1"})"}}) {
        const HttpResult failed = get(path);
        ASSERT_FALSE(failed.ok()) << path;
        EXPECT_EQ(failed.error->kind, HttpError::Kind::Status);
        EXPECT_EQ(failed.error->statusCode, code);
        EXPECT_EQ(failed.error->body, body);
    }

    // Bodies beyond the cap fail.
    EXPECT_TRUE(get("/big", 30, 2000).ok());
    const HttpResult big = get("/big", 30, 1999);
    ASSERT_FALSE(big.ok());
    EXPECT_EQ(big.error->kind, HttpError::Kind::BodyTooLarge);
}

// A client lives as long as the application: each reply goes once its result is handed over,
// whatever the result, instead of staying with the client.
TEST_F(HttpClientTest, EachFinishedReplyIsReleased) {
    // Sees every deferred deletion on this thread.
    class Releases : public QObject {
    public:
        Releases() { QCoreApplication::instance()->installEventFilter(this); }
        ~Releases() override { QCoreApplication::instance()->removeEventFilter(this); }
        int replies = 0;

    protected:
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::DeferredDelete && qobject_cast<QNetworkReply*>(watched)) ++replies;
            return false;
        }
    } releases;
    ASSERT_TRUE(get("/feed").ok());
    ASSERT_FALSE(get("/missing").ok());
    EXPECT_TRUE(spinUntil([&] { return releases.replies == 2; }));
}

TEST_F(HttpClientTest, TransportFailuresAndTimeouts) {
    HttpResult dropped = get("/drop");
    ASSERT_FALSE(dropped.ok());
    EXPECT_EQ(dropped.error->kind, HttpError::Kind::Transport);
    EXPECT_FALSE(dropped.error->description.isEmpty());

    // The only real-time wait in this suite: a transfer timeout cannot be faked inside Qt.
    HttpResult hung = get("/hang", 0.2);
    ASSERT_FALSE(hung.ok());
    EXPECT_EQ(hung.error->kind, HttpError::Kind::Timeout);

    HttpResult refused = fetch(client, HttpRequest{QUrl("http://127.0.0.1:9/"), 5, 1024});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error->kind, HttpError::Kind::Transport);
}

TEST_F(HttpClientTest, RedirectsAndPlainHttpOnlyWhereTheRequestCouldUseThem) {
    const HttpResult followed = get("/to-feed");
    ASSERT_TRUE(followed.ok());
    EXPECT_EQ(followed.response->body, R"({"version":"1"})");
    const HttpResult refused = get("/to-plain");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error->kind, HttpError::Kind::InsecureRedirect);
    EXPECT_EQ(server.requests(), (QStringList{"/to-feed", "/feed", "/to-plain"}));

    // Plain http is refused before any request without the test allowance.
    platform::QtHttpClient strict;
    const HttpResult plain = fetch(strict, HttpRequest{QUrl(server.url("/feed")), 30, 1024});
    ASSERT_FALSE(plain.ok());
    EXPECT_EQ(plain.error->kind, HttpError::Kind::InvalidURL);
    EXPECT_EQ(server.requests().size(), 3);
}

TEST_F(HttpClientTest, DownloadWritesTheFileOnlyWhenComplete) {
    QTemporaryDir dir;
    const QString target = dir.filePath("package.zip");
    std::optional<HttpResult> result;
    client.download(HttpRequest{QUrl(server.url("/big")), 30, 1 << 20}, target, [&](HttpResult r) { result = r; });
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    ASSERT_TRUE(result->ok());
    EXPECT_TRUE(result->response->body.isEmpty());
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(2000, 'x'));

    const QString missing = dir.filePath("missing.zip");
    result.reset();
    client.download(HttpRequest{QUrl(server.url("/missing")), 30, 1 << 20}, missing, [&](HttpResult r) { result = r; });
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(result->ok());
    EXPECT_FALSE(QFile::exists(missing));
}

// A caller that watches a download's progress can end it: the completion carries the caller's
// error, after the call, and no file is left. The server sends each chunk once the last was
// reported, so that no two can arrive together.
TEST_F(HttpClientTest, ADownloadReportsItsProgressAndACancelEndsItWithTheCallersError) {
    QTemporaryDir dir;
    const QString target = dir.filePath("package.zip");
    std::vector<int64_t> totals;
    std::optional<HttpResult> result;
    platform::HttpTransfer transfer;
    HttpRequest request{QUrl(server.url("/paced")), 30, 1 << 20};
    request.onProgress = [&](int64_t received) {
        totals.push_back(received);
        if (received < 64) return server.sendNextChunk();
        transfer.cancel(HttpError{HttpError::Kind::Timeout, QStringLiteral("stopped"), {}});
        EXPECT_FALSE(result) << "the completion never runs inside the cancel";
    };
    transfer = client.download(request, target, [&](HttpResult r) { result = std::move(r); });
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    ASSERT_FALSE(result->ok());
    EXPECT_EQ(result->error->kind, HttpError::Kind::Timeout);
    EXPECT_EQ(result->error->description, "stopped");
    EXPECT_EQ(result->error->statusCode, 200);
    EXPECT_EQ(totals, (std::vector<int64_t>{16, 32, 48, 64}));  // each chunk as it came, in all
    EXPECT_FALSE(QFile::exists(target));
    transfer.cancel(HttpError{});  // after the end: nothing to do
}

TEST_F(HttpClientTest, NoCompletionAfterTheClientIsGone) {
    bool called = false;
    {
        platform::QtHttpClient shortLived{HttpSecurity{.allowLoopbackHttp = true, .caCertificates = {}}};
        shortLived.get(HttpRequest{QUrl(server.url("/hang")), 30, 1024}, [&](HttpResult) { called = true; });
        spinUntil([&] { return server.requests().contains("/hang"); });
        shortLived.get(HttpRequest{QUrl("not a url"), 30, 1024}, [&](HttpResult) { called = true; });
    }
    spinUntil([] { return false; }, 0.05);
    EXPECT_FALSE(called);
}

// https against a throw-away authority: trusted only when configured, and never downgraded.
TEST(HttpClientTls, TrustsOnlyTheConfiguredAuthorityAndRefusesDowngrades) {
    QString error;
    const auto authority = testsupport::TestAuthority::make(&error);
    if (!authority) QUILLVEX_SERVICE_MISSING(error.toStdString());
    LoopbackHttpServer tls(route, authority->serverCertificatePem(), authority->serverKeyPem());
    ASSERT_TRUE(tls.isListening());

    platform::QtHttpClient trusting{HttpSecurity{.allowLoopbackHttp = true, .caCertificates = QSslCertificate::fromData(authority->caPem())}};
    const HttpResult ok = fetch(trusting, HttpRequest{QUrl(tls.url("/feed")), 30, 1024});
    ASSERT_TRUE(ok.ok()) << ok.error->description.toStdString();
    const HttpResult downgrade = fetch(trusting, HttpRequest{QUrl(tls.url("/to-plain")), 30, 1024});
    ASSERT_FALSE(downgrade.ok());
    EXPECT_EQ(downgrade.error->kind, HttpError::Kind::InsecureRedirect);
    // Even where loopback http is allowed, an https request never continues over http.
    const HttpResult loopbackDowngrade = fetch(trusting, HttpRequest{QUrl(tls.url("/to-loopback-plain")), 30, 1024});
    ASSERT_FALSE(loopbackDowngrade.ok());
    EXPECT_EQ(loopbackDowngrade.error->kind, HttpError::Kind::InsecureRedirect);

    // A fresh client with the system authorities only: the certificate is not trusted.
    platform::QtHttpClient system;
    const HttpResult untrusted = fetch(system, HttpRequest{QUrl(tls.url("/feed")), 30, 1024});
    ASSERT_FALSE(untrusted.ok());
    EXPECT_EQ(untrusted.error->kind, HttpError::Kind::Transport);
}
