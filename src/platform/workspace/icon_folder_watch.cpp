#include "platform/workspace/icon_folder_watch.h"

#include "platform/files/local_reach.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace platform {

IconFolderWatch::IconFolderWatch(const IconFolders& folders) {
    const std::vector<QByteArray> paths = iconFolderPaths(folders);
    const LocalReach reach;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    constexpr uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    for (const QByteArray& path : paths) {
        // Each folder is watched through a descriptor opened as LocalReach reaches it: the kernel
        // then walks no path to it, and one leading elsewhere goes unseen.
        const int folder = reach.open(path, O_PATH | O_DIRECTORY);
        if (folder < 0 && errno == EXDEV) continue;
        if (folder >= 0 && fd_ >= 0) {
            const int added = ::inotify_add_watch(fd_, ("/proc/self/fd/" + std::to_string(folder)).c_str(), kChanges);
            const int error = errno;
            ::close(folder);
            if (added >= 0) continue;
            errno = error;
        } else if (folder >= 0) {
            ::close(folder);
        }
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
