#pragma once

// Covers that players name by a web address (http or https), fetched on a thread of their own so
// that a query never waits for one: the first query of a cover starts its fetch and goes without
// it; a later one finds it in a small cache by address. One fetch per address at a time, each
// bounded in bytes and in time. An address whose server answered with no cover (an error status,
// a body that is no image or too large, a redirect refused) is not fetched again; one whose server
// did not answer in time or at all is tried again after a while.

#include "platform/http/http_client.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

class QObject;
class QThread;

struct ArtworkLimits {
    // A larger cover could not travel in a reply line: its fetch ends there, as none.
    int64_t maxBytes = 640 * 1024;
    double seconds = 3.0;  // the whole fetch, redirects included
    size_t cacheEntries = 8;
    double retryAfterSeconds = 30.0;
};

class ArtworkFetcher {
public:
    using Limits = ArtworkLimits;

    explicit ArtworkFetcher(Limits limits = {}, platform::HttpSecurity security = webSecurity());
    ~ArtworkFetcher();
    ArtworkFetcher(const ArtworkFetcher&) = delete;
    ArtworkFetcher& operator=(const ArtworkFetcher&) = delete;

    // Plain http or https to any host: a player's cover is fetched the way the player fetched it.
    static platform::HttpSecurity webSecurity();
    static bool isWebAddress(const QString& address);
    // Whether `bytes` begin like an image the application decodes (PNG, JPEG, GIF, WebP, BMP).
    static bool looksLikeImage(const QByteArray& bytes);

    // The cover at `address` when it has arrived. Otherwise its fetch is started (unless one is
    // under way or it failed lately) and none is returned at once. Any thread.
    std::optional<QByteArray> artwork(const QString& address);

    // Whether a fetch of `address` is under way, and how many were started. For tests.
    bool isFetching(const QString& address) const;
    int fetchesStarted() const;

private:
    using Clock = std::chrono::steady_clock;
    void finish(const QString& address, const platform::HttpResult& result);
    // Whether asking again could bring a cover: the server was slow, unreachable or briefly failing.
    static bool mayChange(const platform::HttpResult& result);

    const Limits limits_;
    const platform::HttpSecurity security_;
    std::unique_ptr<QThread> thread_;
    QObject* context_ = nullptr;  // lives on thread_
    std::unique_ptr<platform::HttpClient> client_;  // made, used and destroyed on thread_

    mutable std::mutex mutex_;
    std::list<std::pair<QString, QByteArray>> cache_;  // most recent first
    std::set<QString> fetching_;
    std::map<QString, Clock::time_point> failedAt_;
    std::set<QString> answeredWithoutCover_;
    int started_ = 0;
};
