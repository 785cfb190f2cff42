#pragma once

// What the notification-store benchmarks share: a quiet log, a home folder with a store in the
// record layout, a detector reading it through the real file probe, and the program's main.

#include "core/event_bus.h"
#include "detection/notification_database_detector.h"
#include "permissions/notification_database_locations.h"
#include "platform/logging/log_backend.h"
#include "platform/files/user_directories.h"
#include "tools/notification_store.h"

#include <QGuiApplication>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace benchsupport {

// Keeps the system log out of the figures (and free of a million benchmark lines).
class QuietLog final : public platform::LogBackend {
public:
    QuietLog() : previous_(platform::LogBackend::setShared(this)) {}
    ~QuietLog() override { platform::LogBackend::setShared(previous_); }
    bool isEnabled(platform::LogLevel) const override { return false; }
    void write(platform::LogLevel, const QString&) override {}

private:
    platform::LogBackend* previous_;
};

class HomeDirectories final : public platform::UserDirectories {
public:
    explicit HomeDirectories(QString home) : home_(std::move(home)) {}
    QString homeDirectory() const override { return home_; }
    QString passwordDatabaseHome() const override { return home_; }
    std::optional<std::string> perUserDirectory() const override { return std::nullopt; }
    bool hasSandboxContainerId() const override { return false; }

private:
    QString home_;
};

inline QByteArray sampleRecord(int i) {
    return notificationstore::encodePropertyList(notificationstore::notificationRecord(
        QStringLiteral("com.example.App%1").arg(i % 40), QStringLiteral("Message number %1").arg(i),
        QStringLiteral("From someone"), QStringLiteral("A body of ordinary length that says something useful.")));
}

// Appends `count` records in one transaction.
inline void appendRecords(notificationstore::Writer& writer, int from, int count) {
    writer.execute("BEGIN");
    for (int i = from; i < from + count; ++i)
        writer.appendRecord(QStringLiteral("com.example.App%1").arg(i % 40), sampleRecord(i));
    writer.execute("COMMIT");
}

// A temporary home folder, with the log kept quiet while it lives, and the store's place under it.
struct StoreHome {
    QuietLog quiet;
    QTemporaryDir folder;
    HomeDirectories directories{folder.path()};
    QString storePath = NotificationDatabaseLocations::fixedCandidates(folder.path()).first();

    // A detector of the store under this home, with the given bus, clock and file watch.
    std::unique_ptr<NotificationDatabaseDetector> detector(EventBus& bus, platform::Scheduler& scheduler,
                                                           platform::FileWatcher& watcher) {
        return std::make_unique<NotificationDatabaseDetector>(bus, scheduler, platform::Workspace::shared(),
                                                              directories, platform::FileAccessProbe::system(), watcher);
    }
};

// Reports per-event latencies (seconds) as median, 99th percentile and maximum in
// milliseconds, with the count of events the file watch missed.
inline void reportLatencies(benchmark::State& state, std::vector<double> latencies, int missed) {
    if (latencies.empty()) return;
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double p) {
        return latencies[std::min(latencies.size() - 1, static_cast<size_t>(p * static_cast<double>(latencies.size())))];
    };
    state.counters["median_ms"] = at(0.5) * 1e3;
    state.counters["p99_ms"] = at(0.99) * 1e3;
    state.counters["max_ms"] = at(1.0) * 1e3;
    state.counters["missed_events"] = missed;
}

// The benchmarks' main: Google Benchmark inside an offscreen GUI application.
inline int runBenchmarks(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace benchsupport
