#include "platform/files/child_file_read.h"

#include "platform/files/mount_table.h"

#include <algorithm>
#include <cstring>
#include <chrono>
#include <csignal>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

// Never destroyed, as none of these statics: a reader may still wait while the process ends.
std::mutex leftBehindMutex;
std::vector<pid_t>& leftBehind = *new std::vector<pid_t>;
// Children reading now (under leftBehindMutex): each may turn out stuck.
int reading = 0;

// Under leftBehindMutex.
void reapLeftBehind() {
    std::erase_if(leftBehind, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

// Takes one of the kMaxChildFileReads places, or none when all are taken.
bool takePlace() {
    std::lock_guard lock(leftBehindMutex);
    reapLeftBehind();
    if (reading + static_cast<int>(leftBehind.size()) >= kMaxChildFileReads) return false;
    ++reading;
    return true;
}

// Gives the place back, to a child that is gone (`stuck` none) or to one left behind.
void leavePlace(std::optional<pid_t> stuck) {
    std::lock_guard lock(leftBehindMutex);
    --reading;
    if (stuck) leftBehind.push_back(*stuck);
}

// Kills the child; one that does not go at once stays in its place until it does.
void leaveBehind(pid_t pid) {
    ::kill(pid, SIGKILL);
    leavePlace(::waitpid(pid, nullptr, WNOHANG) != 0 ? std::nullopt : std::optional<pid_t>(pid));
}

using Clock = std::chrono::steady_clock;

int millisUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

// Waits for `fd` to become readable; false at the deadline or once `canceller` cancels.
bool waitReadable(int fd, Clock::time_point deadline, const FileReadCanceller* canceller) {
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {canceller ? canceller->fd() : -1, POLLIN, 0}};
        const int ready = ::poll(fds, 2, millisUntil(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || fds[1].revents) return false;
        return true;
    }
}

bool writeAll(const char* bytes, ssize_t n) {
    for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(STDOUT_FILENO, bytes + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += w;
    }
    return true;
}

// Between fork and _exit only async-signal-safe calls: the other threads' locks stay taken here.
// Readies the child to write to `out` as its standard output, holding nothing else of ours.
void becomeChild(int out, pid_t parent, int openMax) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(2);
    if (::dup2(out, STDOUT_FILENO) < 0) ::_exit(2);
    // The application's streams, sockets and files are not the child's to keep open while it is
    // stuck: whoever reads the application's output would wait for its end.
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0 || ::dup2(null, STDIN_FILENO) < 0 || ::dup2(null, STDERR_FILENO) < 0) ::_exit(2);
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
        for (int fd = 3; fd < openMax; ++fd) ::close(fd);
}

[[noreturn]] void readInChild(const char* path, qint64 maxBytes) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) ::_exit(1);
    char buffer[16384];
    for (qint64 left = maxBytes + 1; left > 0;) {
        const ssize_t n = ::read(fd, buffer, static_cast<size_t>(std::min<qint64>(left, sizeof buffer)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ::_exit(1);
        if (n == 0) break;
        if (!writeAll(buffer, n)) ::_exit(1);
        left -= n;
    }
    if (::close(fd) != 0) ::_exit(1);
    ::_exit(0);
}

// Writes the index of the first of `paths` that is a file or a link, as four bytes; none: nothing.
[[noreturn]] void probeInChild(const std::vector<QByteArray>& paths) {
    for (size_t i = 0; i < paths.size(); ++i) {
        struct stat info {};
        if (::lstat(paths[i].constData(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))) continue;
        const uint32_t index = static_cast<uint32_t>(i);
        ::_exit(writeAll(reinterpret_cast<const char*>(&index), sizeof index) ? 0 : 1);
    }
    ::_exit(0);
}

// filesInChild's records: the root's index, the relative path's length and the path; then chunks
// of the file, each its length and bytes; then 0 for a whole file, or kLeftOut for one left out.
constexpr uint32_t kLeftOut = 0xffffffff;
constexpr int kMaxListingDepth = 8;

bool writeWord(uint32_t word) { return writeAll(reinterpret_cast<const char*>(&word), sizeof word); }

struct ChildListing {
    uint32_t root = 0;
    const char* suffix = "";
    size_t suffixLength = 0;
    qint64 maxFileBytes = 0;
    // The kernel's views (see MountTable::isVirtual), by device: nothing there is listed or read.
    const dev_t* views = nullptr;
    size_t viewCount = 0;
    char relative[4096] = {};

    bool inView(const struct stat& info) const {
        return std::find(views, views + viewCount, info.st_dev) != views + viewCount;
    }
};

// Writes the file open at `fd` as a record, unless it is no regular file or lies on a kernel's
// view; false once the output is gone.
bool writeFileRecord(const ChildListing& listing, const char* relative, size_t length, int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || listing.inView(info)) return true;
    if (!writeWord(listing.root) || !writeWord(static_cast<uint32_t>(length)) || !writeAll(relative, static_cast<ssize_t>(length)))
        return false;
    char buffer[16384];
    qint64 total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return writeWord(n == 0 && total > 0 ? 0 : kLeftOut);
        total += n;
        if (total > listing.maxFileBytes) return writeWord(kLeftOut);
        if (!writeWord(static_cast<uint32_t>(n)) || !writeAll(buffer, n)) return false;
    }
}

