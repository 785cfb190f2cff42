#pragma once

#include "platform/runtime/dispatch.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

struct DirectoryEvent {
    enum class Kind {
        Created,            // a file or folder appeared (not by a rename into the folder)
        ClosedWrite,        // a file opened for writing was closed
        MovedTo,            // renamed into the folder (or within it: the new name)
        Modified,           // written to
        AttributesChanged,  // permissions, times, owner, extended attributes
        Deleted,            // removed; the watched folder itself when it goes (the watch then ends)
        MovedFrom,          // renamed out of the folder (or within it: the old name)
        Overflow,           // the kernel dropped events: rescan the folder; `path` is the folder
    };
    QString path;  // absolute: the folder's path joined with the entry's name
    Kind kind;

    bool operator==(const DirectoryEvent&) const = default;
};

// A running watch on one folder (not its subfolders). Destroying it stops it too, also from
// inside its own handler.
class DirectoryWatch {
public:
    virtual ~DirectoryWatch() = default;
    // No delivery happens after this returns, including one already due; safe from inside the
    // handler. Idempotent.
    virtual void stop() = 0;
};

class DirectoryWatcher {
public:
    using Handler = std::function<void(const std::vector<DirectoryEvent>&)>;

    struct StartResult {
        std::unique_ptr<DirectoryWatch> watch;  // null on failure
        QString errorText;                      // why not, e.g. "No such file or directory"
        explicit operator bool() const { return watch != nullptr; }
    };

    virtual ~DirectoryWatcher() = default;

    static DirectoryWatcher& system();

    // Watches `folder` for entries created, written and closed, moved in or out, modified,
    // changed in attributes and deleted. Events are gathered from the first one on for
    // `latencySeconds` and handed to `onBatch` on the main thread as one batch in the order they
    // happened (an event repeated within a batch is given once). A missing or unreadable folder,
    // or a path that is not a folder, gives a null watch and the reason. Call on the main thread.
    virtual StartResult watch(const QString& folder, double latencySeconds, Handler onBatch) = 0;

    // As watch(), also for a folder that does not exist yet: meanwhile its nearest existing
    // ancestor is watched (nothing is delivered from it), one level further down as each folder on
    // the way appears. When the folder appears, the entries it already holds arrive as one batch of
    // Created events, so nothing written before its watch began is lost; when it goes, the wait
    // starts again. Fails only when no folder on the way can be watched.
    StartResult watchOnceItExists(const QString& folder, double latencySeconds, Handler onBatch);
};

// inotify, read through the Qt event loop of the main thread, batched on a Scheduler.
class InotifyDirectoryWatcher final : public DirectoryWatcher {
public:
    explicit InotifyDirectoryWatcher(Scheduler& scheduler = Scheduler::shared()) : scheduler_(scheduler) {}
    StartResult watch(const QString& folder, double latencySeconds, Handler onBatch) override;

private:
    Scheduler& scheduler_;
};

}  // namespace platform
