#include "platform/pointer/drag_pasteboard.h"
#include "platform/pointer/haptic_feedback.h"
#include "platform/pointer/polled_pointer_monitor.h"
#include "platform/pointer/x11_xdnd_pasteboard.h"

namespace platform {

namespace {
PointerMonitor* installedMonitor = nullptr;
DragPasteboard* installedPasteboard = nullptr;
HapticFeedbackPerformer* installedPerformer = nullptr;
}  // namespace

PointerMonitor& PointerMonitor::shared() {
    if (installedMonitor) return *installedMonitor;
    static PolledPointerMonitor monitor;
    return monitor;
}

PointerMonitor* PointerMonitor::setShared(PointerMonitor* monitor) {
    PointerMonitor* previous = installedMonitor;
    installedMonitor = monitor;
    return previous;
}

DragPasteboard& DragPasteboard::shared() {
    if (installedPasteboard) return *installedPasteboard;
    static X11XdndPasteboard pasteboard;
    return pasteboard;
}

DragPasteboard* DragPasteboard::setShared(DragPasteboard* pasteboard) {
    DragPasteboard* previous = installedPasteboard;
    installedPasteboard = pasteboard;
    return previous;
}

HapticFeedbackPerformer& HapticFeedbackPerformer::shared() {
    if (installedPerformer) return *installedPerformer;
    static SilentHapticFeedbackPerformer performer;
    return performer;
}

HapticFeedbackPerformer* HapticFeedbackPerformer::setShared(HapticFeedbackPerformer* performer) {
    HapticFeedbackPerformer* previous = installedPerformer;
    installedPerformer = performer;
    return previous;
}

}  // namespace platform
