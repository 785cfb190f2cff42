#pragma once

#include <QString>

namespace testsupport {

// The POSIX locks this process holds on the file at `path`, as /proc/locks lists them; -1 when
// the file or the table cannot be read. Closing any descriptor of a file drops them all.
int locksHeld(const QString& path);

}  // namespace testsupport
