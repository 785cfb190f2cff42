#include "platform/files/mount_table.h"

#include <QFile>
#include <QList>
#include <QSet>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

enum class View { none, kernel, automount };

struct Mount {
    QByteArray point;
    bool local = false;  // false too for a line that cannot be read: nothing under it is trusted
    View view = View::none;
};

}  // namespace

struct MountTable::Parsed {
    std::vector<Mount> mounts;
    std::vector<dev_t> virtualDevices;
    QByteArray foreign;  // the mounts that are not local, by id and point
};

namespace {

// Types whose reads are served by this machine's kernel from its own disks or memory. Anything
// else (nfs, cifs, smb3, 9p, ceph, fuse.*, fuseblk, autofs, ...) may wait on another program or
// machine for ever.
const QSet<QByteArray>& localTypes() {
    static const QSet<QByteArray>& types = *new QSet<QByteArray>{
        "ext2",  "ext3",    "ext4",    "xfs",      "btrfs",  "f2fs",    "jfs",     "reiserfs", "bcachefs", "nilfs2",
        "zfs",   "vfat",    "msdos",   "exfat",    "ntfs3",  "hfs",     "hfsplus", "udf",      "iso9660",  "squashfs",
        "erofs", "cramfs",  "romfs",   "tmpfs",    "ramfs",  "devtmpfs", "overlay", "rootfs",  "ecryptfs"};
    return types;
}

// The kernel's views of itself: local, but holding no application's files, and some of them
// (/proc above all) thousands of folders deep.
const QSet<QByteArray>& viewTypes() {
    static const QSet<QByteArray>& types = *new QSet<QByteArray>{
        "proc",     "sysfs",   "devpts",      "cgroup",     "cgroup2", "securityfs", "debugfs", "tracefs",
        "configfs", "efivarfs", "pstore",     "bpf",        "fusectl", "hugetlbfs",  "mqueue",  "binfmt_misc",
        "nsfs",     "selinuxfs", "smackfs",   "rpc_pipefs", "nfsd",    "binder"};
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

// This process's table, kept open: the kernel tells its reader of every mount and unmount since its
// last look (it polls with priority), so the table is read and parsed again only then, not at every
// ask, which comes for each notification. Never closed nor destroyed: a lookup may still run as
// the process ends.
struct Kept {
    std::mutex mutex;
    int fd = -1;
    std::optional<MountTable> table;
    QByteArray text;  // the table's
    quint64 foreignChanges = 0;
};

Kept& kept() {
    static Kept& instance = *new Kept;
    return instance;
}

// Hears of each change of this process's mount table on a thread of its own, from the first ask
// on, through a descriptor of its own (of the shorter list of mounts, which tells of the same
// changes): each open file is told of a change apart, so the table's reader hears of it too.
// Never destroyed: the thread waits for as long as the process runs.
struct Watch {
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<quint64> count{0};

    Watch() {
        // Opened before the first ask is answered: every change after it is heard.
        const int fd = ::open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        try {
            std::thread([this, fd] { listen(fd); }).detach();
        } catch (const std::system_error&) {
            ::close(fd);
        }
    }

    void listen(int fd) {
        pthread_setname_np(pthread_self(), "mount-watch");
        for (;;) {
            pollfd table{fd, POLLPRI, 0};
            const int ready = ::poll(&table, 1, -1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || (table.revents & POLLNVAL)) return;
            if (!(table.revents & (POLLPRI | POLLERR))) continue;
            {
                std::lock_guard lock(mutex);
                ++count;
            }
            changed.notify_all();
        }
    }
};

Watch& watch() {
    static Watch& instance = *new Watch;
    return instance;
}

}  // namespace

MountTable MountTable::current() {
    Kept& k = kept();
    std::lock_guard lock(k.mutex);
    if (k.fd < 0) k.fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (k.fd < 0) return MountTable(QByteArray());
    pollfd changed{k.fd, POLLPRI, 0};
    if (!k.table || (::poll(&changed, 1, 0) > 0 && (changed.revents & (POLLPRI | POLLERR)))) {
        QByteArray text = mountInfoAt(k.fd);
        MountTable read(text);
        // A gone mount's id is given to the next: a table the kernel told of a change in that
        // reads as before had a mount go and come again.
        if (k.table && (read.parsed_->foreign != k.table->parsed_->foreign || text == k.text)) ++k.foreignChanges;
        read.foreignChanges_ = k.foreignChanges;
        k.table = std::move(read);
        k.text = std::move(text);
    }
    return *k.table;
}

quint64 MountTable::changes() { return watch().count.load(std::memory_order_acquire); }

bool MountTable::waitForChange(quint64 seen, std::chrono::milliseconds timeout) {
    Watch& w = watch();
    std::unique_lock lock(w.mutex);
    return w.changed.wait_for(lock, timeout, [&w, seen] { return w.count > seen; });
}

MountTable::MountTable(const QByteArray& mountInfo) {
    auto parsed = std::make_shared<Parsed>();
    // "36 35 98:0 /root /mnt/point rw,noatime master:1 - ext4 /dev/sda1 rw": the device is the
    // third field, the mount point the fifth, the type the first after the lone "-".
    for (const QByteArray& line : mountInfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 7) continue;
        const qsizetype separator = fields.indexOf("-", 6);
        const QByteArray type = separator >= 0 && separator + 1 < fields.size() ? fields.at(separator + 1) : QByteArray();
        Mount mount{unescaped(fields.at(4))};
        mount.view = viewTypes().contains(type) ? View::kernel : type == "autofs" ? View::automount : View::none;
        mount.local = localTypes().contains(type) || mount.view == View::kernel;
        const QList<QByteArray> device = fields.at(2).split(':');
        if (mount.view != View::none && device.size() == 2)
            parsed->virtualDevices.push_back(makedev(device.at(0).toUInt(), device.at(1).toUInt()));
        // Its id tells a mount made anew on the same point.
        if (!mount.local) parsed->foreign += fields.at(0) + ' ' + fields.at(4) + '\n';
        parsed->mounts.push_back(std::move(mount));
    }
    parsed_ = std::move(parsed);
}

