#include "platform/notification_store/desktop_notification.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>

namespace platform {

namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kGtk = QStringLiteral("org.gtk.Notifications");
const QString kPortal = QStringLiteral("org.freedesktop.portal.Notification");

QVariant unwrapped(QVariant value) {
    while (value.metaType() == QMetaType::fromType<QDBusVariant>()) value = value.value<QDBusVariant>().variant();
    return value;
}

QString textOf(const QVariantMap& map, const QString& key) {
    const QVariant value = unwrapped(map.value(key));
    return value.metaType() == QMetaType::fromType<QString>() ? value.toString() : QString();
}

QVariantMap mapOf(const QVariant& value) {
    QVariantMap map;
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentSignature() == QLatin1String("a{sv}")) argument >> map;
    }
    return map;
}

// (iiibiiay), as the image-data hint and its older spellings carry it.
std::optional<IconSource> pixelsOf(const QVariant& raw) {
    const QVariant value = unwrapped(raw);
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(iiibiiay)")) return std::nullopt;
    int width = 0, height = 0, rowstride = 0, bits = 0, channels = 0;
    bool alpha = false;
    IconSource source;
    source.kind = IconSource::Kind::pixels;
    argument.beginStructure();
    argument >> width >> height >> rowstride >> alpha >> bits >> channels >> source.pixels.data;
    argument.endStructure();
    source.pixels.width = width;
    source.pixels.height = height;
    source.pixels.rowstride = rowstride;
    source.pixels.hasAlpha = alpha;
    source.pixels.bitsPerSample = bits;
    source.pixels.channels = channels;
    return source;
}

IconSource named(const QString& text, IconSource::Kind kind = IconSource::Kind::nameOrFile) {
    IconSource source;
    source.kind = kind;
    source.text = text;
    return source;
}

// A serialized GIcon: ('themed', <as>), ('file', <s>), ('bytes', <ay>), or a bare name or path.
// Icons passed as file descriptors cannot be kept.
std::vector<IconSource> gIconSources(const QVariant& raw) {
    std::vector<IconSource> sources;
    const QVariant value = unwrapped(raw);
    if (value.metaType() == QMetaType::fromType<QString>()) {
        if (!value.toString().isEmpty()) sources.push_back(named(value.toString()));
        return sources;
    }
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) return sources;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(sv)")) return sources;
    QString kind;
    QDBusVariant inner;
    argument.beginStructure();
    argument >> kind >> inner;
    argument.endStructure();
    const QVariant payload = inner.variant();
    if (kind == QLatin1String("themed")) {
        // Every name is a fallback for the one before; a few are plenty.
        const QStringList names = payload.toStringList();
        for (qsizetype i = 0; i < names.size() && i < 4; ++i) sources.push_back(named(names.at(i)));
    } else if (kind == QLatin1String("file") && payload.metaType() == QMetaType::fromType<QString>()) {
        sources.push_back(named(payload.toString(), IconSource::Kind::file));
    } else if (kind == QLatin1String("bytes") && payload.metaType() == QMetaType::fromType<QByteArray>()) {
        IconSource source;
        source.kind = IconSource::Kind::imageBytes;
        source.bytes = payload.toByteArray();
        sources.push_back(std::move(source));
    }
    return sources;
}

