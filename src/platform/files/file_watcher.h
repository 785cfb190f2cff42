#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace platform {

// A watch on one file for writes and extensions. It owns its descriptor: destroying the watch
// stops the events at once and closes the descriptor, also from inside its own event handler.
class FileEventSource {
public:
    virtual ~FileEventSource() = default;
    // The event-only descriptor behind the watch (for logs and diagnostics).
    virtual int descriptor() const = 0;
};

class FileWatcher {
public:
    virtual ~FileWatcher() = default;

    static FileWatcher& system();

    // Opens `path` for event notification only and watches it for writes and extensions.
    // `onChange` runs on the main thread, once per batch of events. Returns nullptr when the
    // file cannot be opened for events (absent, not permitted, out of watch descriptors).
    // Only the file as opened now is watched: a file that is replaced or deleted later gives
    // no further events. Call on the main thread.
    virtual std::unique_ptr<FileEventSource> watchWrites(const QString& path, std::function<void()> onChange) = 0;
};

// inotify, delivered through the Qt event loop of the main thread.
class InotifyFileWatcher final : public FileWatcher {
public:
    std::unique_ptr<FileEventSource> watchWrites(const QString& path, std::function<void()> onChange) override;
};

}  // namespace platform
