#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Whether every file system on the way to the absolute, cleaned `path` is one of this machine's
// own (a disk, memory, /proc), as this process's mount table lists them. False for network and
// FUSE file systems, whose reads may never return, and for any type not known to be local.
bool isOnLocalFileSystem(const QString& path);
// The same against the text of a mount table in the form of /proc/self/mountinfo.
bool isOnLocalFileSystem(const QString& path, const QByteArray& mountInfo);
// This process's mount table (/proc/self/mountinfo), read afresh: for several paths asked at once.
QByteArray mountTable();

}  // namespace platform
