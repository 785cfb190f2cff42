#include "platform/accessibility/atspi_mirror.h"

#include <QHash>
#include <QStringList>

namespace platform::atspi {

namespace {

bool sameNode(const MirrorNode& a, const MirrorNode& b) {
    return a.role == b.role && a.name == b.name && a.description == b.description &&
           a.accessibleId == b.accessibleId && a.text == b.text && a.children == b.children && a.topLevel == b.topLevel;
}

AXError text(const QString& s, AXAttributeValue& value) {
    if (s.isEmpty()) return AXError::NoValue;
    value = s;
    return AXError::Success;
}

AXError elements(const Mirror& mirror, const std::vector<uint64_t>& ids, AXAttributeValue& value) {
    AXElementList list;
    list.reserve(ids.size());
    for (uint64_t id : ids) list.emplace_back(mirror.pid, id);
    value = std::move(list);
    return AXError::Success;
}

}  // namespace

bool Mirror::sameContent(const Mirror& other) const {
    if (windows != other.windows || applicationName != other.applicationName || nodes.size() != other.nodes.size())
        return false;
    for (const auto& [id, node] : nodes) {
        auto it = other.nodes.find(id);
        if (it == other.nodes.end() || !sameNode(node, it->second)) return false;
    }
    return true;
}

QString axRole(const QString& atspiRole) {
    static const QHash<QString, QString> table{
        {QStringLiteral("list"), QStringLiteral("AXList")},
        {QStringLiteral("list box"), QStringLiteral("AXList")},
        {QStringLiteral("table"), QStringLiteral("AXList")},
        {QStringLiteral("tree"), QStringLiteral("AXOutline")},
        {QStringLiteral("tree table"), QStringLiteral("AXOutline")},
        {QStringLiteral("filler"), QStringLiteral("AXGroup")},
        {QStringLiteral("panel"), QStringLiteral("AXGroup")},
        {QStringLiteral("section"), QStringLiteral("AXGroup")},
        {QStringLiteral("grouping"), QStringLiteral("AXGroup")},
        {QStringLiteral("alert"), QStringLiteral("AXGroup")},
        {QStringLiteral("notification"), QStringLiteral("AXGroup")},
        {QStringLiteral("icon"), QStringLiteral("AXImage")},
        {QStringLiteral("image"), QStringLiteral("AXImage")},
        {QStringLiteral("push button"), QStringLiteral("AXButton")},
        {QStringLiteral("button"), QStringLiteral("AXButton")},
        {QStringLiteral("label"), QStringLiteral("AXStaticText")},
        {QStringLiteral("static"), QStringLiteral("AXStaticText")},
        {QStringLiteral("text"), QStringLiteral("AXTextArea")},
        {QStringLiteral("frame"), QStringLiteral("AXWindow")},
        {QStringLiteral("window"), QStringLiteral("AXWindow")},
    };
    if (auto it = table.constFind(atspiRole); it != table.constEnd()) return *it;
    QString camel = QStringLiteral("AX");
    for (const QString& word : atspiRole.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        camel += word.left(1).toUpper() + word.mid(1);
    return camel == QLatin1String("AX") ? QStringLiteral("AXUnknown") : camel;
}

AXError readAttribute(const Mirror& mirror, uint64_t id, const QString& attribute, AXAttributeValue& value) {
    if (id == 0) {
        if (attribute == QLatin1String("AXRole")) return text(QStringLiteral("AXApplication"), value);
        if (attribute == QLatin1String("AXTitle")) return text(mirror.applicationName, value);
        if (attribute == QLatin1String("AXWindows") || attribute == QLatin1String("AXChildren"))
            return elements(mirror, mirror.windows, value);
        return AXError::AttributeUnsupported;
    }
    auto it = mirror.nodes.find(id);
    if (it == mirror.nodes.end()) return AXError::InvalidUIElement;
    const MirrorNode& node = it->second;
    if (attribute == QLatin1String("AXRole")) return text(node.topLevel ? QStringLiteral("AXGroup") : axRole(node.role), value);
    if (attribute == QLatin1String("AXSubrole")) {
        const bool popup = node.topLevel || node.role == QLatin1String("alert") || node.role == QLatin1String("notification");
        return popup ? text(QStringLiteral("AXNotification"), value) : AXError::NoValue;
    }
    if (attribute == QLatin1String("AXTitle")) return text(node.name, value);
    if (attribute == QLatin1String("AXValue")) return text(node.text, value);
    if (attribute == QLatin1String("AXDescription")) return text(node.description, value);
    if (attribute == QLatin1String("AXIdentifier")) return text(node.accessibleId, value);
    if (attribute == QLatin1String("AXChildren")) return elements(mirror, node.children, value);
    // AT-SPI carries no image data: an icon is only ever named, never drawn.
    return AXError::AttributeUnsupported;
}

}  // namespace platform::atspi
