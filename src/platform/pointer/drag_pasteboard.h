#pragma once

// The contents of the drag in progress, as a drop target would see them before the drop.

namespace platform {

class DragPasteboard {
public:
    virtual ~DragPasteboard() = default;

    // The process-wide pasteboard (the XDND one unless a test installed another).
    static DragPasteboard& shared();
    // Installs `pasteboard` (nullptr restores the default); returns the previous one.
    static DragPasteboard* setShared(DragPasteboard* pasteboard);

    // Starts following drag sessions. A session that began before cannot always be read (X11
    // sources refuse requests that carry no time), so a user calls this before drags matter.
    virtual void startWatching() {}

    // True only while a drag session runs and the dragged data offers a URI list with at least
    // one file URL. Main thread only.
    virtual bool canReadFileURLs() = 0;
};

}  // namespace platform
