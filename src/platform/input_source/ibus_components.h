#pragma once

#include <QHash>
#include <QString>

namespace platform {

// Which component serves each IBus engine. The daemon makes an engine on its component's own
// connection, the one that owns the component's name on IBus's bus (org.freedesktop.IBus.Anthy),
// so that connection alone sends the engine's signals. The daemon tells the pairing over no bus;
// its registry cache holds it, as `ibus read-cache` prints it.
using IBusComponents = QHash<QString, QString>;  // engine name -> component name

// Blocking: runs off the main thread. The user's registry cache, else the system's; empty when
// neither can be read.
IBusComponents runIBusReadCache();

}  // namespace platform
