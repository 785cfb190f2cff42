#include "platform/input_monitor/global_key_monitor.h"

#include "platform/input_monitor/x11_global_key_monitor.h"

namespace platform {

namespace {
GlobalKeyMonitor* installed = nullptr;
}  // namespace

GlobalKeyMonitor& GlobalKeyMonitor::shared() {
    if (installed) return *installed;
    static X11GlobalKeyMonitor monitor;
    return monitor;
}

GlobalKeyMonitor* GlobalKeyMonitor::setShared(GlobalKeyMonitor* monitor) {
    GlobalKeyMonitor* previous = installed;
    installed = monitor;
    return previous;
}

}  // namespace platform
