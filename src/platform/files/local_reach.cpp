#include "platform/files/local_reach.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

int openWithoutLinks(const QByteArray& path, int flags, int at) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS;
    return static_cast<int>(::syscall(SYS_openat2, at, path.constData(), &how, sizeof how));
}

bool canOpenWithoutLinks() {
    // Asked once of the root folder. A link, or a kernel (or sandbox) without openat2, fails alike.
    static const bool answer = [] {
        const int fd = openWithoutLinks("/", O_PATH);
        if (fd >= 0) ::close(fd);
        return fd >= 0 || !(errno == ENOSYS || errno == EPERM || errno == E2BIG);
    }();
    return answer;
}

LocalReach::LocalReach() : mounts_(MountTable::current()) {}

LocalReach::LocalReach(MountTable mounts) : mounts_(std::move(mounts)) {}

std::optional<QByteArray> LocalReach::resolved(const QByteArray& path, bool followLast) const {
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
        if (!mounts_.isLocal(next)) return std::nullopt;
        struct stat info {};
        const bool last = std::none_of(rest.begin(), rest.end(), [](const QByteArray& p) { return !p.isEmpty() && p != "."; });
        if (::lstat(next.constData(), &info) != 0 || !S_ISLNK(info.st_mode) || (last && !followLast)) {
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

bool LocalReach::inPlace(const QString& path) const {
    if (path.isEmpty()) return true;
    const QString clean = QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::currentPath() + u'/' + path);
    const QByteArray encoded = QFile::encodeName(clean);
    if (!mounts_.isLocal(encoded) || !canOpenWithoutLinks()) return false;
    return resolved(encoded).has_value();
}

namespace {

// No "." or ".." part and no doubled slash: the kernel walks exactly the folders it names.
bool plain(const QByteArray& path) {
    return !path.contains("//") && !path.contains("/./") && !path.contains("/../") && !path.endsWith("/.") &&
           !path.endsWith("/..");
}

}  // namespace

int LocalReach::open(const QByteArray& path, int flags, QByteArray* reached) const {
    if (!path.startsWith('/') || !canOpenWithoutLinks()) {
        errno = EXDEV;
        return -1;
    }
    // The kernel's views hold nothing: not even a walk into them begins.
    const auto nothing = [] {
        errno = ENOENT;
        return -1;
    };
    // Where no link lies on the way, the mount table alone tells where each step lies.
    if (plain(path) && mounts_.isVirtual(path)) return nothing();
    if (plain(path) && mounts_.isLocal(path)) {
        const int fd = openWithoutLinks(path, flags);
        if (fd >= 0 || errno != ELOOP) {
            if (reached) *reached = path;
            return fd;
        }
    }
    const std::optional<QByteArray> way = resolved(path, !(flags & O_NOFOLLOW));
    if (!way) {
        errno = EXDEV;
        return -1;
    }
    if (mounts_.isVirtual(*way)) return nothing();
    const int fd = openWithoutLinks(*way, flags);
    if (reached) *reached = *way;
    // A link that came since: left alone.
    if (fd < 0 && errno == ELOOP) errno = EXDEV;
    return fd;
}

std::optional<struct stat> LocalReach::status(const QByteArray& path, bool followLast) const {
    const int fd = open(path, O_PATH | (followLast ? 0 : O_NOFOLLOW));
    if (fd < 0) return std::nullopt;
    struct stat info {};
    const bool ok = ::fstat(fd, &info) == 0;
    ::close(fd);
    if (!ok) return std::nullopt;
    return info;
}

bool forEachEntry(int fd, const std::function<bool(const char* name, unsigned char type)>& entry) {
    alignas(dirent64) char buffer[16384];
    for (;;) {
        const ssize_t n = ::getdents64(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return true;
        if (n < 0) return false;
        for (ssize_t offset = 0; offset < n;) {
            const auto* dirent = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += dirent->d_reclen;
            if (std::strcmp(dirent->d_name, ".") == 0 || std::strcmp(dirent->d_name, "..") == 0) continue;
            if (!entry(dirent->d_name, dirent->d_type)) return true;
        }
    }
}

}  // namespace platform
