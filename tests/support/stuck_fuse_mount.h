#pragma once

// A FUSE file system whose one file never answers a read, as a hung sshfs, NFS or gvfs server
// would not: served by a python3-fuse program, mounted on a temporary folder. Ending it ends the
// server (the kernel then fails the reads still waiting) and unmounts lazily, so nothing stays
// stuck.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace testsupport {

class StuckFuseMount {
public:
    // Null with `error` set when it could not be mounted; `noFuse` set when the machine offers no
    // /dev/fuse to this user at all (the only reason a test may skip).
    static std::unique_ptr<StuckFuseMount> start(QString* error, bool* noFuse);
    ~StuckFuseMount();
    StuckFuseMount(const StuckFuseMount&) = delete;
    StuckFuseMount& operator=(const StuckFuseMount&) = delete;

    // A file whose reads never return (any name ending in ".png"); its attributes and opening
    // answer at once.
    QString stuckFile(const QString& name = QStringLiteral("icon.png")) const {
        return folder_.filePath(QStringLiteral("mount/") + name);
    }
    // A folder that never answers even whether it exists, as a whole server that stopped would
    // not: everything under it hangs as soon as it is looked at.
    QString hungFolder() const { return folder_.filePath(QStringLiteral("mount/hung")); }
    // Waits at most `timeoutMs` for the server to receive a read of that file, or a look at that
    // folder.
    bool waitForRead(int timeoutMs = 10000);
    bool waitForStat(int timeoutMs = 10000);
    qint64 serverPid() const { return server_.processId(); }
    // Ends the server and unmounts; idempotent.
    void stop();

private:
    StuckFuseMount() = default;
    bool waitForLine(const QByteArray& line, int timeoutMs);

    QTemporaryDir folder_;
    QProcess server_;
    QByteArray output_;
    bool mounted_ = false;
};

}  // namespace testsupport
