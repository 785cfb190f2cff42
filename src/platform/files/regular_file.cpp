#include "platform/files/regular_file.h"

#include "platform/files/child_file_read.h"
#include "platform/files/local_reach.h"

#include <QDir>
#include <QFile>

#include <mutex>
#include <set>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;

// A link, or a kernel (or sandbox) without openat2: the child follows it safely.
bool needsChild(int error) { return error == ELOOP || error == ENOSYS || error == EPERM || error == E2BIG; }

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
// Never destroyed: a read may still run while the process ends.
std::multiset<std::pair<dev_t, ino_t>>& held = *new std::multiset<std::pair<dev_t, ino_t>>;

bool isHeldAt(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0) return false;
    std::lock_guard lock(heldMutex);
    return held.contains({info.st_dev, info.st_ino});
}

QString absoluteClean(const QString& path) {
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::currentPath() + u'/' + path);
}

// Opens the file at `path`, with no link on the way, for reading, unless an SQLite connection of
// ours holds it: it is first opened as a bare path, whose close drops no lock, and told by its
// device and inode. -1 with errno set (EACCES for a held file).
int openLocal(const QByteArray& path) {
    const int probe = openWithoutLinks(path, O_PATH);
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
    return openWithoutLinks(path, kReadFlags);
}

}  // namespace

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, const FileReadCanceller* canceller,
                                          std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (path.isEmpty()) return std::nullopt;
    const QString clean = absoluteClean(path);
    const QByteArray encoded = QFile::encodeName(clean);
    const LocalReach reach;
    if (reach.mounts().isLocal(encoded)) {
        int fd = openLocal(encoded);
        int error = errno;
        // A link is followed here while it stays on this machine's own file systems.
        if (fd < 0 && error == ELOOP) {
            if (const std::optional<QByteArray> resolved = reach.resolved(encoded)) {
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

bool readsInPlace(const QString& path) { return LocalReach().inPlace(path); }

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
