#pragma once

#include "platform/files/directory_watcher.h"

#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace testsupport {

// Directory watches that deliver what the test says, when it says so. Batching is the test's:
// each deliver() is one batch.
class FakeDirectoryWatcher final : public platform::DirectoryWatcher {
public:
    StartResult watch(const QString& folder, double latencySeconds, Handler onBatch) override;

    // Watching `folder` fails with `errorText`.
    void failFor(const QString& folder, const QString& errorText) { failures_[folder] = errorText; }
    // Hands `batch` to every running watch on `folder`; returns how many got it.
    int deliver(const QString& folder, const std::vector<platform::DirectoryEvent>& batch);

    int activeWatchCount() const;
    // The latency asked for by the newest watch on `folder` (-1 when none).
    double latencyFor(const QString& folder) const;

private:
    struct Entry {
        QString folder;
        double latency = 0;
        Handler onBatch;
        bool active = true;
    };
    class Watch;

    std::map<QString, QString> failures_;
    std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace testsupport
