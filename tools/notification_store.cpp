#include "tools/notification_store.h"

#include <plist/plist.h>

#include <cstdlib>

namespace notificationstore {

namespace {

plist_t toNode(const PropertyList& value) {
    switch (value.kind()) {
    case PropertyList::Kind::text:
        return plist_new_string(value.text()->toUtf8().constData());
    case PropertyList::Kind::dictionary: {
        plist_t dict = plist_new_dict();
        for (const auto& [key, item] : value.entries()) plist_dict_set_item(dict, key.toUtf8().constData(), toNode(item));
        return dict;
    }
    case PropertyList::Kind::data: {
        const QByteArray bytes = *value.data();
        return plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size()));
    }
    case PropertyList::Kind::other:
        break;
    }
    return plist_new_uint(1);
}

}  // namespace

QByteArray encodePropertyList(const PropertyList& value, Encoding encoding) {
    plist_t root = toNode(value);
    char* bytes = nullptr;
    uint32_t length = 0;
    if (encoding == Encoding::binary)
        plist_to_bin(root, &bytes, &length);
    else
        plist_to_xml(root, &bytes, &length);
    QByteArray out(bytes, static_cast<qsizetype>(length));
    std::free(bytes);
    plist_free(root);
    return out;
}

PropertyList notificationRecord(const QString& bundleId, const std::optional<QString>& title,
                                const std::optional<QString>& subtitle, const std::optional<QString>& body) {
    std::vector<std::pair<QString, PropertyList>> request;
    if (title) request.emplace_back(QStringLiteral("titl"), PropertyList::makeText(*title));
    if (subtitle) request.emplace_back(QStringLiteral("subt"), PropertyList::makeText(*subtitle));
    if (body) request.emplace_back(QStringLiteral("body"), PropertyList::makeText(*body));
    return PropertyList::makeDictionary({
        {QStringLiteral("identifier"), PropertyList::makeText(bundleId)},
        {QStringLiteral("req"), PropertyList::makeDictionary(std::move(request))},
    });
}

}  // namespace notificationstore
