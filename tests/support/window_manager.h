#pragma once

#include "support/service_fixtures.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <memory>

namespace testsupport {

// openbox, without a session manager, on the X server $DISPLAY names, returned once it manages
// the screen: it has named itself on the root window and published its desktops, the current
// one and its client list, which tests read from their first step. nullptr (and why in `error`)
// when it is missing, exits, or is not ready within `timeout`.
std::unique_ptr<ServiceProcess> startOpenbox(QString* error = nullptr,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Waits on the root window's property changes until each of `names` is set there. False when
// `timeout` passed first, the X server cannot be reached, or `process` (when given) exited.
bool waitForRootProperties(const QList<QByteArray>& names, std::chrono::milliseconds timeout,
                           ServiceProcess* process = nullptr);

}  // namespace testsupport
