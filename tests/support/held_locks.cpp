#include "support/held_locks.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

// The table is read in one call: the kernel lists it whole under its lock then, while a read in
// pieces (as a buffered QFile makes) loses or repeats lines when other processes lock and unlock
// between them.
int locksHeld(const QString& path, qint64 pid) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return -1;
    const int fd = ::open("/proc/locks", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    QByteArray table(1 << 20, Qt::Uninitialized);
    const ssize_t length = ::read(fd, table.data(), static_cast<size_t>(table.size()));
    ::close(fd);
    if (length < 0) return -1;
    table.truncate(length);
    const QByteArray holder = QByteArray::number(pid > 0 ? pid : qint64(::getpid()));
    const QByteArray inode = ':' + QByteArray::number(static_cast<qulonglong>(info.st_ino));
    int count = 0;
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 5 && fields[1] == "POSIX" && fields[4] == holder && fields[5].endsWith(inode)) ++count;
    }
    return count;
}

}  // namespace testsupport
