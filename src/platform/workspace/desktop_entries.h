#pragma once

#include <QDateTime>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace platform {

class ProcessLauncher;

// One application entry of the XDG menu (a `.desktop` file).
struct DesktopEntry {
    QString id;  // the file's path under applications/ with '/' as '-', without ".desktop"
    QString name;
    QString icon;  // a theme name or an absolute path
    QString startupWmClass;
    QString exec;  // the command line, field codes included
    QString workingDirectory;
    QStringList categories;  // the main and additional categories, as listed
    QString path;            // the file
    // DBusActivatable: the application is started and reached on the session bus under its id.
    bool dbusActivatable = false;
};

// The `.desktop` files under $XDG_DATA_HOME and $XDG_DATA_DIRS, read again whenever one of those
// folders changed. An earlier folder hides a later entry with the same id. Folders and files are
// looked at here only where they lie on this machine's own file systems (see LocalReach); those on
// a network or FUSE file system, or behind a link that leads onto one, are read by a child process
// off the caller's thread (see EntriesElsewhere), and join the entries once it has read them. The
// kernel's views (/proc, /sys and the like) hold none: nothing there is looked at.
class DesktopEntries {
public:
    // A window's entry: by its desktop hint, then the entry whose id, else whose StartupWMClass,
    // is the WM_CLASS instance, then the StartupWMClass equal to the class, then an id (or its
    // last dotted part) equal to the class or instance, ignoring case.
    std::optional<DesktopEntry> match(const QString& desktopHint, const QString& wmClass, const QString& wmInstance);
    // Whether a window of this WM_CLASS could be the entry's by any of match's rules but the hint,
    // though another entry may match it first.
    static bool describes(const DesktopEntry& entry, const QString& wmClass, const QString& wmInstance);
    // The entry an application identifier names (a notification's desktop-entry hint or app
    // name, a player's DesktopEntry): by id, then StartupWMClass, then id, Name or the program
    // of Exec, ignoring case.
    std::optional<DesktopEntry> resolve(const QString& identifier);

    // The data folders, most important first: $XDG_DATA_HOME, then $XDG_DATA_DIRS.
    static QStringList dataDirectories();
    // Each applications folder with its last change (one on another file system goes unseen), and
    // last a stamp of the entries read elsewhere and of the mount table: equal stamps mean no entry
    // was added, removed or renamed at their top level since.
    using Stamps = std::vector<std::pair<QString, QDateTime>>;
    static Stamps directoryStamps(const QString& root = QStringLiteral("/"));
    // Whether a later change is sure to change these stamps: none was made in the last moments.
    static bool settled(const Stamps& stamps);

    static QStringList directories();
    // The names at the top level of the applications folder `folder`, sorted: read here where it
    // lies on this machine's own file systems (no entry is looked at), else its entries as a child
    // read them (none while it reads).
    static QStringList folderNames(const QString& folder);
    // The [Desktop Entry] of one file; absent for hidden, non-application or nameless entries.
    // Only a regular file of at most 256 KiB is read; one on another file system only as a child
    // read it for the entries.
    static std::optional<DesktopEntry> parse(const QString& path, const QString& id);
    static std::optional<DesktopEntry> parse(const QByteArray& bytes, const QString& path, const QString& id);
    // The icon an entry's Icon names: an absolute file, else the icon theme, else the pixmaps and
    // hicolor icons of the data folders as they are now (see themedIconFile). Null when none is
    // found, and while the lookup is still under way (see IconLookup): never waits for a file.
    static QIcon icon(const QString& iconField);
    // The program and arguments of the entry's Exec, unquoted, with no file or URL in place of
    // the field codes. Empty when Exec is empty or malformed.
    static QStringList commandLine(const DesktopEntry& entry);
    // Starts the entry's program as an application of its own (it outlives this process).
    static bool launch(const DesktopEntry& entry, ProcessLauncher& launcher);

private:
    void refreshIfChanged();

    std::vector<DesktopEntry> entries_;
    Stamps stamps_;
    bool settled_ = false;
    bool loaded_ = false;
};

}  // namespace platform
