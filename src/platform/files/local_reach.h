#pragma once

#include "platform/files/mount_table.h"

#include <QByteArray>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <optional>

namespace platform {

// Paths looked at on this machine's own file systems only, as one read of the mount table tells
// them: each symbolic link on the way is followed here step by step while it stays on them, and
// nothing on a network or FUSE file system (whose answers may never come) is touched, not even
// to ask whether it is there. What lies there is a child process's to look at.
class LocalReach {
public:
    // This process's mount table, read now.
    LocalReach();
    explicit LocalReach(MountTable mounts);

    // `path` (absolute) with every link on the way followed (`followLast`: the last part's too),
    // each step looked at only where it lies on this machine's own file systems: none when the way
    // leads onto another or the links loop. A missing part ends the walk; the rest is kept as
    // written, and fails where it is opened.
    std::optional<QByteArray> resolved(const QByteArray& path, bool followLast = true) const;
    // Whether `path` (made absolute and cleaned) and every step to it lie on this machine's own
    // file systems, the links on the way included (a missing part counts: it fails here at once).
    bool inPlace(const QString& path) const;

    // Opens `path` (absolute) with `flags` (O_NOFOLLOW: a link at its end is opened itself, which
    // takes O_PATH), reaching it as resolved() does and opening no link on the way. -1 with errno
    // EXDEV when the way leads onto another file system (nothing there was looked at), ENOENT when
    // it leads into one of the kernel's views (see MountTable::isVirtual: they hold nothing), else
    // with the open's own error. `reached`: the path opened, every link on the way followed.
    int open(const QByteArray& path, int flags, QByteArray* reached = nullptr) const;
    // The status of what `path` names (`followLast`: a link at its end followed), reached as open()
    // reaches it; errno EXDEV where that lies elsewhere.
    std::optional<struct stat> status(const QByteArray& path, bool followLast = true) const;

    const MountTable& mounts() const { return mounts_; }

private:
    MountTable mounts_;
};

// Whether this kernel (and sandbox) opens a path with no link on the way; without it every path
// counts as lying elsewhere.
bool canOpenWithoutLinks();
// Opens `path` with no link on the way (RESOLVE_NO_SYMLINKS). -1 with errno set.
int openWithoutLinks(const QByteArray& path, int flags, int at = AT_FDCWD);

// Calls `entry` with the name and type (a DT_ value, DT_UNKNOWN where the file system does not
// say) of each entry of the folder open at `fd`, read straight from the kernel: no entry is looked
// at. Stops when `entry` returns false. False when the folder could not be read to its end.
bool forEachEntry(int fd, const std::function<bool(const char* name, unsigned char type)>& entry);

}  // namespace platform
