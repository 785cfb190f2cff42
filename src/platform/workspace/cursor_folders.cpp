#include "platform/workspace/cursor_folders.h"

#include "platform/dynamic_library/dynamic_library.h"
#include "platform/files/regular_file.h"

#include <QDir>
#include <QFile>

#include <cstdlib>

namespace platform {

namespace {

// The X cursor library's folders when XCURSOR_PATH is not set, as Debian builds it.
constexpr char kDefaultFolders[] = "~/.icons:/usr/share/icons:/usr/share/pixmaps";

// The folders of `path` (':'-separated, a leading '~' standing for home) on this machine's own
// file systems, in their order and spelling.
QByteArray localFolders(const QByteArray& path) {
    const QString home = QDir::homePath();
    QByteArrayList kept;
    for (const QByteArray& folder : path.split(':')) {
        if (folder.isEmpty()) continue;
        const QString name = QFile::decodeName(folder);
        if (readsInPlace(name.startsWith(QLatin1Char('~')) ? home + name.mid(1) : name)) kept << folder;
    }
    return kept.join(':');
}

}  // namespace

void keepCursorFoldersLocal() {
    const bool wasSet = qEnvironmentVariableIsSet("XCURSOR_PATH");
    const QByteArray given = wasSet ? qgetenv("XCURSOR_PATH") : QByteArray(kDefaultFolders);
    const QByteArray kept = localFolders(given);
    if (kept == given) return;
    // The library keeps the value it reads the first time (a pointer into the environment), so the
    // text stays for the life of the process.
    static QByteArray entry = QByteArray("XCURSOR_PATH=") + kept;
    ::putenv(entry.data());
    const std::shared_ptr<DynamicLibrary> library = DynamicLibraryLoader::shared().load(QStringLiteral("libXcursor.so.1"));
    const auto readPath = library ? reinterpret_cast<const char* (*)()>(library->symbol("XcursorLibraryPath")) : nullptr;
    // Without a library that takes its folders now, the environment keeps the choice.
    if (!readPath) return;
    readPath();
    if (wasSet)
        qputenv("XCURSOR_PATH", given);
    else
        qunsetenv("XCURSOR_PATH");
}

}  // namespace platform
