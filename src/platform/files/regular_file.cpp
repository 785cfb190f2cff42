#include "platform/files/regular_file.h"

#include "platform/files/child_file_read.h"
#include "platform/files/mount_table.h"

#include <QDir>
#include <QFile>

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

}  // namespace

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, const FileReadCanceller* canceller) {
    if (path.isEmpty()) return std::nullopt;
    const QString clean = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::currentPath() + u'/' + path);
    const QByteArray encoded = QFile::encodeName(clean);
    if (isOnLocalFileSystem(clean)) {
        const int fd = openWithoutLinks(encoded);
        if (fd >= 0) return readOpened(fd, maxBytes);
        // A link, or a kernel (or sandbox) without openat2: the child follows it safely.
        if (errno != ELOOP && errno != ENOSYS && errno != EPERM && errno != E2BIG) return std::nullopt;
    }
    return readRegularFileInChild(encoded, maxBytes, kFileReadTimeoutMs, canceller);
}

}  // namespace platform
