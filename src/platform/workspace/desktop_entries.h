#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace platform {

// One application entry of the XDG menu (a `.desktop` file).
struct DesktopEntry {
    QString id;  // the file's path under applications/ with '/' as '-', without ".desktop"
    QString name;
    QString icon;  // a theme name or an absolute path
    QString startupWmClass;
};

// The `.desktop` files under $XDG_DATA_HOME and $XDG_DATA_DIRS, read again whenever one of those
// folders changed. An earlier folder hides a later entry with the same id.
class DesktopEntries {
public:
    // A window's entry: by its desktop hint, then by StartupWMClass, then by an id (or its last
    // dotted part) equal to the class or instance, ignoring case.
    std::optional<DesktopEntry> match(const QString& desktopHint, const QString& wmClass, const QString& wmInstance);

    static QStringList directories();
    // The [Desktop Entry] of one file; absent for hidden, non-application or nameless entries.
    static std::optional<DesktopEntry> parse(const QString& path, const QString& id);

private:
    void refreshIfChanged();

    std::vector<DesktopEntry> entries_;
    std::vector<std::pair<QString, QDateTime>> stamps_;
    bool loaded_ = false;
};

}  // namespace platform
