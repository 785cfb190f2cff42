#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <chrono>
#include <optional>
#include <vector>

namespace platform {

// Lets a stopping service give up at once the file reads its thread waits on.
class FileReadCanceller {
public:
    FileReadCanceller();
    ~FileReadCanceller();
    FileReadCanceller(const FileReadCanceller&) = delete;
    FileReadCanceller& operator=(const FileReadCanceller&) = delete;

    // Every read waiting now or started later gives up. Any thread.
    void cancel();
    bool isCancelled() const;
    // Readable once cancelled.
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Children reading at once or left behind at most: each may be stuck for good, and none can be
// killed, so a file system that stopped answering costs no more processes than this.
inline constexpr int kMaxChildFileReads = 8;

// Up to maxBytes + 1 bytes of the regular file at `path`, read by a child process, so that a file
// system that never answers holds up the child, never this process: a child not done by
// `deadline` (or when `canceller` cancels) is killed and left behind unwaited, as a process stuck
// in such a read cannot end until the file system answers or goes away. None then, and when the
// file cannot be opened, is not a regular file, is empty or holds more than maxBytes. Reads may run
// on several threads at once; while kMaxChildFileReads children are reading or still stuck,
// further reads give up at once.
std::optional<QByteArray> readRegularFileInChild(const QByteArray& path, qint64 maxBytes,
                                                 std::chrono::steady_clock::time_point deadline,
                                                 const FileReadCanceller* canceller = nullptr);

// What a child found looking at files by name: the index of the first that is a file or a link,
// none when none is.
struct ChildProbe {
    std::optional<size_t> index;
};
// The first of `paths` that is a regular file or a symbolic link (not followed), looked at by a
// child process on the terms of readRegularFileInChild: none when the child did not answer by the
// deadline (or had no place), else what it found.
std::optional<ChildProbe> firstFileInChild(const std::vector<QByteArray>& paths,
                                           std::chrono::steady_clock::time_point deadline,
                                           const FileReadCanceller* canceller = nullptr);

// A file a child found: under which of the roots it was asked about, where below it ("" for a root
// that is the file itself), and its bytes.
struct ChildFile {
    size_t root = 0;
    QByteArray relative;
    QByteArray bytes;
};
// The regular files whose names end in `suffix` under each of `roots` (in their subfolders too,
// to a depth of eight; a link to a folder is not entered, a link to a file is read), and each root
// that is such a file itself, looked at and read by a child process on the terms of
// readRegularFileInChild: none when the child did not answer by the deadline (or had no place),
// or wrote more than `maxTotalBytes`. Empty files and files of more than `maxFileBytes` are left
// out, and so is everything on the kernel's views (see MountTable::isVirtual), which the child
// does not even list.
std::optional<std::vector<ChildFile>> filesInChild(const std::vector<QByteArray>& roots, const char* suffix,
                                                   qint64 maxFileBytes, qint64 maxTotalBytes,
                                                   std::chrono::steady_clock::time_point deadline,
                                                   const FileReadCanceller* canceller = nullptr);

// Children killed at their deadline and not yet gone; they are reaped as they go.
int childFileReadsLeftBehind();

}  // namespace platform
