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

}  // namespace

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, const FileReadCanceller* canceller,
                                          std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (path.isEmpty()) return std::nullopt;
    const QString clean = absoluteClean(path);
    const QByteArray encoded = QFile::encodeName(clean);
    if (isOnLocalFileSystem(clean)) {
        // A child's descriptors are its own: only here would a close drop our locks.
        if (isHeldAt(encoded)) return std::nullopt;
        const int fd = openWithoutLinks(encoded);
        if (fd >= 0) return readOpened(fd, maxBytes);
        if (!needsChild(errno)) return std::nullopt;
    }
    return readRegularFileInChild(
        encoded, maxBytes,
        deadline.value_or(std::chrono::steady_clock::now() + std::chrono::milliseconds(kFileReadTimeoutMs)), canceller);
}

bool readsInPlace(const QString& path) {
    if (path.isEmpty()) return true;
    const QString clean = absoluteClean(path);
    if (!isOnLocalFileSystem(clean) || !canOpenWithoutLinks()) return false;
    // Each folder on the way and the file itself, as openWithoutLinks walks them.
    const QByteArray encoded = QFile::encodeName(clean);
    for (qsizetype end = 1; end <= encoded.size(); ++end) {
        if (end < encoded.size() && encoded[end] != '/') continue;
        struct stat info {};
        if (::lstat(encoded.left(end).constData(), &info) != 0) return true;
        if (S_ISLNK(info.st_mode)) return false;
    }
    return true;
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
