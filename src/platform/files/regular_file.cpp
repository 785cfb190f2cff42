#include "platform/files/regular_file.h"

#include "platform/files/child_file_read.h"
#include "platform/files/mount_table.h"

#include <QDir>
#include <QFile>

#include <mutex>
#include <set>
#include <utility>

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

// Opens `path` without following any symbolic link, so the walk stays on the file systems its
// folders name. -1 with errno set.
int openWithoutLinks(const QByteArray& path) {
    open_how how{};
    how.flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    how.resolve = RESOLVE_NO_SYMLINKS;
    return static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path.constData(), &how, sizeof how));
}

std::optional<QByteArray> readOpened(int fd, qint64 maxBytes) {
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    // One byte over the limit tells a file too large, whatever its size said.
    QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.isEmpty() || bytes.size() > maxBytes || file.error() != QFileDevice::NoError) return std::nullopt;
    return bytes;
}

std::mutex heldMutex;
std::multiset<std::pair<dev_t, ino_t>> held;

bool isHeldAt(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) return false;
    std::lock_guard lock(heldMutex);
    return held.contains({info.st_dev, info.st_ino});
}

QString absoluteClean(const QString& path) {
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::currentPath() + u'/' + path);
}

// A link, or a kernel (or sandbox) without openat2: the child follows it safely.
bool needsChild(int error) { return error == ELOOP || error == ENOSYS || error == EPERM || error == E2BIG; }

// Whether this kernel (and sandbox) lets openWithoutLinks work, asked once of the root folder.
bool canOpenWithoutLinks() {
    static const bool answer = [] {
        open_how how{};
        how.flags = O_PATH | O_CLOEXEC;
        how.resolve = RESOLVE_NO_SYMLINKS;
        const int fd = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof how));
        if (fd >= 0) ::close(fd);
        return fd >= 0 || !needsChild(errno);
    }();
    return answer;
}


// Opens the file at `path`, with no link on the way, for reading, unless an SQLite connection of
// ours holds it: it is first opened as a bare path, whose close drops no lock, and told by its
// device and inode. -1 with errno set (EACCES for a held file).
int openLocal(const QByteArray& path) {
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const int probe = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path.constData(), &how, sizeof how));
    if (probe < 0) return -1;
    struct stat info {};
    const bool ok = ::fstat(probe, &info) == 0;
    ::close(probe);
    if (!ok) return -1;
    {
        std::lock_guard lock(heldMutex);
        if (held.contains({info.st_dev, info.st_ino})) {
            errno = EACCES;
            return -1;
        }
    }
    return openWithoutLinks(path);
}

// `path` with every symbolic link on the way replaced by what it names, each step taken only on
// this machine's own file systems: none when the way leads onto another (only a child may go
// there) or the links loop. A part that is missing ends the walk: the open fails there.
std::optional<QByteArray> resolvedLocally(const QByteArray& path, const QByteArray& mounts) {
    QByteArray done;
    QList<QByteArray> rest = path.split('/');
    int links = 0;
    while (!rest.isEmpty()) {
        const QByteArray part = rest.takeFirst();
        if (part.isEmpty() || part == ".") continue;
        if (part == "..") {
            done.truncate(std::max<qsizetype>(done.lastIndexOf('/'), 0));
            continue;
        }
        const QByteArray next = done + '/' + part;
        if (!isOnLocalFileSystem(QFile::decodeName(next), mounts)) return std::nullopt;
        struct stat info {};
        if (::lstat(next.constData(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            done = next;
            if (!S_ISDIR(info.st_mode) && !rest.isEmpty()) break;
            continue;
        }
        if (++links > 40) return std::nullopt;
        char target[4096];
        const ssize_t n = ::readlink(next.constData(), target, sizeof target);
        if (n <= 0 || n >= ssize_t(sizeof target)) return std::nullopt;
        const QByteArray to(target, n);
        if (to.startsWith('/')) done.clear();
        rest = to.split('/') + rest;
    }
    for (const QByteArray& part : rest) done += '/' + part;
    return done.isEmpty() ? QByteArray("/") : done;
}

}  // namespace

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, const FileReadCanceller* canceller,
                                          std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (path.isEmpty()) return std::nullopt;
    const QString clean = absoluteClean(path);
    const QByteArray encoded = QFile::encodeName(clean);
    const QByteArray mounts = mountTable();
    if (isOnLocalFileSystem(clean, mounts)) {
        int fd = openLocal(encoded);
        int error = errno;
        // A link is followed here while it stays on this machine's own file systems.
        if (fd < 0 && error == ELOOP) {
            if (const std::optional<QByteArray> resolved = resolvedLocally(encoded, mounts)) {
                fd = openLocal(*resolved);
                error = fd < 0 && errno == ELOOP ? EACCES : errno;  // changed under us: left alone
            }
        }
        if (fd >= 0) return readOpened(fd, maxBytes);
        if (!needsChild(error)) return std::nullopt;
    }
    return readRegularFileInChild(
        encoded, maxBytes,
        deadline.value_or(std::chrono::steady_clock::now() + std::chrono::milliseconds(kFileReadTimeoutMs)), canceller);
}

bool readsInPlace(const QString& path) {
    if (path.isEmpty()) return true;
    const QByteArray mounts = mountTable();
    const QString clean = absoluteClean(path);
    if (!isOnLocalFileSystem(clean, mounts) || !canOpenWithoutLinks()) return false;
    return resolvedLocally(QFile::encodeName(clean), mounts).has_value();
}

bool isHeldByDatabase(const QString& path) {
    return !path.isEmpty() && isHeldAt(QFile::encodeName(absoluteClean(path)));
}

void setHeldByDatabase(dev_t device, ino_t inode, bool isHeld) {
    std::lock_guard lock(heldMutex);
    if (isHeld) {
        held.insert({device, inode});
    } else if (const auto it = held.find({device, inode}); it != held.end()) {
        held.erase(it);
    }
}

}  // namespace platform
