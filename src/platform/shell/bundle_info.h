#pragma once

#include <QString>

#include <map>

namespace platform {

// The information dictionary of a bundle (its Contents/Info.plist, XML or binary), read afresh on
// every call: an update may replace the file while the application runs.
class BundleInfo {
public:
    // The string values at the top level of the property list at `path`; empty when the file is
    // missing, unreadable, too large, not a property list or its top level is not a dictionary.
    static std::map<QString, QString> stringValues(const QString& path);
    // Contents/Info.plist of the bundle at `bundlePath`.
    static QString infoPlistPath(const QString& bundlePath);
};

}  // namespace platform
