#pragma once

// A live search for files by creation date within one folder: a first complete result set, then a
// notice whenever the set changes.

#include "platform/files/directory_watcher.h"
#include "platform/runtime/dispatch.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

struct MetadataItem {
    QString path;
    // Where the file came from, as the program that saved it recorded it; none when it recorded nothing.
    std::optional<QStringList> whereFroms;
    QDateTime creationDate;
};

// A running query. Destroying it stops it too.
class MetadataQuery {
public:
    virtual ~MetadataQuery() = default;

    // No notice is given after this returns. Idempotent.
    virtual void stop() = 0;
    // While disabled the result set holds still; changes in the meantime are taken in (and
    // noticed) once updates are enabled again.
    virtual void disableUpdates() = 0;
    virtual void enableUpdates() = 0;
    // Newest first.
    virtual int resultCount() const = 0;
    virtual const MetadataItem& resultAt(int index) const = 0;
};

struct MetadataQueryRequest {
    QString scope;          // the folder searched
    QDateTime createdSince;  // only files created at or after this moment
};

class MetadataSearch {
public:
    using Notice = std::function<void(MetadataQuery& query)>;

    virtual ~MetadataSearch() = default;

    static MetadataSearch& system();

    // Starts a query (never null; a folder that cannot be searched gives an empty result set).
    // `onFinishGathering` runs once, later, on the main thread, when the first result set is
    // complete; `onUpdate` whenever the set changes after that. Call on the main thread.
    virtual std::unique_ptr<MetadataQuery> start(const MetadataQueryRequest& request, Notice onFinishGathering,
                                                 Notice onUpdate) = 0;
};

// The folder's directory watch stands in for the index. Only the folder's own entries are found:
// inotify does not watch subfolders. A file becomes a result once it has been written and closed
// or moved in, since browsers record its origin only after creating it; a folder as soon as it
// appears. Modified and attribute events refresh a result's origins.
class DirectoryMetadataSearch final : public MetadataSearch {
public:
    static constexpr double updateLatency = 0.5;

    // No scheduler is the shared one at each start.
    explicit DirectoryMetadataSearch(DirectoryWatcher& watcher = DirectoryWatcher::system(), Scheduler* scheduler = nullptr)
        : watcher_(watcher), scheduler_(scheduler) {}

    std::unique_ptr<MetadataQuery> start(const MetadataQueryRequest& request, Notice onFinishGathering,
                                         Notice onUpdate) override;

private:
    DirectoryWatcher& watcher_;
    Scheduler* scheduler_;
};

// The origin URLs a downloader recorded in the file's extended attributes: "user.xdg.origin.url",
// then "user.xdg.referrer.url"; none when it has neither.
std::optional<QStringList> readWhereFroms(const QString& path);

}  // namespace platform
