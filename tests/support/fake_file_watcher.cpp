#include "support/fake_file_watcher.h"

#include <QFileInfo>

#include <algorithm>

namespace testsupport {

class FakeFileWatcher::Source final : public platform::FileEventSource {
public:
    Source(std::shared_ptr<Entry> entry, std::weak_ptr<std::vector<std::shared_ptr<Entry>>> entries)
        : entry_(std::move(entry)), entries_(std::move(entries)) {}
    ~Source() override {
        entry_->active = false;
        if (auto list = entries_.lock()) list->erase(std::remove(list->begin(), list->end(), entry_), list->end());
    }
    int descriptor() const override { return 1000; }

private:
    std::shared_ptr<Entry> entry_;
    std::weak_ptr<std::vector<std::shared_ptr<Entry>>> entries_;
};

std::unique_ptr<platform::FileEventSource> FakeFileWatcher::watchWrites(const QString& path,
                                                                        std::function<void()> onChange) {
    if (failing_.count(path) || !QFileInfo::exists(path)) return nullptr;
    auto entry = std::make_shared<Entry>(Entry{path, std::move(onChange), true});
    entries_->push_back(entry);
    return std::make_unique<Source>(entry, entries_);
}

int FakeFileWatcher::fire(const QString& path) {
    const auto snapshot = *entries_;  // handlers may add or drop watches
    int delivered = 0;
    for (const auto& entry : snapshot) {
        if (!entry->active || entry->path != path) continue;
        auto handler = entry->onChange;
        handler();
        ++delivered;
    }
    return delivered;
}

int FakeFileWatcher::activeWatchCount() const { return static_cast<int>(entries_->size()); }

QStringList FakeFileWatcher::watchedPaths() const {
    QStringList paths;
    for (const auto& entry : *entries_) paths << entry->path;
    return paths;
}

}  // namespace testsupport
