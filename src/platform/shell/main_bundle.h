#pragma once

#include <QString>

#include <optional>

namespace platform {

// The bundle the app runs from. The executable lives at X.app/Contents/MacOS/<name> with the
// property list at X.app/Contents/Info.plist; the bundle is the X.app folder. An executable that
// does not sit in that shape has its own folder as bundle and no identifier.
class MainBundle {
public:
    MainBundle(std::optional<QString> bundleIdentifier, QString bundlePath)
        : bundleIdentifier_(std::move(bundleIdentifier)), bundlePath_(std::move(bundlePath)) {}

    // Works the bundle out from the executable's path and reads its Info.plist.
    static MainBundle fromExecutable(const QString& executablePath);

    // The bundle of this process (read once), unless a test installed another.
    static const MainBundle& shared();
    // Installs `bundle` (nullptr restores the default); returns the previous one.
    static const MainBundle* setShared(const MainBundle* bundle);

    const std::optional<QString>& bundleIdentifier() const { return bundleIdentifier_; }
    const QString& bundlePath() const { return bundlePath_; }

    // CFBundleIdentifier of an XML property list whose top level is a dictionary; absent when
    // the text is not such a list, the key is missing or its value is not a non-empty string.
    static std::optional<QString> bundleIdentifierFromInfoPlist(const QByteArray& xml);

private:
    std::optional<QString> bundleIdentifier_;
    QString bundlePath_;
};

}  // namespace platform
