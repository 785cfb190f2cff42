#pragma once

#include "platform/accessibility/accessibility.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace platform::atspi {

// One accessible object of another process as last read over AT-SPI.
struct MirrorNode {
    QString role;          // AT-SPI role name ("label", "push button", ...)
    QString name;
    QString description;
    QString accessibleId;
    QString text;          // the Text interface's whole text, when the object has one
    std::vector<uint64_t> children;
    bool topLevel = false;  // a window of the application
};

// An application's tree, read whole after each change it announced. Immutable once published:
// readers on any thread hold it through a shared pointer while the reader thread builds the next.
struct Mirror {
    int32_t pid = 0;
    QString busName;        // the application's connection on the accessibility bus
    QString applicationName;
    uint64_t generation = 0;  // changes whenever the content read differs from the previous reading
    std::vector<uint64_t> windows;
    std::unordered_map<uint64_t, MirrorNode> nodes;

    // Whether two readings show the same content (ids, roles, names, texts and structure).
    bool sameContent(const Mirror& other) const;
};

using MirrorPtr = std::shared_ptr<const Mirror>;

// The AX role an AT-SPI role name stands for: lists and trees, groups, images, buttons and texts
// by their AX names; a role without a counterpart gets "AX" followed by its words capitalised.
QString axRole(const QString& atspiRole);

// Reads one attribute of an element of `mirror` under its AX name. The application element (id 0)
// answers "AXRole", "AXTitle", "AXWindows" and "AXChildren". Every window of the application is a
// popup of the notification daemon and reads as a group with a notification subrole.
AXError readAttribute(const Mirror& mirror, uint64_t id, const QString& attribute, AXAttributeValue& value);

}  // namespace platform::atspi
