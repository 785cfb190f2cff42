#include "platform/workspace/icon_folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

IconFolderWatch::IconFolderWatch(const IconFolders& folders) {
    const std::vector<QByteArray> paths = iconFolderPaths(folders);
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    constexpr uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    for (const QByteArray& path : paths) {
        if (fd_ >= 0 && ::inotify_add_watch(fd_, path.constData(), kChanges) >= 0) continue;
        // Missing, or no more watches to be had (then the rest too is looked at).
        if (fd_ >= 0 && errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
            ::close(fd_);
            fd_ = -1;
            unwatchedPaths_ = paths;
            break;
        }
        unwatchedPaths_.push_back(path);
    }
    unwatched_ = iconFolderStamps(unwatchedPaths_);
}

IconFolderWatch::~IconFolderWatch() {
    if (fd_ >= 0) ::close(fd_);
}

bool IconFolderWatch::changed() {
    if (fd_ < 0) return false;
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    while (::read(fd_, buffer, sizeof buffer) > 0) any = true;
    return any;
}

bool IconFolderWatch::changedOnDisk() const { return iconFolderStamps(unwatchedPaths_) != unwatched_; }

}  // namespace platform
