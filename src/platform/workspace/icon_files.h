#pragma once

#include <QImage>
#include <QString>

#include <optional>

namespace platform {

// Icon files are read up to this many bytes; a larger one is not an icon.
inline constexpr qint64 kMaxIconFileBytes = 4 * 1024 * 1024;

// The picture in the icon file at `path`, read through readRegularFile and decoded from memory:
// no file is ever opened by name here (an SQLite connection of this process may hold it, and a
// link or a slow file system is read in a child). A drawing (SVG) comes at `side` pixels on its
// longer edge. Null when the file cannot be read, is no picture, or declares more than 4096
// pixels a side.
QImage readIconFile(const QString& path, int side = 256);

// A file of the icon theme and the size its folder holds icons at.
struct ThemedIconFile {
    QString path;
    int size = 0;
};

// The largest file the current icon theme holds for `name`, else the themes it inherits, else
// hicolor; else the same for the name without its last dash-separated part; else the fallback
// folders. Files are only looked at (never opened); each theme's index.theme is read through
// readRegularFile. None when no theme holds the name.
std::optional<ThemedIconFile> themedIconFile(const QString& name);

}  // namespace platform