// Notify(s app_name, u replaces_id, s app_icon, s summary, s body, as actions, a{sv} hints, i timeout).
// The desktop's order of preference: image-data, image-path, app_icon, icon_data.
DesktopNotification fromNotify(const QVariantList& args) {
    DesktopNotification n;
    n.appName = cutToUtf8(args.at(0).toString(), DesktopNotification::maxNameBytes);
    n.summary = cutToUtf8(args.at(3).toString(), DesktopNotification::maxTextBytes);
    n.body = cutToUtf8(args.at(4).toString(), DesktopNotification::maxTextBytes);
    const QVariantMap hints = mapOf(args.at(6));
    n.desktopEntry = cutToUtf8(textOf(hints, QStringLiteral("desktop-entry")), DesktopNotification::maxNameBytes);
    for (const char* key : {"image-data", "image_data"}) {
        if (auto pixels = pixelsOf(hints.value(QLatin1String(key)))) n.iconSources.push_back(std::move(*pixels));
    }
    for (const char* key : {"image-path", "image_path"}) {
        const QString path = textOf(hints, QLatin1String(key));
        if (!path.isEmpty()) n.iconSources.push_back(named(path));
    }
    const QString appIcon = args.at(2).toString();
    if (!appIcon.isEmpty()) n.iconSources.push_back(named(appIcon));
    if (auto pixels = pixelsOf(hints.value(QStringLiteral("icon_data")))) n.iconSources.push_back(std::move(*pixels));
    return n;
}

// The notification dictionary of org.gtk.Notifications and the portal: title, body, icon.
void readDictionary(DesktopNotification& n, const QVariantMap& notification) {
    n.summary = cutToUtf8(textOf(notification, QStringLiteral("title")), DesktopNotification::maxTextBytes);
    QString body = textOf(notification, QStringLiteral("body"));
    if (body.isEmpty()) body = textOf(notification, QStringLiteral("markup-body"));
    n.body = cutToUtf8(body, DesktopNotification::maxTextBytes);
    n.iconSources = gIconSources(notification.value(QStringLiteral("icon")));
}

}  // namespace

QString DesktopNotification::bundleIdentifier() const {
    const QString entry = desktopEntry.trimmed();
    return entry.isEmpty() ? appName : entry;
}

QStringList notificationMatchRules() {
    return {QStringLiteral("type='method_call',interface='org.freedesktop.Notifications',member='Notify'"),
            QStringLiteral("type='method_call',interface='org.gtk.Notifications',member='AddNotification'"),
            QStringLiteral("type='method_call',interface='org.freedesktop.portal.Notification',member='AddNotification'")};
}

QString cutToUtf8(const QString& text, qsizetype maxBytes) {
    if (text.size() <= maxBytes / 3) return text;  // three bytes per unit at most
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size();) {
        const char16_t unit = text.at(i).unicode();
        const bool pair = QChar::isHighSurrogate(unit) && i + 1 < text.size() && QChar::isLowSurrogate(text.at(i + 1).unicode());
        const qsizetype size = pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (bytes + size > maxBytes) return text.left(i);
        bytes += size;
        i += pair ? 2 : 1;
    }
    return text;
}

std::optional<DesktopNotification> parseNotificationCall(const QDBusMessage& message) {
    if (message.type() != QDBusMessage::MethodCallMessage) return std::nullopt;
    const QString interface = message.interface();
    const QString member = message.member();
    const QString signature = message.signature();
    std::optional<DesktopNotification> n;
    if (interface == kNotifications && member == QLatin1String("Notify") &&
        signature == QLatin1String("susssasa{sv}i")) {
        n = fromNotify(message.arguments());
    } else if (interface == kGtk && member == QLatin1String("AddNotification") &&
               signature == QLatin1String("ssa{sv}")) {
        // AddNotification(s app_id, s id, a{sv} notification): the application is its desktop entry.
        const QVariantList args = message.arguments();
        n.emplace();
        n->road = DesktopNotification::Road::gtk;
        n->appName = cutToUtf8(args.at(0).toString(), DesktopNotification::maxNameBytes);
        n->desktopEntry = n->appName;
        readDictionary(*n, mapOf(args.at(2)));
    } else if (interface == kPortal && member == QLatin1String("AddNotification") &&
               signature == QLatin1String("sa{sv}")) {
        // AddNotification(s id, a{sv} notification): the application is found from the sender.
        const QVariantList args = message.arguments();
        n.emplace();
        n->road = DesktopNotification::Road::portal;
        readDictionary(*n, mapOf(args.at(1)));
    }
    if (n) {
        n->sender = message.service();
        n->received = std::chrono::steady_clock::now();
    }
    return n;
}

}  // namespace platform
