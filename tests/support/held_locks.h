#pragma once

#include <QString>
#include <QtGlobal>

namespace testsupport {

// The POSIX locks process `pid` (by default this one) holds on the file at `path`, as /proc/locks
// lists them; -1 when the file or the table cannot be read. Closing any descriptor of a file drops
// them all.
int locksHeld(const QString& path, qint64 pid = 0);

}  // namespace testsupport
