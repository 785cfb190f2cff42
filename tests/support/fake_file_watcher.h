#pragma once

#include "platform/files/file_watcher.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace testsupport {

// File watches that fire when the test says so. A watch on a path marked as failing (or on a
// file that does not exist) cannot be opened, as with the real watcher.
class FakeFileWatcher final : public platform::FileWatcher {
public:
    std::unique_ptr<platform::FileEventSource> watchWrites(const QString& path, std::function<void()> onChange) override;

    void failFor(const QString& path) { failing_.insert(path); }
    // Delivers one batch of events to every live watch on `path`; returns how many got it.
    int fire(const QString& path);

    int activeWatchCount() const;
    QStringList watchedPaths() const;

private:
    struct Entry {
        QString path;
        std::function<void()> onChange;
        bool active = true;
    };
    class Source;

    std::set<QString> failing_;
    std::shared_ptr<std::vector<std::shared_ptr<Entry>>> entries_ = std::make_shared<std::vector<std::shared_ptr<Entry>>>();
};

}  // namespace testsupport