bool endsWith(const char* text, size_t length, const char* suffix, size_t suffixLength) {
    return length >= suffixLength && std::memcmp(text + length - suffixLength, suffix, suffixLength) == 0;
}

// Writes a record for each file of the listing's kind in the folder open at `folder` and its
// subfolders; `length`: of the folder's own relative path. False once the output is gone.
bool listInChild(ChildListing& listing, int folder, size_t length, int depth) {
    alignas(dirent64) char buffer[4096];
    for (;;) {
        const ssize_t n = ::getdents64(folder, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        for (ssize_t offset = 0; offset < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            const size_t nameLength = std::strlen(name);
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            if (length + nameLength + 2 > sizeof listing.relative) continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info {};
                if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
                type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISLNK(info.st_mode) ? DT_LNK : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            std::memcpy(listing.relative + length, name, nameLength);
            bool written = true;
            if (type == DT_DIR && depth < kMaxListingDepth) {
                const int sub = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0) continue;
                struct stat info {};
                listing.relative[length + nameLength] = '/';
                if (::fstat(sub, &info) == 0 && !listing.inView(info))
                    written = listInChild(listing, sub, length + nameLength + 1, depth + 1);
                ::close(sub);
            } else if ((type == DT_REG || type == DT_LNK) &&
                       endsWith(name, nameLength, listing.suffix, listing.suffixLength)) {
                const int fd = ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
                if (fd < 0) continue;
                written = writeFileRecord(listing, listing.relative, length + nameLength, fd);
                ::close(fd);
            }
            if (!written) return false;
        }
    }
}

[[noreturn]] void listRootsInChild(const std::vector<QByteArray>& roots, const char* suffix, qint64 maxFileBytes,
                                   const std::vector<dev_t>& views) {
    ChildListing listing;
    listing.suffix = suffix;
    listing.suffixLength = std::strlen(suffix);
    listing.maxFileBytes = maxFileBytes;
    listing.views = views.data();
    listing.viewCount = views.size();
    for (size_t i = 0; i < roots.size(); ++i) {
        const int fd = ::open(roots[i].constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) continue;
        struct stat info {};
        listing.root = static_cast<uint32_t>(i);
        bool written = true;
        if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
            if (!listing.inView(info)) written = listInChild(listing, fd, 0, 0);
        } else if (endsWith(roots[i].constData(), static_cast<size_t>(roots[i].size()), suffix, listing.suffixLength)) {
            written = writeFileRecord(listing, "", 0, fd);
        }
        ::close(fd);
        if (!written) ::_exit(1);
    }
    ::_exit(0);
}

}  // namespace

FileReadCanceller::FileReadCanceller() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

FileReadCanceller::~FileReadCanceller() {
    if (fd_ >= 0) ::close(fd_);
}

void FileReadCanceller::cancel() {
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(fd_, &one, sizeof one);
}

