#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

namespace platform {

// The mounts of a table in the form of /proc/self/mountinfo, parsed for many paths at once.
class MountTable {
public:
    // This process's own table as it stands now (read again only after a mount or unmount).
    static MountTable current();
    explicit MountTable(const QByteArray& mountInfo);

    // Whether every file system on the way to the absolute, cleaned `path` is one of this machine's
    // own (a disk, memory, /proc): false for network and FUSE file systems, whose reads may never
    // return, and for any type not known to be local.
    bool isLocal(const QByteArray& path) const;
    // The mount points strictly under the folder `path` whose file systems are not local.
    std::vector<QByteArray> foreignInside(const QByteArray& path) const;

private:
    struct Mount {
        QByteArray point;
        bool local = false;  // false too for a line that cannot be read: nothing under it is trusted
    };
    std::shared_ptr<const std::vector<Mount>> mounts_;
};

// Whether every file system on the way to the absolute, cleaned `path` is one of this machine's
// own, as this process's mount table lists them now (see MountTable::isLocal).
bool isOnLocalFileSystem(const QString& path);
// The same against the text of a mount table in the form of /proc/self/mountinfo.
bool isOnLocalFileSystem(const QString& path, const QByteArray& mountInfo);

}  // namespace platform
