#include "detection/notification_record_decoder.h"

#include <array>

namespace {

const QString kPrefix = QStringLiteral("NotificationDatabaseDetector: ");

constexpr std::array<const char*, 5> kBundleIdKeys = {"identifier", "bundle-id", "bundleId", "bundleIdentifier",
                                                      "bundleID"};

std::optional<QString> firstBundleId(const PropertyList& dictionary) {
    for (const char* key : kBundleIdKeys) {
        auto value = dictionary.textValue(QString::fromLatin1(key));
        if (value && !value->isEmpty()) return value;
    }
    return std::nullopt;
}

bool isBlank(const QString& text) { return text.trimmed().isEmpty(); }

void appendKeys(QStringList& lines, const PropertyList& dictionary, const QString& prefix) {
    QStringList keys;
    for (const auto& [key, value] : dictionary.entries()) keys << u'"' + key + u'"';
    lines << kPrefix + prefix + QStringLiteral(" keys: [") + keys.join(QStringLiteral(", ")) + u']';
    for (const auto& [key, value] : dictionary.entries()) {
        auto text = value.text();
        if (text && !isBlank(*text)) lines << kPrefix + prefix + u'.' + key + QStringLiteral("='") + *text + u'\'';
    }
}

void appendIfText(QStringList& lines, const QString& path, const PropertyList* value) {
    if (!value) return;
    auto text = value->text();
    if (text && !isBlank(*text)) lines << kPrefix + path + QStringLiteral("='") + *text + u'\'';
}

}  // namespace

std::optional<QString> NotificationRecordDecoder::extractBundleId(const PropertyList& root) {
    if (const PropertyList* app = root.dictionaryValue(QStringLiteral("app"))) {
        if (auto found = firstBundleId(*app)) return found;
    }
    return firstBundleId(root);
}

std::optional<QString> NotificationRecordDecoder::chooseMessage(const PropertyList& root,
                                                                const std::optional<QString>& bundleId) {
    const PropertyList* request = root.dictionaryValue(QStringLiteral("req"));
    if (!request) return std::nullopt;
    auto title = request->textValue(QStringLiteral("titl"));
    auto subtitle = request->textValue(QStringLiteral("subt"));
    auto body = request->textValue(QStringLiteral("body"));

    if (bundleId && bundleId->toLower().contains(QStringLiteral("music"))) {
        const QString separator = QStringLiteral(" \u2022 ");
        if (title) {
            if (subtitle) return *title + separator + *subtitle;
            if (body) return *title + separator + *body;
            return title;
        }
        return body ? body : subtitle;
    }
    if (title) return title;
    return body ? body : subtitle;
}

NotificationRecordDecoder::SenderIcon NotificationRecordDecoder::senderIcon(const PropertyList& root) {
    const PropertyList* icon = root.dictionaryValue(QStringLiteral("icon"));
    if (!icon) return {};
    SenderIcon found{icon->textValue(QStringLiteral("name")), icon->dataValue(QStringLiteral("png"))};
    if (found.themedName && found.themedName->isEmpty()) found.themedName.reset();
    if (found.png && found.png->isEmpty()) found.png.reset();
    return found;
}

bool NotificationRecordDecoder::isGenericNotificationMessage(const std::optional<QString>& message) {
    if (!message) return true;
    const QString trimmed = message->trimmed();
    if (trimmed.isEmpty()) return true;
    const QString lower = trimmed.toLower();
    static const std::array<QString, 5> phrases = {
        QStringLiteral("新しい通知があります"), QStringLiteral("新しい通知"), QStringLiteral("you have a new notification"),
        QStringLiteral("new notification"), QStringLiteral("new notifications"),
    };
    for (const QString& phrase : phrases)
        if (lower.contains(phrase)) return true;
    return false;
}

QStringList NotificationRecordDecoder::potentialMessageFieldLines(const PropertyList& root,
                                                                  const std::optional<QString>& bundleId) {
    QStringList lines;
    lines << kPrefix + QStringLiteral("Generic message detected; dumping candidate fields for bundleId='") +
                 bundleId.value_or(QStringLiteral("unknown")) + u'\'';
    appendKeys(lines, root, QStringLiteral("plist"));
    if (const PropertyList* request = root.dictionaryValue(QStringLiteral("req")))
        appendKeys(lines, *request, QStringLiteral("req"));
    if (const PropertyList* aps = root.dictionaryValue(QStringLiteral("aps"))) {
        appendKeys(lines, *aps, QStringLiteral("aps"));
        if (const PropertyList* alert = aps->dictionaryValue(QStringLiteral("alert")))
            appendKeys(lines, *alert, QStringLiteral("aps.alert"));
        else
            appendIfText(lines, QStringLiteral("aps.alert"), aps->value(QStringLiteral("alert")));
    }
    if (const PropertyList* userInfo = root.dictionaryValue(QStringLiteral("userInfo")))
        appendKeys(lines, *userInfo, QStringLiteral("userInfo"));
    if (const PropertyList* meta = root.dictionaryValue(QStringLiteral("meta")))
        appendKeys(lines, *meta, QStringLiteral("meta"));
    return lines;
}
