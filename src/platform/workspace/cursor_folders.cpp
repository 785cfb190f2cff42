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

}  // namespace

QByteArray localCursorFolders(const QByteArray& path, const QString& home,
                              const std::function<bool(const QString&)>& local) {
    QByteArrayList kept;
    for (const QByteArray& folder : path.split(':')) {
        if (folder.isEmpty()) continue;
        const QString name = QFile::decodeName(folder);
        if (local(name.startsWith(QLatin1Char('~')) ? home + name.mid(1) : name)) kept << folder;
    }
    return kept.join(':');
}

void keepCursorFoldersLocal() {
    const bool wasSet = qEnvironmentVariableIsSet("XCURSOR_PATH");
    const QByteArray given = wasSet ? qgetenv("XCURSOR_PATH") : QByteArray(kDefaultFolders);
    const QByteArray kept = localCursorFolders(given, QDir::homePath(), [](const QString& folder) {
        return readsInPlace(folder);
    });
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