bool MountTable::isLocal(const QByteArray& path) const {
    if (!path.startsWith('/')) return false;
    bool rooted = false;
    for (const Mount& mount : parsed_->mounts) {
        if (!contains(mount.point, path)) continue;
        // Every mount over a folder on the way counts, also one hidden under a later mount.
        if (!mount.local) return false;
        rooted = rooted || mount.point == "/";
    }
    return rooted;
}

bool MountTable::isVirtual(const QByteArray& path) const {
    // An automount point counts only while it is uncovered: once mounted, what is mounted on it counts.
    const Mount* innermost = nullptr;
    for (const Mount& mount : parsed_->mounts) {
        if (!contains(mount.point, path)) continue;
        if (mount.view == View::kernel) return true;
        if (!innermost || mount.point.size() >= innermost->point.size()) innermost = &mount;
    }
    return innermost && innermost->view == View::automount;
}

std::vector<QByteArray> MountTable::foreignInside(const QByteArray& path) const {
    std::vector<QByteArray> inside;
    for (const Mount& mount : parsed_->mounts)
        if (!mount.local && mount.point.size() > path.size() && contains(path, mount.point)) inside.push_back(mount.point);
    return inside;
}

const std::vector<dev_t>& MountTable::virtualDevices() const { return parsed_->virtualDevices; }

bool isOnLocalFileSystem(const QString& path, const QByteArray& mountInfo) {
    return MountTable(mountInfo).isLocal(QFile::encodeName(path));
}

bool isOnLocalFileSystem(const QString& path) { return MountTable::current().isLocal(QFile::encodeName(path)); }

}  // namespace platform
