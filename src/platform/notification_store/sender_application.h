#pragma once

#include <QString>

namespace platform {

class FileReadCanceller;

// The application a process belongs to, found as the desktop portal finds it: the [Application]
// name of a Flatpak sandbox's .flatpak-info, the name of a Snap, or the application id of the
// systemd unit a desktop started it in ("app-gnome-org.gnome.Terminal-1234.scope"); failing those,
// the process's own name. Empty when the process cannot be read (it may have ended). Reads only
// small regular files under `procRoot` ("/proc" outside tests), each with a byte limit; the
// sandbox's file, in the process's own root, only as readRegularFile reads files that may be
// anywhere.
QString applicationOfProcess(qint64 pid, const QString& procRoot = QStringLiteral("/proc"),
                             const FileReadCanceller* canceller = nullptr);

// The application id in a systemd unit name of the desktop's application scheme, or empty.
QString applicationOfUnit(const QString& unit);

}  // namespace platform
