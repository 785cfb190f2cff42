#pragma once

#include "detection/property_list.h"

#include <QString>
#include <QStringList>

#include <optional>

// Reads the property list stored in a notification record: who posted it and the one line of
// text worth showing. Pure functions; the detector does the logging and publishing.
class NotificationRecordDecoder {
public:
    // The bundle identifier from the record's "app" dictionary, then from the top level; the
    // first non-empty text under the known key names.
    static std::optional<QString> extractBundleId(const PropertyList& root);

    // Title, subtitle and body of the record's request, joined by the rule for music players
    // when the bundle identifier names one.
    static std::optional<QString> chooseMessage(const PropertyList& root, const std::optional<QString>& bundleId);

    // The sender's own icon as the desktop recorder keeps it under "icon": a name in the icon
    // theme or PNG bytes; both absent when the record holds none.
    struct SenderIcon {
        std::optional<QString> themedName;
        std::optional<QByteArray> png;
    };
    static SenderIcon senderIcon(const PropertyList& root);

    // Absent, blank, or a stock "you have a new notification" text.
    static bool isGenericNotificationMessage(const std::optional<QString>& message);

    // The debug lines that describe a record whose message was generic, to help read new layouts.
    static QStringList potentialMessageFieldLines(const PropertyList& root, const std::optional<QString>& bundleId);
};
