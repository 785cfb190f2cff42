#include "support/fake_directory_watcher.h"

namespace testsupport {

class FakeDirectoryWatcher::Watch final : public platform::DirectoryWatch {
public:
    explicit Watch(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
    ~Watch() override { stop(); }
    void stop() override { entry_->active = false; }

private:
    std::shared_ptr<Entry> entry_;
};

platform::DirectoryWatcher::StartResult FakeDirectoryWatcher::watch(const QString& folder, double latencySeconds,
                                                                    Handler onBatch) {
    StartResult result;
    if (auto it = failures_.find(folder); it != failures_.end()) {
        result.errorText = it->second;
        return result;
    }
    auto entry = std::make_shared<Entry>(Entry{folder, latencySeconds, std::move(onBatch), true});
    entries_.push_back(entry);
    result.watch = std::make_unique<Watch>(entry);
    return result;
}

int FakeDirectoryWatcher::deliver(const QString& folder, const std::vector<platform::DirectoryEvent>& batch) {
    const auto snapshot = entries_;  // handlers may start or stop watches
    int delivered = 0;
    for (const auto& entry : snapshot) {
        if (!entry->active || entry->folder != folder) continue;
        auto handler = entry->onBatch;
        handler(batch);
        ++delivered;
    }
    return delivered;
}

int FakeDirectoryWatcher::activeWatchCount() const {
    int count = 0;
    for (const auto& entry : entries_) count += entry->active ? 1 : 0;
    return count;
}

double FakeDirectoryWatcher::latencyFor(const QString& folder) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if ((*it)->folder == folder) return (*it)->latency;
    return -1;
}

}  // namespace testsupport
