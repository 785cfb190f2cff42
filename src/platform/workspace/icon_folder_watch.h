#pragma once

#include "platform/workspace/icon_files.h"

#include <vector>

namespace platform {

// Tells whether a folder icon lookups look into changed since the watch was made: the kernel
// watches each folder there is (a change of an entry in it, or of the folder itself), so asking
// costs one read that never waits; folders that are missing, or every folder where the kernel
// watches no more, are looked at again by changedOnDisk().
class IconFolderWatch {
public:
    // Looks at the folders: where the lookups run.
    explicit IconFolderWatch(const IconFolders& folders);
    ~IconFolderWatch();
    IconFolderWatch(const IconFolderWatch&) = delete;
    IconFolderWatch& operator=(const IconFolderWatch&) = delete;

    // Whether the kernel told of a change. Touches no folder; any thread.
    bool changed();
    // Whether one of the folders it does not watch changed: looks at them.
    bool changedOnDisk() const;
    // Whether changedOnDisk() has anything to look at.
    bool looksOnDisk() const { return !unwatched_.empty(); }

private:
    int fd_ = -1;
    std::vector<QByteArray> unwatchedPaths_;
    IconFolderStamps unwatched_;
};

}  // namespace platform
