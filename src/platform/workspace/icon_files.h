#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace platform {

class IconFolderContents;

// Icon files are read up to this many bytes; a larger one is not an icon.
inline constexpr qint64 kMaxIconFileBytes = 4 * 1024 * 1024;

// The pixel size icons are looked up at: what the island takes for a sharp icon (it draws one at
// most 44 points wide, and a record keeps 128 pixels), so its largest drawing on a screen of up to
// three device pixels per point needs nothing larger.
inline constexpr int kIconLookupPixels = 128;

// The picture in the icon file at `path`, read through readRegularFile and decoded from memory:
// no file is ever opened by name here (an SQLite connection of this process may hold it, and a
// file system that may never answer is read in a child). A drawing (SVG) comes at `side` pixels
// on its longer edge. Null when the file cannot be read, is no picture, or declares more than 4096
// pixels a side.
QImage readIconFile(const QString& path, int side = kIconLookupPixels);

// A one-colour ("-symbolic") icon drawn in `colour`, its shape kept, as desktops recolour them to
// the text they stand beside.
QImage recoloured(const QImage& image, const QColor& colour);
bool isSymbolicIcon(const QString& name);

// Where icons are looked for: the icon theme and the folders beside it.
struct IconFolders {
    QString theme;               // the current theme (hicolor when none)
    QStringList bases;           // the theme search paths, the data folders' icons folders included
    QStringList unthemed;        // the data folders' pixmaps: icons looked up by their whole name only
    QStringList dataDirectories;  // for hicolor icons installed where no hicolor index lies
};
// The folders as Qt's theme settings and the environment name them now. Touches no file.
IconFolders iconFolders();

// A file of the icon theme and the pixel size its folder holds icons at (0 when unknown). A drawing
// (SVG) is drawn at the size asked for, whatever its folder.
struct ThemedIconFile {
    QString path;
    int size = 0;
};

// The file for `name` at `pixels` as the freedesktop icon theme lookup picks it: in the theme,
// then the themes it inherits, then hicolor, a folder of that size first, else the folder whose
// size is nearest; else a file of that whole name in the pixmaps folders; only then the same for
// the name without its last dash-separated part, and so on. Files are only looked at (never
// opened; a link is not followed), through `contents` when given (what earlier lookups read of
// the folders, while they are unchanged); each theme's index.theme is read through
// readRegularFile. A folder that lies on another file system, or a step to which does, is looked
// into by a child, after the folders here (one whose child did not answer is asked again only
// once a mount there came or went); one on the kernel's views holds nothing. None when no folder
// holds the name.
std::optional<ThemedIconFile> themedIconFile(const QString& name, int pixels = kIconLookupPixels,
                                             const IconFolders& folders = iconFolders(),
                                             IconFolderContents* contents = nullptr);

// Every folder a lookup in `folders` may look into (a theme's own folders only where the theme
// is), each at the path its links lead to; none on another file system, though a theme's folder
// may still lead onto one (see LocalReach). Looks at them: where the lookups run.
std::vector<QByteArray> iconFolderPaths(const IconFolders& folders);
// The last change of each of `paths` and of an index.theme in it (-1: missing, or on another file
// system): equal stamps mean no lookup's answer changed since.
using IconFolderStamps = std::vector<std::pair<QByteArray, qint64>>;
IconFolderStamps iconFolderStamps(const std::vector<QByteArray>& paths);

// How many times a theme's index.theme was read since the process started.
int themeIndexReads();

}  // namespace platform
