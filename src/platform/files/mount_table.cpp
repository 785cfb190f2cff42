#include "platform/files/mount_table.h"

#include <QFile>
#include <QList>
#include <QSet>

#include <mutex>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// Types whose reads are served by this machine's kernel from its own disks or memory. Anything
// else (nfs, cifs, smb3, 9p, ceph, fuse.*, fuseblk, autofs, ...) may wait on another program or
// machine for ever.
const QSet<QByteArray>& localTypes() {
    static const QSet<QByteArray> types{
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

QByteArray ownMountInfo() {
    QByteArray text;
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || text.size() > 4 * 1024 * 1024) break;
        text.append(buffer, n);
    }
    ::close(fd);
    return text;
}

}  // namespace

namespace {

struct Mount {
    QByteArray point;
    bool local = false;  // false too for a line that cannot be read: nothing under it is trusted
};

// The mounts of a table, in its order; the last table's are kept, as the same table is asked
// about many paths in a row.
std::vector<Mount> mountsOf(const QByteArray& mountInfo) {
    static std::mutex mutex;
    static QByteArray lastInfo;
    static std::vector<Mount> last;
    std::lock_guard lock(mutex);
    if (mountInfo == lastInfo && !last.empty()) return last;
    std::vector<Mount> mounts;
    // "36 35 98:0 /root /mnt/point rw,noatime master:1 - ext4 /dev/sda1 rw": the mount point is
    // the fifth field, the type the first after the lone "-".
    for (const QByteArray& line : mountInfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 7) continue;
        const qsizetype separator = fields.indexOf("-", 6);
        mounts.push_back({unescaped(fields.at(4)),
                          separator >= 0 && separator + 1 < fields.size() && localTypes().contains(fields.at(separator + 1))});
    }
    lastInfo = mountInfo;
    last = mounts;
    return mounts;
}

}  // namespace

bool isOnLocalFileSystem(const QString& path, const QByteArray& mountInfo) {
    const QByteArray target = QFile::encodeName(path);
    if (!target.startsWith('/')) return false;
    bool rooted = false;
    for (const Mount& mount : mountsOf(mountInfo)) {
        if (!contains(mount.point, target)) continue;
        // Every mount over a folder on the way counts, also one hidden under a later mount.
        if (!mount.local) return false;
        rooted = rooted || mount.point == "/";
    }
    return rooted;
}

QByteArray mountTable() { return ownMountInfo(); }

bool isOnLocalFileSystem(const QString& path) { return isOnLocalFileSystem(path, ownMountInfo()); }

}  // namespace platform
