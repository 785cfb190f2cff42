// Polls on real threads that overlap, as they do when the helper is slower than the timer: the
// bridge's lock keeps requests whole, and the summary and decision-log throttles stay consistent
// (run under ThreadSanitizer to see the guards do their job).

#include "fake_helper.h"
#include "music/media_remote_service.h"
#include "platform/logging/log_backend.h"
#include "support/virtual_scheduler.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using platform::ThreadedGlobalScheduler;

class LockedLog final : public platform::LogBackend {
public:
    LockedLog() : previous_(platform::LogBackend::setShared(this)) {}
    ~LockedLog() override { platform::LogBackend::setShared(previous_); }
    bool isEnabled(platform::LogLevel) const override { return true; }
    void write(platform::LogLevel, const QString& message) override {
        std::lock_guard lock(mutex_);
        lines_ << message;
    }
    QStringList matching(const QString& prefix) {
        std::lock_guard lock(mutex_);
        return lines_.filter(QRegularExpression("^" + QRegularExpression::escape(prefix)));
    }

private:
    std::mutex mutex_;
    QStringList lines_;
    platform::LogBackend* previous_;
};

}  // namespace

TEST(MediaRemoteServiceConcurrency, OverlappingPollsKeepRequestsWholeAndTheLogsThrottled) {
    LockedLog log;
    ThreadedGlobalScheduler scheduler;
    platform::Defaults defaults;
    defaults.set(AppSettings::musicNowPlayingSourceKey, QStringLiteral("controlCenter"));
    EventBus bus(scheduler);
    int published = 0;
    auto subscription = bus.nowPlayingSubject.sink([&published](const std::optional<NowPlayingInfo>& info) {
        if (info) ++published;
    });
    musictest::FakeHelper helper;
    std::atomic<int> answered{0};
    helper.answer = [&answered](const QByteArray& line) -> QByteArray {
        if (line.startsWith("cmd:")) return "{\"commandResult\":true}\n";
        if (line != "query") return {};
        // Every third reply is an error, so the summary keeps changing under the readers.
        return ++answered % 3 == 0 ? QByteArray("{\"error\":\"timeout\"}\n")
                                   : QByteArray("{\"isPlaying\":true,\"title\":\"Song\",\"artist\":\"Band\"}\n");
    };
    {
        MediaRemoteService service(bus, scheduler, &defaults,
                                   std::make_unique<MediaRemoteBridge>(helper.launcher, scheduler, QStringLiteral("/fake/helper")),
                                   PlayerScripts(nullptr, [](double) {}, [](const QUrl&) { return std::nullopt; }));
        scheduler.join();  // the helper's launch runs on a worker
        std::atomic<bool> reading{true};
        std::thread reader([&] {
            while (reading) (void)service.bridge().lastDebugSummary().size();
        });
        service.start();
        for (int i = 0; i < 40; ++i) {
            scheduler.main.advance(0.8);  // polls start while earlier ones may still run
            if (i % 8 == 7) {
                // Two polls at the very same moment.
                service.togglePlayPause();
            }
        }
        scheduler.join();
        scheduler.main.drain();
        reading = false;
        reader.join();
        service.stop();
    }
    // Every request went out whole, one line at a time.
    for (const QByteArray& request : helper.requests) {
        EXPECT_TRUE(request == "query" || request == "cmd:2" || request == "quit") << request.toStdString();
    }
    EXPECT_GE(helper.requests.count("query"), 41);
    EXPECT_GE(published, 1);
    // Each summary the throttle let through is one whole summary.
    const QStringList summaries = log.matching("MediaRemoteService[controlCenter] MediaRemoteHelper: ");
    EXPECT_FALSE(summaries.isEmpty());
    for (const QString& line : summaries) {
        EXPECT_TRUE(line == "MediaRemoteService[controlCenter] MediaRemoteHelper: playing=true title=Song artist=Band bundle=nil" ||
                    line == "MediaRemoteService[controlCenter] MediaRemoteHelper: error=timeout" ||
                    line == "MediaRemoteService[controlCenter] MediaRemoteHelper: ready (pid=40000)" ||
                    line == "MediaRemoteService[controlCenter] MediaRemoteHelper: not started")
            << line.toStdString();
    }
}
