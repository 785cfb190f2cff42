#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <chrono>
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
    // Whether `path` lies on one of the kernel's own views (proc, sysfs, cgroup, debugfs and the
    // like), or under an automount point nothing is mounted on yet: no application's file lies
    // there, and a walk through one may take seconds (or mount a server's share).
    bool isVirtual(const QByteArray& path) const;
    // The mount points strictly under the folder `path` whose file systems are not local.
    std::vector<QByteArray> foreignInside(const QByteArray& path) const;
    // The devices of the places isVirtual() tells of, for a child process to tell them by.
    const std::vector<dev_t>& virtualDevices() const;
    // Grows with each change this process saw of its mounts that are not local (one came, went or
    // was mounted anew): what was learned of places on them holds while it stays. 0 for a table
    // given as text.
    quint64 foreignChanges() const { return foreignChanges_; }

    // How many times this process's mount table changed since it was first asked, as a thread of
    // its own hears from the kernel: asking costs one read of memory, for every notification.
    static quint64 changes();
    // Tests: waits until changes() passes `seen`.
    static bool waitForChange(quint64 seen, std::chrono::milliseconds timeout);

private:
    struct Parsed;
    std::shared_ptr<const Parsed> parsed_;
    quint64 foreignChanges_ = 0;
};

// Whether every file system on the way to the absolute, cleaned `path` is one of this machine's
// own, as this process's mount table lists them now (see MountTable::isLocal).
bool isOnLocalFileSystem(const QString& path);
// The same against the text of a mount table in the form of /proc/self/mountinfo.
bool isOnLocalFileSystem(const QString& path, const QByteArray& mountInfo);

}  // namespace platform
