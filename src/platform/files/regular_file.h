#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <chrono>
#include <optional>

namespace platform {

class FileReadCanceller;

// How long a read in a child process may take before it is given up.
inline constexpr int kFileReadTimeoutMs = 1000;

// The bytes of the regular file at `path`, read with a byte limit that holds whatever the file's
// size claims (files under /proc say 0 and never end). None when it cannot be opened, is anything
// but a regular file (a pipe there never blocks the caller: it is opened non-blocking), is empty,
// or holds more than `maxBytes`.
//
// A file on a network or FUSE file system, or reached through a symbolic link that leads onto one,
// is read by a child process given kFileReadTimeoutMs (see readRegularFileInChild): a read such a
// file system never answers cannot be interrupted, and must not hold up the caller's thread or the
// application's exit. Local files are read here, links followed here step by step while they stay
// on this machine's own file systems; a file an SQLite connection of ours holds is refused, by the
// device and inode the links end on, before it is opened. `deadline` (by default
// kFileReadTimeoutMs from now) bounds the child.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes,
                                          const FileReadCanceller* canceller = nullptr,
                                          std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

// Whether readRegularFile reads `path` here rather than in a child process: on a local file
// system, every link on the way leading to another place on one (or missing, which fails here at
// once). Decided without opening the file, and without looking at anything on another file system.
bool readsInPlace(const QString& path);

// A file an SQLite connection of this process keeps open (by device and inode) while `held`:
// readRegularFile never opens it here, since closing any descriptor of a file drops every lock
// this process holds on it. A sender may name the notification store as its picture. Counted:
// each hold is given back once. See recordFilesHeldByDatabases, which records every connection's.
void setHeldByDatabase(dev_t device, ino_t inode, bool held);
// Whether the file at `path` (its links followed) is one an SQLite connection of this process
// holds: a road that must open a file by name, and cannot read it through readRegularFile, leaves
// such a file alone.
bool isHeldByDatabase(const QString& path);

}  // namespace platform
