#pragma once

namespace platform {

// The X library reads cursors on the thread that draws, from the folders of XCURSOR_PATH or of
// its own default (~/.icons among them): one on a network or FUSE file system that stops
// answering would freeze the application the first time a window changes its cursor. Called once,
// before the first window, this gives the library only the folders on this machine's own file
// systems; programs started from here still get the environment as it was.
void keepCursorFoldersLocal();

}  // namespace platform