bool FileReadCanceller::isCancelled() const {
    pollfd fd{fd_, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
}

int childFileReadsLeftBehind() {
    std::lock_guard lock(leftBehindMutex);
    reapLeftBehind();
    return static_cast<int>(leftBehind.size());
}

namespace {

// Runs `action` in a child (see readRegularFileInChild) and collects up to maxBytes + 1 bytes of
// what it writes; none when it did not end well by the deadline.
template <typename Action>
std::optional<QByteArray> runInChild(qint64 maxBytes, Clock::time_point deadline, const FileReadCanceller* canceller,
                                     const Action& action) {
    if ((canceller && canceller->isCancelled()) || Clock::now() >= deadline) return std::nullopt;
    if (!takePlace()) return std::nullopt;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        leavePlace(std::nullopt);
        return std::nullopt;
    }
    // The reader's end alone: the child's writes wait for the reader rather than fail once the
    // pipe is full.
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    const int openMax = static_cast<int>(std::clamp<long>(::sysconf(_SC_OPEN_MAX), 1024, 65536));
    // No handler of ours may run in the child.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        becomeChild(fds[1], parent, openMax);
        action();
        ::_exit(2);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        leavePlace(std::nullopt);
        return std::nullopt;
    }

    QByteArray bytes;
    bool ended = false;
    while (!ended && waitReadable(fds[0], deadline, canceller)) {
        char buffer[16384];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0 && bytes.size() <= maxBytes) bytes.append(buffer, n);
        if (n == 0) ended = true;
        if (n < 0 && errno != EINTR && errno != EAGAIN) break;
    }
    ::close(fds[0]);

    // Its output ends when it exits; one that does not exit then is stuck closing the file.
    int status = 0;
    bool exited = false;
    if (ended) {
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (pidfd >= 0) {
            waitReadable(pidfd, deadline, canceller);
            ::close(pidfd);
            exited = ::waitpid(pid, &status, WNOHANG) == pid;
        } else {
            while (!(exited = ::waitpid(pid, &status, WNOHANG) == pid) && Clock::now() < deadline &&
                   !(canceller && canceller->isCancelled()))
                ::poll(nullptr, 0, 2);
        }
    }
    if (!exited) {
        leaveBehind(pid);
        return std::nullopt;
    }
    leavePlace(std::nullopt);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || bytes.size() > maxBytes) return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<QByteArray> readRegularFileInChild(const QByteArray& path, qint64 maxBytes, Clock::time_point deadline,
                                                 const FileReadCanceller* canceller) {
    std::optional<QByteArray> bytes =
        runInChild(maxBytes, deadline, canceller, [&path, maxBytes] { readInChild(path.constData(), maxBytes); });
    if (!bytes || bytes->isEmpty()) return std::nullopt;
    return bytes;
}

std::optional<std::vector<ChildFile>> filesInChild(const std::vector<QByteArray>& roots, const char* suffix,
                                                   qint64 maxFileBytes, qint64 maxTotalBytes, Clock::time_point deadline,
                                                   const FileReadCanceller* canceller) {
    // The child cannot ask the mount table: it is told the views' devices.
    const std::vector<dev_t> views = MountTable::current().virtualDevices();
    const std::optional<QByteArray> bytes = runInChild(maxTotalBytes, deadline, canceller, [&] {
        listRootsInChild(roots, suffix, maxFileBytes, views);
    });
    if (!bytes) return std::nullopt;
    std::vector<ChildFile> files;
    qsizetype at = 0;
    const auto word = [&](uint32_t* value) {
        if (bytes->size() - at < qsizetype(sizeof *value)) return false;
        std::memcpy(value, bytes->constData() + at, sizeof *value);
        at += sizeof *value;
        return true;
    };
    while (at < bytes->size()) {
        uint32_t root = 0, length = 0;
        // A record cut short: the child did not end well.
        if (!word(&root) || !word(&length) || root >= roots.size() || length > bytes->size() - at) return std::nullopt;
        ChildFile file{root, bytes->mid(at, length), {}};
        at += length;
        for (uint32_t chunk = 0;;) {
            if (!word(&chunk)) return std::nullopt;
            if (chunk == 0 || chunk == kLeftOut) {
                if (chunk == 0) files.push_back(std::move(file));
                break;
            }
            if (chunk > bytes->size() - at) return std::nullopt;
            file.bytes.append(bytes->constData() + at, chunk);
            at += chunk;
        }
    }
    return files;
}

std::optional<ChildProbe> firstFileInChild(const std::vector<QByteArray>& paths, Clock::time_point deadline,
                                           const FileReadCanceller* canceller) {
    const std::optional<QByteArray> bytes = runInChild(4, deadline, canceller, [&paths] { probeInChild(paths); });
    if (!bytes) return std::nullopt;
    ChildProbe probe;
    uint32_t index = 0;
    if (bytes->size() == sizeof index) {
        std::memcpy(&index, bytes->constData(), sizeof index);
        if (index < paths.size()) probe.index = static_cast<size_t>(index);
    }
    return probe;
}

}  // namespace platform
