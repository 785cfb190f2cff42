#include "platform/files/mount_table.h"

#include <QFile>
#include <QList>
#include <QSet>

#include <mutex>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

// Types whose reads are served by this machine's kernel from its own disks or memory. Anything
// else (nfs, cifs, smb3, 9p, ceph, fuse.*, fuseblk, autofs, ...) may wait on another program or
// machine for ever.
const QSet<QByteArray>& localTypes() {
    static const QSet<QByteArray>& types = *new QSet<QByteArray>{
        "ext2",  "ext3",    "ext4",    "xfs",      "btrfs",  "f2fs",    "jfs",     "reiserfs", "bcachefs", "nilfs2",
        "zfs",   "vfat",    "msdos",   "exfat",    "ntfs3",  "hfs",     "hfsplus", "udf",      "iso9660",  "squashfs",
        "erofs", "cramfs",  "romfs",   "tmpfs",    "ramfs",  "devtmpfs", "proc",   "sysfs",    "overlay",  "rootfs",
        "devpts", "cgroup", "cgroup2", "securityfs", "debugfs", "tracefs", "configfs", "efivarfs", "pstore", "ecryptfs"};
    return types;
}

// Mount points come with space, tab, line feed and backslash as octal escapes.
QByteArray unescaped(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && code > 0 && code < 256) {
                out += char(code);
                i += 3;
                continue;
            }
        }
        out += field.at(i);
    }
    return out;
}

bool contains(const QByteArray& mountPoint, const QByteArray& path) {
    if (mountPoint == "/") return true;
    return path.startsWith(mountPoint) && (path.size() == mountPoint.size() || path.at(mountPoint.size()) == '/');
}

// The table the mount table file open at `fd` gives from its start.
QByteArray mountInfoAt(int fd) {
    QByteArray text;
    if (::lseek(fd, 0, SEEK_SET) != 0) return text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || text.size() > 4 * 1024 * 1024) break;
        text.append(buffer, n);
    }
    return text;
}

}  // namespace

MountTable MountTable::current() {
    // Kept open, the table tells its reader of every mount and unmount since its last look (it
    // polls with priority): it is read and parsed again only then, not at every ask, which comes
    // for each notification. Never closed nor destroyed: a lookup may still run as the process ends.
    static std::mutex mutex;
    static int fd = -1;
    static std::optional<MountTable>& last = *new std::optional<MountTable>;
    std::lock_guard lock(mutex);
    if (fd < 0) fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return MountTable(QByteArray());
    pollfd changes{fd, POLLPRI, 0};
    if (!last || (::poll(&changes, 1, 0) > 0 && (changes.revents & (POLLPRI | POLLERR)))) last = MountTable(mountInfoAt(fd));
    return *last;
}

MountTable::MountTable(const QByteArray& mountInfo) {
    // The same table is read again for every lookup: the last one's parse is kept (never
    // destroyed: a lookup may still run while the process ends).
    static std::mutex mutex;
    static QByteArray& lastInfo = *new QByteArray;
    static std::shared_ptr<const std::vector<Mount>>& last = *new std::shared_ptr<const std::vector<Mount>>;
    std::lock_guard lock(mutex);
    if (last && mountInfo == lastInfo) {
        mounts_ = last;
        return;
    }
    auto mounts = std::make_shared<std::vector<Mount>>();
    // "36 35 98:0 /root /mnt/point rw,noatime master:1 - ext4 /dev/sda1 rw": the mount point is
    // the fifth field, the type the first after the lone "-".
    for (const QByteArray& line : mountInfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 7) continue;
        const qsizetype separator = fields.indexOf("-", 6);
        mounts->push_back({unescaped(fields.at(4)),
                           separator >= 0 && separator + 1 < fields.size() && localTypes().contains(fields.at(separator + 1))});
    }
    lastInfo = mountInfo;
    last = mounts;
    mounts_ = std::move(mounts);
}

bool MountTable::isLocal(const QByteArray& path) const {
    if (!path.startsWith('/')) return false;
    bool rooted = false;
    for (const Mount& mount : *mounts_) {
        if (!contains(mount.point, path)) continue;
        // Every mount over a folder on the way counts, also one hidden under a later mount.
        if (!mount.local) return false;
        rooted = rooted || mount.point == "/";
    }
    return rooted;
}

std::vector<QByteArray> MountTable::foreignInside(const QByteArray& path) const {
    std::vector<QByteArray> inside;
    for (const Mount& mount : *mounts_)
        if (!mount.local && mount.point.size() > path.size() && contains(path, mount.point)) inside.push_back(mount.point);
    return inside;
}

bool isOnLocalFileSystem(const QString& path, const QByteArray& mountInfo) {
    return MountTable(mountInfo).isLocal(QFile::encodeName(path));
}

bool isOnLocalFileSystem(const QString& path) { return MountTable::current().isLocal(QFile::encodeName(path)); }

}  // namespace platform
