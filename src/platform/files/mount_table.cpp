#include "platform/files/mount_table.h"

#include <QFile>
#include <QList>
#include <QSet>

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

bool isOnLocalFileSystem(const QString& path, const QByteArray& mountInfo) {
    const QByteArray target = QFile::encodeName(path);
    if (!target.startsWith('/')) return false;
    bool rooted = false;
    // "36 35 98:0 /root /mnt/point rw,noatime master:1 - ext4 /dev/sda1 rw": the mount point is
    // the fifth field, the type the first after the lone "-".
    for (const QByteArray& line : mountInfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 7) continue;
        const QByteArray mountPoint = unescaped(fields.at(4));
        if (!contains(mountPoint, target)) continue;
        const qsizetype separator = fields.indexOf("-", 6);
        if (separator < 0 || separator + 1 >= fields.size()) return false;
        // Every mount over a folder on the way counts, also one hidden under a later mount.
        if (!localTypes().contains(fields.at(separator + 1))) return false;
        rooted = rooted || mountPoint == "/";
    }
    return rooted;
}

QByteArray mountTable() { return ownMountInfo(); }

bool isOnLocalFileSystem(const QString& path) { return isOnLocalFileSystem(path, ownMountInfo()); }

}  // namespace platform
